// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QString>

class DatabaseConnection;

namespace DatabaseBackup {

// DB/备份/学生信息-<date>-<time>.mdb beside the database file.
QString backupFile(const QString& databaseFile, const QDateTime& when);

// A consistent copy of the open database, also while other windows and the web server use
// it, written whole or not at all.
bool write(DatabaseConnection& database, const QString& backupFile, QString* error = nullptr);

// Removes what backups killed half-way left in DB/备份/ (their hidden temporary files and
// SQLite's journals of them); a backup another program is writing right now is left alone.
void removeLeftovers(const QString& databaseFile);

} // namespace DatabaseBackup
