// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

#include <memory>

class AppContext;
namespace Ui {
class WebSettingsWindow;
}

class WebSettingsWindow : public QWidget {
    Q_OBJECT
public:
    explicit WebSettingsWindow(AppContext& context, QWidget* parent = nullptr);
    ~WebSettingsWindow() override;

private:
    AppContext& m_context;
    std::unique_ptr<Ui::WebSettingsWindow> m_ui;
};
