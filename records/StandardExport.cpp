// SPDX-License-Identifier: GPL-3.0-or-later
#include "records/StandardExport.h"

#include "archive/DatabaseConnection.h"
#include "archive/Recordset.h"
#include "archive/StudentTable.h"
#include "formats/SafeFile.h"
#include "formats/graphics/Picture.h"
#include "records/PhotoExport.h"
#include "records/PhotoFraming.h"

#include <QDir>

namespace StandardExport {

namespace {

constexpr int thumbnailHeight = 96;

} // namespace

QString fileName(const QString& className, const QString& name, const QString& number, QStringList& taken)
{
    const QString base = number.trimmed().isEmpty() ? photoFileName(className, name, {})
                                                    : photoFileName({}, {}, number.trimmed());
    const QString stem = base.chopped(4); // ".jpg"
    QString candidate = base;
    for (int n = 2; taken.contains(candidate, Qt::CaseInsensitive); ++n)
        candidate = stem + QStringLiteral("-%1.jpg").arg(n);
    taken << candidate;
    return candidate;
}

Report run(const DatabaseConnection& database, FaceFinder& finder, const Request& request,
           const std::function<void(int, int)>& progress)
{
    Report report;
    Recordset students;
    students.attach(database);
    if (!students.open(request.className ? StudentTable::selectClass(*request.className) : StudentTable::selectAll)) {
        report.error = QStringLiteral("读不出学生记录：") + students.lastError();
        return report;
    }
    if (!QDir().mkpath(request.folder)) {
        report.error = QStringLiteral("无法创建文件夹 ") + QDir::toNativeSeparators(request.folder);
        return report;
    }
    const QDir folder(request.folder);
    QStringList taken;
    const int total = students.recordCount();
    int done = 0;
    for (students.moveFirst(); !students.atEnd(); students.moveNext()) {
        Student student{students.readInteger(u"id"), students.readText(u"班级"), students.readText(u"姓名"),
                        students.readText(u"编号"), {}, {}, {}};
        const QByteArray stored = students.readBytes(u"照片");
        QString error;
        const QImage photo = stored.isEmpty() ? QImage() : Picture::decode(stored, {}, &error);
        PhotoFraming::StandardPhoto made;
        if (stored.isEmpty())
            student.reasons << QStringLiteral("没有照片");
        else if (photo.isNull())
            student.reasons << QStringLiteral("照片无法读取：") + error;
        else
            made = PhotoFraming::toStandard(finder, photo, request.standard, request.force);
        student.reasons << made.reasons;
        if (!made.jpeg.isEmpty()) {
            const QString name = fileName(student.className, student.name, student.number, taken);
            if (SafeFile::write(folder.filePath(name), made.jpeg, &error))
                student.file = name;
            else
                student.reasons << QStringLiteral("无法写入 %1：%2").arg(name, error);
        }
        if (request.thumbnails) {
            const QImage& shown = student.file.isEmpty() ? photo : made.picture;
            if (!shown.isNull())
                student.thumbnail = shown.scaledToHeight(thumbnailHeight, Qt::SmoothTransformation);
        }
        (student.file.isEmpty() ? report.leftOut : report.written) << student;
        if (progress)
            progress(++done, total);
    }
    return report;
}

} // namespace StandardExport
