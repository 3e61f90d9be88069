// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class Recordset;
class NewWorkbook;

// The roster workbook: a class teacher's list of the students still to be photographed, read
// through the spreadsheet data source with the office's own SQL texts.
namespace Roster {

inline const QString wholeRoster = QStringLiteral("select  * from [Sheet1$] where 姓名 IS NOT NULL");
QString classRoster(QStringView className);
QString studentRow(QStringView className, QStringView name, QStringView number);

QString readConnection(const QString& path);
QString writeConnection(const QString& path);

// The roster the program folder keeps: 学生名单.xls, or 学生名单.xlsx when only that exists.
QString fixedFile(const QString& appFolder);

// The header the roster needs, each of 姓名, 班级 and 编号 once, in any order.
bool hasRosterHeader(const Recordset& roster);

// The template the operator fills in: the three header cells alone.
NewWorkbook blankRoster();

// Blanks the first row of that student, so the roster does not offer the student again.
// False with the reason when the row could not be blanked; an empty path has nothing to blank.
bool markDone(const QString& path, const QString& className, const QString& name, const QString& number,
              QString* error);

} // namespace Roster
