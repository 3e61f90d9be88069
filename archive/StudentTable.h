// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class DatabaseConnection;

// The SQL texts of the student database, in one place for every window and the command line.
namespace StudentTable {

inline const QString createStudents = QStringLiteral(
    "CREATE TABLE 学生(id AUTOINCREMENT,姓名 varchar,编号 varchar,班级 varchar,照片 OLEOBJECT,性别 varchar,"
    "住址 varchar,电话 varchar,简介 OLEOBJECT,出生年月 varchar,选项 varchar)");
inline const QString createClasses =
    QStringLiteral("CREATE TABLE 设置(单位 varchar,帐号 varchar,密码 varchar)");
// A class list reads the columns stored after 照片; this index holds them, so the list is
// answered without walking every photo. Within a class it is ordered by id, so the list comes
// in stored order without a sort. Archives made before it get it from the web server when it
// starts, in place of the earlier index ordered by gender and address; a rebuilt student
// table gets it the same way.
inline const QString createListIndex =
    QStringLiteral("CREATE INDEX IF NOT EXISTS 学生_班级顺序 ON 学生(班级,id,性别,住址,电话,出生年月,选项)");
inline const QString dropEarlierListIndex = QStringLiteral("DROP INDEX IF EXISTS 学生_班级列表");
inline const QString createAdministrator = QStringLiteral("CREATE TABLE 管理员(密码 varchar)");
// The password of the original file format; every connection passes it, as the pages do.
inline const QString databasePassword = QStringLiteral("2961574");
inline const QString defaultAdministratorPassword = QStringLiteral("514");

inline const QString selectAll = QStringLiteral("select * from 学生");
inline const QString selectClasses = QStringLiteral("select * from 设置");
inline const QString selectAdministrator = QStringLiteral("select * from 管理员");

QString selectClass(QStringView className);
QString selectNumberOrName(QStringView text);
QString selectId(int id);

// Opens the student archive for a window or a tool. A file without table 学生 is another
// program's database: it is refused with the reason, so not a byte of it is changed.
bool openArchive(DatabaseConnection& connection, const QString& path);

// Creates a database file with its three tables and the administrator row. It is built
// whole in memory and renamed into place, so a crash leaves the old file or the new one.
// Refuses to replace a file that holds data.
bool createDatabaseFile(const QString& path, QString* error = nullptr);

} // namespace StudentTable
