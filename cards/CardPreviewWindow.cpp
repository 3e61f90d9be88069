// SPDX-License-Identifier: GPL-3.0-or-later
#include "cards/CardPreviewWindow.h"

#include "ui_CardPreviewWindow.h"

#include "archive/StudentTable.h"
#include "cards/SheetGrid.h"
#include "cards/pages/SheetRenderer.h"
#include "formats/SettingText.h"
#include "widgets/AppContext.h"
#include "widgets/Dialogs.h"
#include "widgets/PrintPreview.h"

#include <QGuiApplication>
#include <QPrinter>

CardPreviewWindow::CardPreviewWindow(AppContext& context, QWidget* parent)
    : QWidget(parent)
    , m_context(context)
    , m_ui(std::make_unique<Ui::CardPreviewWindow>())
{
    m_ui->setupUi(this);
    SheetGrid::define(*m_ui->高级表格1);
    connect(m_ui->按钮1, &QPushButton::clicked, this, &CardPreviewWindow::showAll);
    connect(m_ui->按钮7, &QPushButton::clicked, this, &CardPreviewWindow::showClass);
    connect(m_ui->按钮4, &QPushButton::clicked, this, &CardPreviewWindow::showNumberOrName);
    connect(m_ui->按钮5, &QPushButton::clicked, this, &CardPreviewWindow::copyCard);
    connect(m_ui->按钮6, &QPushButton::clicked, this, &CardPreviewWindow::pasteCard);
    connect(m_ui->按钮8, &QPushButton::clicked, this, &CardPreviewWindow::saveCardSize);
    connect(m_ui->按钮3, &QPushButton::clicked, this, &CardPreviewWindow::print);
    connect(m_ui->按钮2, &QPushButton::clicked, this, &CardPreviewWindow::printPreview);
    open();
}

CardPreviewWindow::~CardPreviewWindow() = default;

void CardPreviewWindow::open()
{
    m_ui->组合框1->clear();
    m_ui->组合框1->addItems(m_context.classList);
    m_ui->组合框1->setCurrentIndex(m_context.classList.isEmpty() ? -1 : 0);

    m_cardSize = CardSheet::loadCardSize(m_context.appFolder);
    m_ui->编辑框2->setText(SettingText::fromInteger(m_cardSize.width));
    m_ui->编辑框3->setText(SettingText::fromInteger(m_cardSize.height));

    m_composer.emplace(CardLayout::load(m_context.appFolder));
    m_connection.close();
    StudentTable::openArchive(m_connection, m_context.databaseFile());
    m_records.attach(m_connection);
    showClass();
}

void CardPreviewWindow::showAll() { showSelection(StudentTable::selectAll, QStringLiteral("全部证件")); }

void CardPreviewWindow::showClass()
{
    const QString className = m_ui->组合框1->currentText();
    showSelection(StudentTable::selectClass(className), className + QStringLiteral("的证件"));
}

void CardPreviewWindow::showNumberOrName()
{
    showSelection(StudentTable::selectNumberOrName(m_ui->编辑框1->text()), QStringLiteral("个人证件"));
}

void CardPreviewWindow::showSelection(const QString& sql, const QString& title)
{
    // A whole school's sheet takes a moment to compose.
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    m_records.open(sql);
    QStringList unreadablePhotos;
    CardSheet sheet;
    sheet.fill(m_records, *m_composer, m_cardSize, &unreadablePhotos);
    SheetGrid::show(sheet, *m_ui->高级表格1);
    // The new cards start at the top, not where the last selection was scrolled to.
    m_ui->高级表格1->scrollToTop();
    QGuiApplication::restoreOverrideCursor();
    // A card without its photo is named, so it is not printed unnoticed.
    QString status = title;
    if (unreadablePhotos.size() == 1)
        status += QStringLiteral("　") + unreadablePhotos.front();
    else if (unreadablePhotos.size() > 1)
        status += QStringLiteral("　%1 名学生的照片无法显示，如%2")
                      .arg(unreadablePhotos.size())
                      .arg(unreadablePhotos.front());
    m_ui->标签1->setText(status);
    m_ui->标签1->setToolTip(unreadablePhotos.join(u'\n'));
}

void CardPreviewWindow::copyCard()
{
    const AdvancedGrid& grid = *m_ui->高级表格1;
    const GridCell cell = grid.getCell(grid.cursorRow(), grid.cursorColumn());
    // A cell without a card leaves the copied card as it was.
    if (cell.holdsPicture())
        m_context.copiedCard = cell;
}

void CardPreviewWindow::pasteCard()
{
    AdvancedGrid& grid = *m_ui->高级表格1;
    // Before any copy the copied card is an empty picture: the cell then shows nothing.
    grid.setCell(grid.cursorRow(), grid.cursorColumn(), m_context.copiedCard);
}

void CardPreviewWindow::saveCardSize()
{
    m_cardSize.width = SettingText::toInteger(m_ui->编辑框2->text());
    if (m_cardSize.width > CardSheet::maxCardWidth) {
        m_cardSize.width = CardSheet::maxCardWidth;
        m_ui->编辑框2->setText(SettingText::fromInteger(m_cardSize.width));
    }
    m_cardSize.height = SettingText::toInteger(m_ui->编辑框3->text());
    if (m_cardSize.height > CardSheet::maxCardHeight) {
        m_cardSize.height = CardSheet::maxCardHeight;
        m_ui->编辑框3->setText(SettingText::fromInteger(m_cardSize.height));
    }
    CardSheet::saveCardSize(m_context.appFolder, m_cardSize);
    open();
}

// What is printed is the sheet as the grid shows it now, pasted cards included.
void CardPreviewWindow::print()
{
    const CardSheet sheet = SheetGrid::read(*m_ui->高级表格1);
    const SheetRenderer renderer(sheet, paper());
    QPrinter printer(QPrinter::HighResolution);
    suggestPaper(printer, renderer);
    if (m_context.dialogs.setUpPrinter(this, printer))
        renderer.print(printer, pdfFileOf(printer));
}

void CardPreviewWindow::printPreview()
{
    const CardSheet sheet = SheetGrid::read(*m_ui->高级表格1);
    const SheetRenderer renderer(sheet, paper());
    QPrinter printer(QPrinter::HighResolution);
    suggestPaper(printer, renderer);
    m_context.dialogs.showPrintPreview(this, printer, renderer.pages());
}

SheetRenderer::Paper CardPreviewWindow::paper() const
{
    return m_ui->选择框1->isChecked() ? SheetRenderer::Paper::CardPrinter : SheetRenderer::Paper::Sheets;
}

void CardPreviewWindow::suggestPaper(QPrinter& printer, const SheetRenderer& renderer) const
{
    // A card printer's page is the card; on sheets only the orientation is suggested, and the
    // paper and margins are the printer's own.
    if (paper() == SheetRenderer::Paper::CardPrinter)
        printer.setPageLayout(renderer.defaultPageLayout());
    else
        printer.setPageOrientation(renderer.defaultPageLayout().orientation());
}
