// SPDX-License-Identifier: GPL-3.0-or-later
#include "cards/CardDesignerWindow.h"

#include "ui_CardDesignerWindow.h"

#include "platform/widgets/AppContext.h"
#include "platform/widgets/Navigator.h"

CardDesignerWindow::CardDesignerWindow(AppContext& context, QWidget* parent)
    : QWidget(parent)
    , m_context(context)
    , m_ui(std::make_unique<Ui::CardDesignerWindow>())
{
    m_ui->setupUi(this);
    connect(m_ui->按钮6, &QPushButton::clicked, this,
            [this] { m_context.navigator.open(WindowKind::CardPreview, this); });
}

CardDesignerWindow::~CardDesignerWindow() = default;
