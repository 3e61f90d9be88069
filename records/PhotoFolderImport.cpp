// SPDX-License-Identifier: GPL-3.0-or-later
#include "records/PhotoFolderImport.h"

#include "archive/DatabaseConnection.h"
#include "archive/Recordset.h"
#include "archive/StudentTable.h"
#include "formats/graphics/Picture.h"
#include "records/PhotoFraming.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QThread>
#include <QtConcurrent/QtConcurrentMap>

#include <atomic>
#include <vector>

namespace PhotoFolderImport {

namespace {

// A camera's file is a few megabytes; a file far larger is not a photo worth reading whole.
constexpr qint64 largestFileBytes = qint64(64) << 20;
// Decoded no smaller than this: a face framed from it still fills the archive's photo.
constexpr QSize decodeSize{1200, 1200};

struct ClassStudent {
    int id = 0;
    QString name;
    QString number;
    bool hasPhoto = false;
};

struct Outcome {
    enum Kind { Refused, Unmatched, Kept, Framed } kind = Refused;
    QString refusal;
    int student = -1;
    Match match;
};

QByteArray readFile(const QString& path, QString* error)
{
    QFile file(path);
    if (file.size() > largestFileBytes) {
        *error = QStringLiteral("文件太大（%1 MB）").arg(file.size() >> 20);
        return {};
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("无法读取：") + file.errorString();
        return {};
    }
    return file.readAll();
}

} // namespace

QStringList pictureFiles(const QString& folder)
{
    static const QStringList suffixes{QStringLiteral("*.jpg"), QStringLiteral("*.jpeg"),
                                      QStringLiteral("*.png"), QStringLiteral("*.bmp"),
                                      QStringLiteral("*.webp")};
    return QDir(folder).entryList(suffixes, QDir::Files | QDir::Readable, QDir::Name | QDir::IgnoreCase);
}

Plan plan(const DatabaseConnection& database, const QString& folder, const QString& className, bool replace,
          const std::function<void(int, int)>& progress)
{
    Plan result;
    if (!QFileInfo(folder).isDir()) {
        result.error = QStringLiteral("文件夹不存在：") + QDir::toNativeSeparators(folder);
        return result;
    }
    Recordset records;
    records.attach(database);
    if (!records.open(StudentTable::selectClass(className))) {
        result.error = QStringLiteral("读不出学生记录：") + records.lastError();
        return result;
    }
    QList<ClassStudent> students;
    QHash<QString, QList<int>> byNumber; // indexes into students
    QHash<QString, QList<int>> byName;
    for (records.moveFirst(); !records.atEnd(); records.moveNext()) {
        const ClassStudent s{records.readInteger(u"id"), records.readText(u"姓名"),
                             records.readText(u"编号").trimmed(), !records.fieldIsEmpty(u"照片")};
        if (!s.number.isEmpty())
            byNumber[s.number] << int(students.size());
        byName[s.name.trimmed()] << int(students.size());
        students << s;
    }
    if (students.isEmpty()) {
        result.error = QStringLiteral("班级“%1”没有学生").arg(className);
        return result;
    }

    // Matched in name order first; the pictures are then read and framed on every core, and
    // each file's outcome is told in name order again.
    const QStringList files = pictureFiles(folder);
    std::vector<Outcome> outcomes(size_t(files.size()));
    QSet<int> taken; // students a file has gone to
    for (qsizetype f = 0; f < files.size(); ++f) {
        Outcome& outcome = outcomes[size_t(f)];
        const QString& file = files[f];
        const QString stem = QFileInfo(file).completeBaseName().trimmed();
        // A number is the surer key: two pupils of a class may share a name, never a number.
        QList<int> candidates = byNumber.value(stem);
        if (candidates.isEmpty())
            candidates = byName.value(stem);
        if (candidates.isEmpty()) {
            outcome.kind = Outcome::Unmatched;
            continue;
        }
        if (candidates.size() > 1) {
            outcome.refusal =
                QStringLiteral("班里有 %1 名学生都叫“%2”，请改用编号命名").arg(candidates.size()).arg(stem);
            continue;
        }
        const int index = candidates.first();
        const ClassStudent& student = students[index];
        if (taken.contains(index)) {
            outcome.refusal = QStringLiteral("另一个文件已经对应%1，只载入前一个").arg(student.name);
            continue;
        }
        taken << index;
        outcome.student = index;
        outcome.match = Match{file, student.id, student.name, student.number, student.hasPhoto, {}};
        outcome.kind = student.hasPhoto && !replace ? Outcome::Kept : Outcome::Framed;
    }

    std::vector<Outcome*> toFrame;
    for (Outcome& outcome : outcomes)
        if (outcome.kind == Outcome::Framed)
            toFrame.push_back(&outcome);
    std::atomic<int> done = 0;
    const auto frame = [&](Outcome* outcome) {
        QString error;
        const QByteArray bytes = readFile(QDir(folder).filePath(outcome->match.file), &error);
        const QImage picture = bytes.isEmpty() ? QImage() : Picture::decode(bytes, decodeSize, &error);
        if (picture.isNull())
            outcome->refusal = error.isEmpty() ? QStringLiteral("不是图片") : error;
        else if ((outcome->match.photo = PhotoFraming::forArchive(PhotoFraming::threadFinder(),
                                                                  PhotoFraming::upright(picture, bytes)))
                     .isNull())
            outcome->refusal = QStringLiteral("照片里没有找到人脸，请用“载入照片”手动载入");
        if (!outcome->refusal.isEmpty())
            outcome->kind = Outcome::Refused;
        ++done;
    };
    // A few files at a time: camera files are large.
    const size_t batch = size_t(2 * std::max(1, QThread::idealThreadCount()));
    for (size_t first = 0; first < toFrame.size(); first += batch) {
        if (progress)
            progress(done, int(toFrame.size()));
        const auto end = toFrame.begin() + qsizetype(std::min(toFrame.size(), first + batch));
        QtConcurrent::blockingMap(toFrame.begin() + qsizetype(first), end, frame);
    }
    if (progress)
        progress(done, int(toFrame.size()));

    QSet<int> getsOne;
    for (qsizetype f = 0; f < files.size(); ++f) {
        const Outcome& outcome = outcomes[size_t(f)];
        switch (outcome.kind) {
        case Outcome::Unmatched:
            result.unmatched << files[f];
            break;
        case Outcome::Refused:
            result.refused << Refusal{files[f], outcome.refusal};
            break;
        case Outcome::Kept:
            result.kept << outcome.match;
            break;
        case Outcome::Framed:
            result.toStore << outcome.match;
            getsOne << outcome.student;
            break;
        }
    }
    for (qsizetype i = 0; i < students.size(); ++i)
        if (!students[i].hasPhoto && !getsOne.contains(int(i)))
            result.stillWithout
                << (students[i].number.isEmpty()
                        ? students[i].name
                        : QStringLiteral("%1（%2）").arg(students[i].name, students[i].number));
    return result;
}

int store(DatabaseConnection& database, const Plan& plan, QString* error)
{
    DatabaseTransaction transaction(database);
    if (!transaction.isActive()) {
        *error = database.lastError();
        return -1;
    }
    Recordset student;
    student.attach(database);
    for (const Match& match : plan.toStore) {
        if (!student.open(StudentTable::selectId(match.id)) || student.atEnd()) {
            *error =
                student.atEnd() ? QStringLiteral("学生“%1”已被删除").arg(match.name) : student.lastError();
            return -1;
        }
        if (!student.writeBytes(u"照片", PhotoFraming::jpeg(match.photo, 90)) || !student.update()) {
            *error = student.lastError();
            return -1;
        }
    }
    if (!transaction.commit()) {
        *error = database.lastError();
        return -1;
    }
    return int(plan.toStore.size());
}

} // namespace PhotoFolderImport
