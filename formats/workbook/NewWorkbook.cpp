// SPDX-License-Identifier: GPL-3.0-or-later
#include "formats/workbook/NewWorkbook.h"

#include "formats/workbook/ZipPackage.h"

#include <QFile>

#include <xlsxwriter.h>

namespace {

bool writeWorkbook(const NewWorkbook& book, const QString& path, QString* error)
{
    lxw_workbook* workbook = workbook_new(QFile::encodeName(path).constData());
    lxw_worksheet* sheet = workbook ? workbook_add_worksheet(workbook, nullptr) : nullptr;
    if (!sheet) {
        *error = QStringLiteral("无法建立工作簿");
        if (workbook)
            workbook_close(workbook);
        return false;
    }
    lxw_format* centred = workbook_add_format(workbook);
    format_set_align(centred, LXW_ALIGN_CENTER);
    lxw_format* wrapped = workbook_add_format(workbook);
    format_set_text_wrap(wrapped);
    lxw_format* centredWrapped = workbook_add_format(workbook);
    format_set_align(centredWrapped, LXW_ALIGN_CENTER);
    format_set_text_wrap(centredWrapped);

    for (const auto& [column, width] : book.columnWidths())
        worksheet_set_column(sheet, lxw_col_t(column), lxw_col_t(column), width, nullptr);
    for (const auto& [at, cell] : book.cells()) {
        QString text = cell.text;
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        // Remarks of several lines stay one cell, shown with their line breaks.
        const bool lines = text.contains(u'\n');
        lxw_format* format = cell.centred ? (lines ? centredWrapped : centred) : (lines ? wrapped : nullptr);
        worksheet_write_string(sheet, lxw_row_t(at.first), lxw_col_t(at.second), text.toUtf8().constData(),
                               format);
    }
    const lxw_error result = workbook_close(workbook);
    if (result != LXW_NO_ERROR) {
        *error = QStringLiteral("工作簿写不出来：") + QString::fromUtf8(lxw_strerror(result));
        return false;
    }
    return true;
}

} // namespace

void NewWorkbook::setCell(int row, int column, const QString& text, bool centred)
{
    m_cells[{row, column}] = {text, centred};
}

void NewWorkbook::setColumnWidth(int column, double characters) { m_widths[column] = characters; }

bool NewWorkbook::writeTemplate(const QString& path, QString* error) const
{
    if (!writeWorkbook(*this, path, error))
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    ZipPackage package;
    if (!package.open(file.readAll(), error))
        return false;
    file.close();
    // What makes a template is the content type of its workbook part.
    const QString types = QStringLiteral("[Content_Types].xml");
    QByteArray contentTypes = package.read(types).value_or(QByteArray());
    const QByteArray workbookType("spreadsheetml.sheet.main+xml");
    if (!contentTypes.contains(workbookType)) {
        *error = QStringLiteral("工作簿的内容类型不对");
        return false;
    }
    contentTypes.replace(workbookType, QByteArray("spreadsheetml.template.main+xml"));
    package.replace(types, contentTypes);
    QByteArray bytes;
    if (!package.save(&bytes, error))
        return false;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()
        || !file.flush()) {
        *error = file.errorString();
        return false;
    }
    return true;
}
