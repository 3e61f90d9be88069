// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchange/ListExport.h"

#include "archive/Recordset.h"
#include "formats/Gbk.h"

#include <array>

namespace {

struct Column {
    const char16_t* header;
    const char16_t* field;
    bool centred;
    double width; // 0: the spreadsheet's own
};

constexpr std::array<Column, 9> columns{{
    {u"姓名", u"姓名", true, 0},
    {u"班级", u"班级", false, 0},
    {u"编号", u"编号", false, 15},
    {u"性别", u"性别", true, 0},
    {u"出生年月", u"出生年月", true, 0},
    {u"家庭住址", u"住址", false, 40},
    {u"电话", u"电话", false, 15},
    {u"简介", u"简介", false, 0},
    {u"选项", u"选项", false, 0},
}};

} // namespace

NewWorkbook ListExport::studentList(Recordset& students)
{
    NewWorkbook book;
    for (int c = 0; c < int(columns.size()); ++c) {
        book.setCell(0, c, QString::fromUtf16(columns[size_t(c)].header), true);
        if (columns[size_t(c)].width > 0)
            book.setColumnWidth(c, columns[size_t(c)].width);
    }
    students.moveFirst();
    for (int k = 1, n = students.recordCount(); k <= n; ++k) {
        for (int c = 0; c < int(columns.size()); ++c) {
            const Column& column = columns[size_t(c)];
            const QStringView field(column.field);
            // Remarks are stored as the GBK bytes of their text.
            const QString text =
                field == u"简介" ? gbk::decode(students.readBytes(field)) : students.readText(field);
            book.setCell(k, c, text, column.centred);
        }
        students.moveNext();
    }
    return book;
}
