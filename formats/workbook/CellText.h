// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The text a spreadsheet program shows for a number cell, for the formats rosters use: dates
// and times as their format draws them, zero-padded student numbers, and every other number
// in plain digits (2014070101, never 2.01407e+09).
namespace CellText {

QString number(double value, QStringView formatCode, bool date1904);

// The format code of a built-in number format, as a Chinese Excel shows it; empty for General.
QString builtInFormat(int id);

bool isDateFormat(QStringView formatCode);

} // namespace CellText
