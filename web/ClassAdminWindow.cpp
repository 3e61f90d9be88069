// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/ClassAdminWindow.h"

#include "ui_ClassAdminWindow.h"

ClassAdminWindow::ClassAdminWindow(AppContext& context, QWidget* parent)
    : QWidget(parent)
    , m_context(context)
    , m_ui(std::make_unique<Ui::ClassAdminWindow>())
{
    m_ui->setupUi(this);
}

ClassAdminWindow::~ClassAdminWindow() = default;
