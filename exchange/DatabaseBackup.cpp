// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchange/DatabaseBackup.h"

#include "archive/ArchiveCopy.h"
#include "archive/DatabaseConnection.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <csignal>

namespace {

QString backupFolder(const QString& databaseFile)
{
    return QFileInfo(databaseFile).absolutePath() + QStringLiteral("/备份");
}

// The temporary files are named ".<backup>.<pid>.<random>.part": the writer's pid tells a
// leftover from a backup another program is writing now. This program writes one backup at a
// time, and none while it looks.
bool isLeftover(const QString& name)
{
    const QStringList parts = name.split(u'.');
    if (parts.size() < 5)
        return false;
    bool ok = false;
    const qint64 pid = parts[parts.size() - 3].toLongLong(&ok);
    if (!ok || pid <= 0)
        return false;
    return pid == QCoreApplication::applicationPid() || (::kill(pid_t(pid), 0) != 0 && errno == ESRCH);
}

void removeLeftoversIn(const QString& backups)
{
    QDir folder(backups);
    const QStringList names = folder.entryList({QStringLiteral(".*.part"), QStringLiteral(".*.part-journal")},
                                               QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        const QString temporary = name.endsWith(QLatin1String("-journal")) ? name.chopped(8) : name;
        if (isLeftover(temporary))
            folder.remove(name);
    }
}

} // namespace

void DatabaseBackup::removeLeftovers(const QString& databaseFile)
{
    removeLeftoversIn(backupFolder(databaseFile));
}

QString DatabaseBackup::backupFile(const QString& databaseFile, const QDateTime& when)
{
    const QFileInfo database(databaseFile);
    return backupFolder(databaseFile) + u'/' + database.completeBaseName() + u'-'
           + when.toString(QStringLiteral("yyyyMMdd-hhmmss")) + u'.' + database.suffix();
}

bool DatabaseBackup::write(DatabaseConnection& database, const QString& backupFile, QString* error)
{
    const QString folder = QFileInfo(backupFile).absolutePath();
    removeLeftoversIn(folder);
    if (!QDir().mkpath(folder)) {
        if (error)
            *error = QStringLiteral("无法建立文件夹") + folder;
        return false;
    }
    return ArchiveCopy::writeFile(database, backupFile, error);
}
