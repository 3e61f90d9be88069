// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ProgramFolder.h"

#include "platform/IniFile.h"

#include <QCoreApplication>
#include <QDir>

namespace ProgramFolder {

QString locate()
{
    QString folder = qEnvironmentVariable("QINGHE_FOLDER");
    if (folder.isEmpty())
        folder = QCoreApplication::applicationDirPath();
    folder = QDir::cleanPath(QDir(folder).absolutePath());
    while (folder.size() > 1 && folder.endsWith(u'/'))
        folder.chop(1);
    return folder;
}

QString databaseFolder(const QString& appFolder) { return appFolder + QStringLiteral("/DB"); }
QString databaseFile(const QString& appFolder) { return appFolder + QStringLiteral("/DB/学生信息.mdb"); }
QString settingsFile(const QString& appFolder) { return appFolder + QStringLiteral("/sys.ini"); }
QString backgroundFile(const QString& appFolder) { return appFolder + QStringLiteral("/background"); }
QString photoFolder(const QString& appFolder) { return appFolder + QStringLiteral("/照片"); }
QString rosterFile(const QString& appFolder) { return appFolder + QStringLiteral("/学生名单.xls"); }
QString webServerProgram(const QString& appFolder) { return appFolder + QStringLiteral("/DB/asp"); }

int webServerPort(const QString& appFolder)
{
    const int port = IniFile::readInteger(settingsFile(appFolder), u"sys", u"WEB端口", 80);
    return port > 0 && port <= 65535 ? port : 80;
}

} // namespace ProgramFolder
