// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "formats/workbook/Worksheet.h"

#include <QByteArray>
#include <QString>

#include <vector>

// An Office Open XML workbook (.xlsx): a zip of XML parts.
namespace XlsxFile {

// Reads the worksheet named `preferred` (compared without case), or the first worksheet.
bool readSheet(const QByteArray& file, const QString& preferred, WorksheetCells* sheet, QString* error);

// The same package with the given cells of the named sheet made blank (each keeps its style);
// only that sheet's part is rewritten.
bool blankCells(const QByteArray& file, const QString& sheetName, const std::vector<CellAddress>& cells,
                QByteArray* result, QString* error);

} // namespace XlsxFile
