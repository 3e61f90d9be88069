// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

class DatabaseConnection;
class Recordset;

// The running part of a student number: i in decimal, zero-filled to at least `digits`
// places as printf's "%0<digits>d" fills it, never cut. A digit count that is not a plain
// decimal number gives i without fill.
QString numberPart(int i, QStringView digits);

// The number of the i-th student (counted from 1): the prefix as typed, then the running part.
QString studentNumber(QStringView prefix, QStringView digits, int i);

// Writes `numbers` into 编号 of the records that `query` selects, in the order it returns
// them, in one transaction: a class of thousands commits at once, and a failure stores
// none of them. Leaves `records` on the first record of the query.
bool writeStudentNumbers(DatabaseConnection& database, Recordset& records, const QString& query,
                         const QStringList& numbers, QString* error = nullptr);
