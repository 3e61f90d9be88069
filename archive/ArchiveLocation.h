// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Where a program folder keeps its archive: the file DB/学生信息.mdb, unless QINGHE_DATABASE
// (first) or the key 数据库 of section sys in sys.ini names a PostgreSQL server's database
// (postgresql://host/dbname?...). A password never goes into sys.ini: libpq finds it in
// ~/.pgpass or the file PGPASSFILE names.
namespace ArchiveLocation {

bool isServerAddress(const QString& location);
// Whether the address carries a password (user:password@host, or password=...).
bool carriesPassword(const QString& uri);

// The server address that replaces `databaseFile`, when that is a program folder's archive
// file and a server is chosen for it; empty otherwise.
QString serverFor(const QString& databaseFile);
// Where the archive of the program folder is: the server address or the file.
QString of(const QString& appFolder);
// The server address set in sys.ini (not the environment's); empty for the file.
QString configuredServer(const QString& appFolder);
// Stores the server address in sys.ini; an empty address goes back to the file. Refuses an
// address with a password in it.
bool setServer(const QString& appFolder, const QString& uri, QString* error = nullptr);

} // namespace ArchiveLocation
