// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/ProgramFolder.h"

#include "formats/IniFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace ProgramFolder {

QString databaseFolder(const QString& appFolder) { return appFolder + QStringLiteral("/DB"); }
QString databaseFile(const QString& appFolder) { return appFolder + QStringLiteral("/DB/学生信息.mdb"); }
QString settingsFile(const QString& appFolder) { return appFolder + QStringLiteral("/sys.ini"); }
QString backgroundFile(const QString& appFolder) { return appFolder + QStringLiteral("/background"); }
QString photoFolder(const QString& appFolder) { return appFolder + QStringLiteral("/照片"); }
QString rosterFile(const QString& appFolder) { return appFolder + QStringLiteral("/学生名单.xls"); }

QString webServerProgram(const QString& appFolder)
{
    const QString own = appFolder + QStringLiteral("/DB/asp");
    if (QFileInfo(own).isExecutable())
        return own;
    const QString installed = isInstalled() ? programsFolder() + QStringLiteral("/asp")
                                            : databaseFolder(installedFolder()) + QStringLiteral("/asp");
    return QFileInfo(installed).isExecutable() ? installed : own;
}

namespace {
QString fromProgram(const char* relative)
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + u'/' + QString::fromUtf8(relative));
}
} // namespace

bool isInstalled() { return QFileInfo(databaseFolder(fromProgram(QINGHE_DATA_FROM_BIN))).isDir(); }

QString programsFolder()
{
    return isInstalled() ? fromProgram(QINGHE_PROGRAMS_FROM_BIN) : QCoreApplication::applicationDirPath();
}

QString installedFolder()
{
    return isInstalled() ? fromProgram(QINGHE_DATA_FROM_BIN) : QCoreApplication::applicationDirPath();
}

int webServerPort(const QString& appFolder)
{
    const int port = IniFile::readInteger(settingsFile(appFolder), u"sys", u"WEB端口", 80);
    return port > 0 && port <= 65535 ? port : 80;
}

} // namespace ProgramFolder
