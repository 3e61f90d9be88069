// SPDX-License-Identifier: GPL-3.0-or-later
#include "formats/workbook/Workbook.h"

#include "formats/workbook/Biff8.h"
#include "formats/workbook/OleFile.h"
#include "formats/workbook/XlsxFile.h"

namespace {

enum class Kind { Xls, Xlsx, Unknown };

Kind kindOf(const QByteArray& file)
{
    if (file.startsWith("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"))
        return Kind::Xls;
    if (file.startsWith("PK\x03\x04"))
        return Kind::Xlsx;
    return Kind::Unknown;
}

bool sameCells(const WorksheetCells& a, const WorksheetCells& b)
{
    const size_t rows = std::max(a.rows.size(), b.rows.size());
    for (size_t r = 0; r < rows; ++r) {
        const size_t columns =
            std::max(r < a.rows.size() ? a.rows[r].size() : 0, r < b.rows.size() ? b.rows[r].size() : 0);
        for (size_t c = 0; c < columns; ++c) {
            if (a.text(int(r), int(c)) != b.text(int(r), int(c)))
                return false;
        }
    }
    return true;
}

} // namespace

namespace Workbook {

bool readSheet(const QByteArray& file, const QString& preferred, WorksheetCells* sheet, QString* error)
{
    switch (kindOf(file)) {
    case Kind::Xls: {
        QByteArray stream;
        return OleFile::readWorkbookStream(file, &stream, error)
               && Biff8::readSheet(stream, preferred, sheet, error);
    }
    case Kind::Xlsx:
        return XlsxFile::readSheet(file, preferred, sheet, error);
    case Kind::Unknown:
        break;
    }
    *error = QStringLiteral("不是Excel工作簿（.xls或.xlsx）");
    return false;
}

bool blankCells(const QByteArray& file, const WorksheetCells& sheet, const std::vector<CellAddress>& cells,
                QByteArray* result, QString* error)
{
    QByteArray changed;
    switch (kindOf(file)) {
    case Kind::Xls: {
        QByteArray stream, blanked;
        if (!OleFile::readWorkbookStream(file, &stream, error)
            || !Biff8::blankCells(stream, sheet.sheetName, cells, &blanked, error)
            || !OleFile::replaceWorkbookStream(file, blanked, &changed, error))
            return false;
        break;
    }
    case Kind::Xlsx:
        if (!XlsxFile::blankCells(file, sheet.sheetName, cells, &changed, error))
            return false;
        break;
    case Kind::Unknown:
        *error = QStringLiteral("不是Excel工作簿（.xls或.xlsx）");
        return false;
    }

    WorksheetCells expected = sheet;
    for (const CellAddress& cell : cells)
        expected.set(cell.row, cell.column, QString());
    WorksheetCells written;
    QString unreadable;
    if (!readSheet(changed, sheet.sheetName, &written, &unreadable) || written.sheetName != sheet.sheetName
        || !sameCells(written, expected)) {
        *error = QStringLiteral("改写后的工作簿与原来的内容对不上，没有写入");
        return false;
    }
    *result = changed;
    return true;
}

} // namespace Workbook
