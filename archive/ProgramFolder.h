// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Everything the program keeps lies in its own folder. These are the only places that know
// the relative names, so a folder with Chinese characters in its path works everywhere.
namespace ProgramFolder {

// The folder named by QINGHE_FOLDER; else the executable's folder when the program may write
// there; else (an installed program under /usr/local or /opt) the user's own folder, laid out
// from the executable's folder on first use. No trailing slash.
QString locate();

// The choice locate() makes, over given folders. `override` wins when set; a user folder
// that cannot be laid out leaves the installed one, which then opens read-only.
QString choose(const QString& override, const QString& installed, const QString& user);

// $XDG_DATA_HOME/qinghe, by default ~/.local/share/qinghe.
QString userFolder();

// Copies the archive, the site files and the photos of an installed folder into `user`,
// each file whole, never replacing one that is there already: a first start lays the folder
// out, later starts only add what a newer installation brought.
bool layOut(const QString& installed, const QString& user, QString* error = nullptr);

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
