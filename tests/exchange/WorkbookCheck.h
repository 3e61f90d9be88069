// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

// Workbooks as another program sees them, for holding a rewritten file against its original.
namespace WorkbookCheck {

QString dataFile(const QString& name);
// Copies a test workbook into `folder` under `name` (its own name when empty).
QString copy(const QString& dataName, const QString& folder, const QString& name = {});

// Every sheet's cells as xlrd reads them; an empty object, with the reason logged, when the
// file cannot be read.
QJsonObject secondReader(const QString& path);
// "sheet!row,column" of every cell that differs, by value or kind.
QStringList differences(const QJsonObject& before, const QJsonObject& after);

// Where the stream positions that an .xls keeps of its own records (sheet starts, row
// indexes) do not point at the records they name; empty when all of them do.
QString positionProblem(const QString& xlsPath);

} // namespace WorkbookCheck
