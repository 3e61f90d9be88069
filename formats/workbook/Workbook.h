// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "formats/workbook/Worksheet.h"

#include <QByteArray>
#include <QString>

#include <vector>

// A workbook file of either kind (.xls or .xlsx), told apart by its content, not its name.
namespace Workbook {

// Reads the worksheet named `preferred` (compared without case), or the first worksheet when
// no sheet has that name.
bool readSheet(const QByteArray& file, const QString& preferred, WorksheetCells* sheet, QString* error);

// The file with the given cells of the named sheet blanked and everything else kept. The
// result is read back before it is handed out: it must show the sheet as it was, less the
// blanked cells, or it is refused.
bool blankCells(const QByteArray& file, const WorksheetCells& sheet, const std::vector<CellAddress>& cells,
                QByteArray* result, QString* error);

} // namespace Workbook
