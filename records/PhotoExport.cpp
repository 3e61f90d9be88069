// SPDX-License-Identifier: GPL-3.0-or-later
#include "records/PhotoExport.h"

#include "archive/DatabaseConnection.h"
#include "archive/Recordset.h"
#include "archive/StudentTable.h"
#include "formats/SafeFile.h"

#include <QDir>

namespace {

QString safeNamePart(QStringView part)
{
    static const QString refused = QStringLiteral("/\\:*?\"<>|");
    QString text = part.toString();
    for (QChar& c : text) {
        if (c.unicode() < 0x20 || refused.contains(c))
            c = u'_';
    }
    return text;
}

} // namespace

QString photoFileName(QStringView className, QStringView name, QStringView number)
{
    return safeNamePart(className) + safeNamePart(name) + safeNamePart(number) + QStringLiteral(".jpg");
}

PhotoExportResult exportPhotos(const DatabaseConnection& database, const QList<int>& ids,
                               const QString& folder)
{
    PhotoExportResult result;
    if (!QDir().mkpath(folder)) {
        result.folderError = QStringLiteral("无法创建文件夹 ") + QDir::toNativeSeparators(folder);
        return result;
    }
    const QDir target(folder);
    Recordset student;
    student.attach(database);
    for (const int id : ids) {
        // A record deleted meanwhile has no photo to give; one that cannot be read is a failure.
        if (!student.open(StudentTable::selectId(id))) {
            if (result.failedFiles.isEmpty())
                result.firstFailure = student.lastError();
            result.failedFiles << QStringLiteral("记录 %1").arg(id);
            continue;
        }
        const QByteArray photo = student.readBytes(u"照片");
        if (photo.isEmpty()) {
            ++result.withoutPhoto;
            continue;
        }
        const QString fileName =
            photoFileName(student.readText(u"班级"), student.readText(u"姓名"), student.readText(u"编号"));
        QString error;
        if (SafeFile::write(target.filePath(fileName), photo, &error)) {
            ++result.written;
            continue;
        }
        if (result.failedFiles.isEmpty())
            result.firstFailure = error;
        result.failedFiles << fileName;
    }
    return result;
}
