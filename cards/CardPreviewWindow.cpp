// SPDX-License-Identifier: GPL-3.0-or-later
#include "cards/CardPreviewWindow.h"

#include "ui_CardPreviewWindow.h"

CardPreviewWindow::CardPreviewWindow(AppContext& context, QWidget* parent)
    : QWidget(parent)
    , m_context(context)
    , m_ui(std::make_unique<Ui::CardPreviewWindow>())
{
    m_ui->setupUi(this);
}

CardPreviewWindow::~CardPreviewWindow() = default;
