// SPDX-License-Identifier: GPL-3.0-or-later
#include "records/RecordEditorWindow.h"

#include "ui_RecordEditorWindow.h"

#include "platform/widgets/AppContext.h"
#include "platform/widgets/Navigator.h"

RecordEditorWindow::RecordEditorWindow(AppContext& context, QWidget* parent)
    : QWidget(parent)
    , m_context(context)
    , m_ui(std::make_unique<Ui::RecordEditorWindow>())
{
    m_ui->setupUi(this);
    connect(m_ui->按钮12, &QPushButton::clicked, this,
            [this] { m_context.navigator.open(WindowKind::DatabaseAdmin, this); });
}

RecordEditorWindow::~RecordEditorWindow() = default;
