// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchange/DatabaseBackup.h"

#include "platform/ArchiveCopy.h"
#include "platform/DatabaseConnection.h"
#include "platform/SafeFile.h"
#include "platform/SqlText.h"

#include <QDir>
#include <QFileInfo>

QString DatabaseBackup::backupFile(const QString& databaseFile, const QDateTime& when)
{
    const QFileInfo database(databaseFile);
    return database.absolutePath() + QStringLiteral("/备份/") + database.completeBaseName() + u'-'
           + when.toString(QStringLiteral("yyyyMMdd-hhmmss")) + u'.' + database.suffix();
}

bool DatabaseBackup::write(DatabaseConnection& database, const QString& backupFile, QString* error)
{
    const QString folder = QFileInfo(backupFile).absolutePath();
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("无法建立文件夹") + folder;
        return false;
    }
    return SafeFile::writeWith(
        backupFile,
        [&database](const QString& temporary, QString* reason) {
            // An archive on a server is kept as an archive file, which the program can open.
            if (database.isServer()) {
                ArchiveCopy::Counts counts;
                return ArchiveCopy::copy(database.location(), temporary, &counts, reason);
            }
            // VACUUM INTO reads one snapshot of the database, whoever writes meanwhile.
            if (database.execute(QStringLiteral("VACUUM INTO '") + sqlQuoted(temporary) + u'\''))
                return true;
            *reason = database.lastError();
            return false;
        },
        error);
}
