// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

#include <utility>

class DatabaseConnection;

// Moving a whole archive between a file and a server, either way: the tables 学生, 设置 and
// 管理员 with every row, ids kept and photos byte for byte. A server receives it in one
// transaction and a file is written whole, so a copy that fails leaves nothing behind. Never
// copies over an archive that holds records, but for the administrator row with the default
// password that createTables lays down. A value the target cannot hold as it is (a NUL in a
// text, for a server) is refused with the row it is in, never cut short.
namespace ArchiveCopy {

using Counts = QList<std::pair<QString, int>>; // table, rows copied

bool copy(const QString& from, const QString& to, Counts* counts, QString* error);

// The three tables and the administrator row with the default password, in one
// transaction; a database that has any of the tables is left untouched (false, with why).
// A new archive file holding one moment of the open archive, whoever writes meanwhile,
// written whole or not at all: a backup, or an archive built in memory put in place. An
// archive on a server is kept as an archive file too, which the program opens.
bool writeFile(DatabaseConnection& archive, const QString& file, QString* error = nullptr);
bool createTables(DatabaseConnection& server, QString* error, bool* alreadyThere = nullptr);

} // namespace ArchiveCopy
