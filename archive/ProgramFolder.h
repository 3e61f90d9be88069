// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Everything the program keeps lies in its own folder. These are the only places that know
// the relative names, so a folder with Chinese characters in its path works everywhere. Where
// the folder itself is: ProgramFolderSetup.h.
namespace ProgramFolder {

QString databaseFolder(const QString& appFolder); // DB
QString databaseFile(const QString& appFolder);   // DB/学生信息.mdb
QString settingsFile(const QString& appFolder);   // sys.ini
QString backgroundFile(const QString& appFolder); // background
QString photoFolder(const QString& appFolder);    // 照片
QString rosterFile(const QString& appFolder);     // 学生名单.xls
// DB/asp; a program folder laid out from an installed one runs the installed server.
QString webServerProgram(const QString& appFolder);
// The port of the web site: [sys] WEB端口 of sys.ini, 80 when it is unset or no port.
int webServerPort(const QString& appFolder);

} // namespace ProgramFolder
