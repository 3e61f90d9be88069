// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchange/DatabaseAdminWindow.h"

#include "ui_DatabaseAdminWindow.h"

DatabaseAdminWindow::DatabaseAdminWindow(AppContext& context, QWidget* parent)
    : QWidget(parent)
    , m_context(context)
    , m_ui(std::make_unique<Ui::DatabaseAdminWindow>())
{
    m_ui->setupUi(this);
}

DatabaseAdminWindow::~DatabaseAdminWindow() = default;
