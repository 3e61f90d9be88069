// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/ProgramFolderSetup.h"

#include "archive/DatabaseConnection.h"
#include "archive/ProgramFolder.h"
#include "archive/SqlText.h"
#include "archive/StudentTable.h"
#include "formats/SafeFile.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

namespace ProgramFolder {

namespace {

QString cleaned(const QString& folder)
{
    QString path = QDir::cleanPath(QDir(folder).absolutePath());
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    return path;
}

bool isWritable(const QString& folder) { return ::access(QFile::encodeName(folder).constData(), W_OK) == 0; }

// The SQLite files beside a database belong to the connection that made them, and programs
// stay in the installed folder, where updates reach them.
bool isCopied(const QFileInfo& file)
{
    const QString name = file.fileName();
    return !name.endsWith(QLatin1String("-wal")) && !name.endsWith(QLatin1String("-shm"))
           && !name.endsWith(QLatin1String("-journal")) && !file.isExecutable();
}

bool copyMissing(const QString& from, const QString& to, QString* error)
{
    if (QFileInfo(to).exists())
        return true;
    return SafeFile::writeWith(
        to,
        [&from, &to](const QString& temporary, QString* why) {
            // The installed archive may be open in another program, its latest saves still in
            // the write-ahead log beside it: SQLite copies what a reader sees, and only
            // SQLite opens the file.
            if (QFileInfo(from).fileName() == QFileInfo(databaseFile({})).fileName()) {
                DatabaseConnection archive;
                if (archive.openDatabaseFile(from)
                    && archive.execute(QStringLiteral("VACUUM INTO '") + sqlQuoted(temporary) + u'\''))
                    return true;
                *why = archive.lastError();
                return false;
            }
            QFile source(from);
            if (source.copy(temporary))
                return true;
            *why = source.errorString();
            return false;
        },
        error);
}

} // namespace

QString userFolder()
{
    return cleaned(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                   + QStringLiteral("/qinghe"));
}

bool layOut(const QString& installed, const QString& user, QString* error)
{
    const QDir source(installed);
    QStringList files;
    for (const QString& name : {QStringLiteral("sys.ini"), QStringLiteral("background")}) {
        if (QFileInfo(source.filePath(name)).isFile())
            files << name;
    }
    for (const QString& folder : {QStringLiteral("DB"), QStringLiteral("照片")}) {
        QDirIterator it(source.filePath(folder), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            it.next();
            if (isCopied(it.fileInfo()))
                files << source.relativeFilePath(it.filePath());
        }
    }
    for (const QString& name : files) {
        const QString target = user + u'/' + name;
        const QString folder = QFileInfo(target).absolutePath();
        if (!QDir().mkpath(folder)) {
            if (error)
                *error = QStringLiteral("无法建立文件夹：") + folder;
            return false;
        }
        if (!copyMissing(source.filePath(name), target, error))
            return false;
    }
    // An installation brings no archive: the user's own is made here, on first start.
    return prepare(user, error);
}

bool prepare(const QString& folder, QString* error)
{
    for (const QString& path : {databaseFolder(folder), photoFolder(folder)}) {
        if (!QDir().mkpath(path)) {
            if (error)
                *error = QStringLiteral("无法建立文件夹：") + path;
            return false;
        }
    }
    const QString database = databaseFile(folder);
    if (DatabaseConnection::fileHoldsData(database))
        return true;
    QString why;
    if (StudentTable::createDatabaseFile(database, &why))
        return true;
    if (error)
        *error = QStringLiteral("无法建立数据库 %1：%2").arg(database, why);
    return false;
}

QString choose(const QString& override, const QString& installed, const QString& user,
               Installation installation)
{
    if (!override.isEmpty())
        return cleaned(override);
    if (installation == Installation::OwnFolder && isWritable(installed))
        return cleaned(installed);
    if (layOut(installed, user))
        return cleaned(user);
    // A folder of its own that cannot be copied opens read-only where it is; an installation
    // holds no archive to open.
    return installation == Installation::OwnFolder ? cleaned(installed) : cleaned(user);
}

QString locate()
{
    return choose(qEnvironmentVariable("QINGHE_FOLDER"), installedFolder(), userFolder(),
                  isInstalled() ? Installation::Shared : Installation::OwnFolder);
}

} // namespace ProgramFolder
