// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchange/Roster.h"

#include "archive/DatabaseConnection.h"
#include "archive/Recordset.h"
#include "archive/SqlText.h"
#include "archive/workbook/WorkbookSource.h"
#include "formats/workbook/NewWorkbook.h"

#include <QFileInfo>

namespace {
const QString excelDriver = QStringLiteral(";DefaultDir=;Driver={Microsoft Excel Driver (*.xls)}");
}

namespace Roster {

QString classRoster(QStringView className)
{
    return QStringLiteral("select  * from [Sheet1$]  where 班级='") + sqlQuoted(className)
           + QStringLiteral("' and 姓名 IS NOT NULL");
}

QString studentRow(QStringView className, QStringView name, QStringView number)
{
    return QStringLiteral("select  * from [Sheet1$] where 班级='") + sqlQuoted(className)
           + QStringLiteral("' and 姓名='") + sqlQuoted(name) + QStringLiteral("'and 编号='")
           + sqlQuoted(number) + u'\'';
}

QString readConnection(const QString& path) { return QStringLiteral("DBQ=") + path + excelDriver; }

QString writeConnection(const QString& path)
{
    return QStringLiteral("ReadOnly=0;DBQ=") + path + excelDriver;
}

QString fixedFile(const QString& appFolder)
{
    const QString xls = appFolder + QStringLiteral("/学生名单.xls");
    const QString xlsx = appFolder + QStringLiteral("/学生名单.xlsx");
    return !QFileInfo::exists(xls) && QFileInfo::exists(xlsx) ? xlsx : xls;
}

bool hasRosterHeader(const Recordset& roster)
{
    int found = 0;
    for (int i = 0; i < roster.fieldCount(); ++i) {
        const QString name = roster.fieldName(i);
        found += name == u"姓名" ? 1 : 0;
        found += name == u"班级" ? 1 : 0;
        found += name == u"编号" ? 1 : 0;
    }
    return found == 3;
}

NewWorkbook blankRoster()
{
    NewWorkbook book;
    book.setCell(0, 0, QStringLiteral("姓名"));
    book.setCell(0, 1, QStringLiteral("班级"));
    book.setCell(0, 2, QStringLiteral("编号"));
    return book;
}

bool markDone(const QString& path, const QString& className, const QString& name, const QString& number,
              QString* error)
{
    if (path.isEmpty())
        return true; // no roster was loaded from a file, so none keeps the row
    DatabaseConnection workbook;
    if (!workbook.openConnectionString(writeConnection(path), WorkbookSource::open)) {
        *error = workbook.lastError();
        return false;
    }
    Recordset row;
    row.attach(workbook);
    if (!row.open(studentRow(className, name, number))) {
        *error = row.lastError();
        return false;
    }
    if (row.recordCount() == 0) {
        *error = QStringLiteral("名单中已经没有这名学生（%1 %2 %3）").arg(className, name, number);
        return false;
    }
    if (!row.writeText(u"姓名", {}) || !row.writeText(u"班级", {}) || !row.writeText(u"编号", {})
        || !row.update()) {
        *error = row.lastError();
        return false;
    }
    return true;
}

} // namespace Roster
