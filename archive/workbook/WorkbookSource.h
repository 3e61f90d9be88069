// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class SqliteSession;

// A workbook as a data source, the way the spreadsheet driver of the office's SQL texts
// presents it: the sheet named Sheet1 (or the first worksheet when none is) is the table
// [Sheet1$], its first filled row gives the field names, and every value reads as the text
// its cell shows. With "ReadOnly=0" in the connection string, committed changes are written
// back into the same file at once; only blanking cells is possible that way.
namespace WorkbookSource {

// Opens the workbook named by DBQ in `connectionString` on the session's handle.
bool open(SqliteSession& session, const QString& connectionString);

} // namespace WorkbookSource
