// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// The OLE2 compound file around an Excel 97–2003 workbook. Read through libgsf, which also
// reads the small workbooks kept in the container's mini stream.
namespace OleFile {

bool readWorkbookStream(const QByteArray& file, QByteArray* stream, QString* error);

// The same compound file with its Workbook stream replaced; every other stream and storage
// (document properties, macros, embedded objects) is copied with its class id.
bool replaceWorkbookStream(const QByteArray& file, const QByteArray& stream, QByteArray* result,
                           QString* error);

} // namespace OleFile
