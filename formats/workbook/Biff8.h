// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "formats/workbook/Worksheet.h"

#include <QByteArray>
#include <QString>

#include <vector>

// The Workbook stream of an Excel 97–2003 file: a sequence of BIFF8 records.
namespace Biff8 {

// Reads the worksheet named `preferred` (compared without case), or the first worksheet when
// no sheet has that name.
bool readSheet(QByteArrayView stream, const QString& preferred, WorksheetCells* sheet, QString* error);

// The same stream with the given cells of the named sheet made blank: each keeps its cell
// format, and every other record stays as it was, with the stream positions that records
// keep of each other moved to where the records now lie.
bool blankCells(QByteArrayView stream, const QString& sheetName, const std::vector<CellAddress>& cells,
                QByteArray* result, QString* error);

} // namespace Biff8
