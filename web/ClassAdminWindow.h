// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

#include <memory>

class AppContext;
namespace Ui {
class ClassAdminWindow;
}

class ClassAdminWindow : public QWidget {
    Q_OBJECT
public:
    explicit ClassAdminWindow(AppContext& context, QWidget* parent = nullptr);
    ~ClassAdminWindow() override;

private:
    AppContext& m_context;
    std::unique_ptr<Ui::ClassAdminWindow> m_ui;
};
