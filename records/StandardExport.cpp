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
#include <QThread>
#include <QtConcurrent/QtConcurrentMap>

#include <vector>

namespace StandardExport {

namespace {

constexpr int thumbnailHeight = 96;

struct Job {
    Student student;
    QByteArray stored;
    QString fileName;
};

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

Report run(const DatabaseConnection& database, const Request& request,
           const std::function<void(int, int)>& progress)
{
    Report report;
    Recordset students;
    students.attach(database);
    if (!students.open(request.className ? StudentTable::selectClass(*request.className)
                                         : StudentTable::selectAll)) {
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
    // Photos are read a few at a time, so a school of thousands is not held in memory at once.
    const int batch = 4 * std::max(1, QThread::idealThreadCount());
    std::vector<Job> jobs;
    const auto finishBatch = [&] {
        QtConcurrent::blockingMap(jobs, [&](Job& job) {
            QString error;
            const QImage photo = job.stored.isEmpty() ? QImage() : Picture::decode(job.stored, {}, &error);
            PhotoFraming::StandardPhoto made;
            if (job.stored.isEmpty())
                job.student.reasons << QStringLiteral("没有照片");
            else if (photo.isNull())
                job.student.reasons << QStringLiteral("照片无法读取：") + error;
            else
                made = PhotoFraming::toStandard(PhotoFraming::threadFinder(), photo, request.standard,
                                                request.force);
            job.student.reasons << made.reasons;
            if (!made.jpeg.isEmpty()) {
                if (SafeFile::write(folder.filePath(job.fileName), made.jpeg, &error))
                    job.student.file = job.fileName;
                else
                    job.student.reasons << QStringLiteral("无法写入 %1：%2").arg(job.fileName, error);
            }
            const QImage& shown = job.student.file.isEmpty() ? photo : made.picture;
            if (request.thumbnails && !shown.isNull())
                job.student.thumbnail = shown.scaledToHeight(thumbnailHeight, Qt::SmoothTransformation);
        });
        for (Job& job : jobs) {
            (job.student.file.isEmpty() ? report.leftOut : report.written) << job.student;
            if (progress)
                progress(++done, total);
        }
        jobs.clear();
    };
    for (students.moveFirst(); !students.atEnd(); students.moveNext()) {
        Job job{{students.readInteger(u"id"),
                 students.readText(u"班级"),
                 students.readText(u"姓名"),
                 students.readText(u"编号"),
                 {},
                 {},
                 {}},
                students.readBytes(u"照片"),
                {}};
        // Named in the list's order before the work is shared out, so the names never
        // depend on which photo was done first.
        if (!job.stored.isEmpty())
            job.fileName = fileName(job.student.className, job.student.name, job.student.number, taken);
        jobs.push_back(std::move(job));
        if (int(jobs.size()) == batch)
            finishBatch();
    }
    finishBatch();
    return report;
}

} // namespace StandardExport
