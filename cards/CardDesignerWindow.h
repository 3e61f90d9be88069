// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

#include <memory>

class AppContext;
namespace Ui {
class CardDesignerWindow;
}

class CardDesignerWindow : public QWidget {
    Q_OBJECT
public:
    explicit CardDesignerWindow(AppContext& context, QWidget* parent = nullptr);
    ~CardDesignerWindow() override;

private:
    AppContext& m_context;
    std::unique_ptr<Ui::CardDesignerWindow> m_ui;
};
