// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

#include <memory>

class AppContext;
namespace Ui {
class RecordEditorWindow;
}

class RecordEditorWindow : public QWidget {
    Q_OBJECT
public:
    explicit RecordEditorWindow(AppContext& context, QWidget* parent = nullptr);
    ~RecordEditorWindow() override;

private:
    AppContext& m_context;
    std::unique_ptr<Ui::RecordEditorWindow> m_ui;
};
