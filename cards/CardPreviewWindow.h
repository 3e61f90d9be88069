// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

#include <memory>

class AppContext;
namespace Ui {
class CardPreviewWindow;
}

class CardPreviewWindow : public QWidget {
    Q_OBJECT
public:
    explicit CardPreviewWindow(AppContext& context, QWidget* parent = nullptr);
    ~CardPreviewWindow() override;

private:
    AppContext& m_context;
    std::unique_ptr<Ui::CardPreviewWindow> m_ui;
};
