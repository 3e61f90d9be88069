// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/WebSettingsWindow.h"

#include "ui_WebSettingsWindow.h"

WebSettingsWindow::WebSettingsWindow(AppContext& context, QWidget* parent)
    : QWidget(parent)
    , m_context(context)
    , m_ui(std::make_unique<Ui::WebSettingsWindow>())
{
    m_ui->setupUi(this);
}

WebSettingsWindow::~WebSettingsWindow() = default;
