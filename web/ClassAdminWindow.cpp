// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/ClassAdminWindow.h"

#include "ui_ClassAdminWindow.h"

#include "web/ClassAccounts.h"
#include "widgets/AppContext.h"
#include "widgets/Dialogs.h"

namespace {

constexpr int headerRow = 0;
const QStringList headerTexts{QStringLiteral("所属单位"), QStringLiteral("管理者"), QStringLiteral("密码")};

} // namespace

ClassAdminWindow::ClassAdminWindow(AppContext& context, QWidget* parent)
    : QWidget(parent)
    , m_context(context)
    , m_ui(std::make_unique<Ui::ClassAdminWindow>())
{
    m_ui->setupUi(this);
    connect(m_ui->按钮2, &QPushButton::clicked, this, &ClassAdminWindow::addRow);
    connect(m_ui->按钮3, &QPushButton::clicked, this, &ClassAdminWindow::insertRow);
    connect(m_ui->按钮4, &QPushButton::clicked, this, &ClassAdminWindow::deleteRow);
    connect(m_ui->按钮1, &QPushButton::clicked, this, &ClassAdminWindow::save);
    load();
}

ClassAdminWindow::~ClassAdminWindow() = default;

void ClassAdminWindow::load()
{
    AdvancedGrid* grid = m_ui->高级表格1;
    const QList<ClassAccount> accounts = ClassAccounts::load(m_context.databaseFile());
    grid->setRowCount(int(accounts.size()) + 1);
    for (int column = 0; column < int(headerTexts.size()); ++column) {
        grid->setCell(headerRow, column, GridCell::fromText(headerTexts[column]));
        // The header is never stored, so typing into it would only be lost.
        QTableWidgetItem* item = grid->item(headerRow, column);
        item->setFlags(item->flags() & ~Qt::ItemIsEditable);
        QFont font = item->font();
        font.setBold(true);
        item->setFont(font);
    }
    formatRows(0, grid->rowCount());
    for (int i = 0; i < int(accounts.size()); ++i) {
        const ClassAccount& account = accounts[i];
        grid->setCell(i + 1, 0, GridCell::fromText(account.单位));
        grid->setCell(i + 1, 1, GridCell::fromText(account.帐号));
        grid->setCell(i + 1, 2, GridCell::fromText(account.密码));
    }
}

void ClassAdminWindow::formatRows(int first, int count)
{
    constexpr int allBorders = 9;
    m_ui->高级表格1->formatRange(first, 0, count, allBorders, AdvancedGrid::centredStyle);
}

int ClassAdminWindow::selectedDataRow() const
{
    const int row = m_ui->高级表格1->cursorRow();
    return row > headerRow ? row : 0;
}

void ClassAdminWindow::addRow()
{
    AdvancedGrid* grid = m_ui->高级表格1;
    grid->setRowCount(grid->rowCount() + 1);
    formatRows(grid->rowCount() - 1, 1);
}

// Both refuse the header row: inserting there would store the header as a class, deleting
// it would put the first class where saving skips it.
void ClassAdminWindow::insertRow()
{
    if (const int row = selectedDataRow()) {
        m_ui->高级表格1->insertRow(row);
        formatRows(row, 1);
    }
}

void ClassAdminWindow::deleteRow()
{
    if (const int row = selectedDataRow())
        m_ui->高级表格1->deleteRow(row);
}

void ClassAdminWindow::save()
{
    AdvancedGrid* grid = m_ui->高级表格1;
    grid->commitEditing();
    QList<ClassAccount> accounts;
    QStringList classes;
    for (int row = headerRow + 1; row < grid->rowCount(); ++row) {
        accounts.append({grid->getCell(row, 0).text, grid->getCell(row, 1).text, grid->getCell(row, 2).text});
        classes.append(accounts.last().单位);
    }
    QString error;
    if (!ClassAccounts::save(m_context.databaseFile(), accounts, &error)) {
        m_context.dialogs.message(this, QStringLiteral("保存失败：") + error, {}, MessageIcon::Warning);
        return;
    }
    m_context.dialogs.message(this, QStringLiteral("保存成功!"));
    m_context.setClassList(classes);
    close();
}
