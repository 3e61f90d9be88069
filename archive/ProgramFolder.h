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

// A build, or a program folder copied whole, keeps everything beside the program. An
// installed program (bin/qinghe) keeps its helper programs in lib/qinghe and the folder a
// user's own is laid out from (DB/ with the site's pages, no archive) in share/qinghe; it
// finds both from its own place, wherever the installation's prefix is.
bool isInstalled();
// Where asp, qinghe-jet-reader and qinghe-initdb lie.
QString programsFolder();
// The folder a program folder is laid out from: the program's own, or share/qinghe.
QString installedFolder();
// The port of the web site: [sys] WEB端口 of sys.ini, 80 when it is unset or no port.
int webServerPort(const QString& appFolder);

} // namespace ProgramFolder
