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
    static const QStringList suffixes{QStringLiteral("*.jpg"), QStringLiteral("*.jpeg"), QStringLiteral("*.png"),
                                      QStringLiteral("*.bmp"), QStringLiteral("*.webp")};
    return QDir(folder).entryList(suffixes, QDir::Files | QDir::Readable, QDir::Name | QDir::IgnoreCase);
}

Plan plan(const DatabaseConnection& database, FaceFinder& finder, const QString& folder,
          const QString& className, bool replace, const std::function<void(int, int)>& progress)
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
        const ClassStudent s{records.readInteger(u"id"), records.readText(u"姓名"), records.readText(u"编号").trimmed(),
                             !records.fieldIsEmpty(u"照片")};
        if (!s.number.isEmpty())
            byNumber[s.number] << int(students.size());
        byName[s.name.trimmed()] << int(students.size());
        students << s;
    }
    if (students.isEmpty()) {
        result.error = QStringLiteral("班级“%1”没有学生").arg(className);
        return result;
    }

    const QStringList files = pictureFiles(folder);
    QHash<int, QString> fileOf; // student index → the file that took it
    int done = 0;
    for (const QString& file : files) {
        if (progress)
            progress(done++, int(files.size()));
        const QString stem = QFileInfo(file).completeBaseName().trimmed();
        // A number is the surer key: two pupils of a class may share a name, never a number.
        QList<int> candidates = byNumber.value(stem);
        if (candidates.isEmpty())
            candidates = byName.value(stem);
        if (candidates.isEmpty()) {
            result.unmatched << file;
            continue;
        }
        if (candidates.size() > 1) {
            result.refused << Refusal{file, QStringLiteral("班里有 %1 名学生都叫“%2”，请改用编号命名")
                                                .arg(candidates.size())
                                                .arg(stem)};
            continue;
        }
        const int index = candidates.first();
        const ClassStudent& student = students[index];
        if (fileOf.contains(index)) {
            result.refused << Refusal{file, QStringLiteral("与“%1”是同一名学生（%2），只载入前一个")
                                                .arg(fileOf[index], student.name)};
            continue;
        }
        fileOf[index] = file;
        Match match{file, student.id, student.name, student.number, student.hasPhoto, {}};
        if (student.hasPhoto && !replace) {
            result.kept << match;
            continue;
        }
        QString error;
        const QByteArray bytes = readFile(QDir(folder).filePath(file), &error);
        const QImage picture = bytes.isEmpty() ? QImage() : Picture::decode(bytes, decodeSize, &error);
        if (picture.isNull()) {
            result.refused << Refusal{file, error.isEmpty() ? QStringLiteral("不是图片") : error};
            fileOf.remove(index);
            continue;
        }
        match.photo = PhotoFraming::forArchive(finder, PhotoFraming::upright(picture, bytes));
        if (match.photo.isNull()) {
            result.refused << Refusal{file, QStringLiteral("照片里没有找到人脸，请用“载入照片”手动载入")};
            fileOf.remove(index);
            continue;
        }
        result.toStore << match;
    }
    if (progress)
        progress(done, int(files.size()));
    for (qsizetype i = 0; i < students.size(); ++i) {
        const bool getsOne = fileOf.contains(int(i));
        if (!students[i].hasPhoto && !getsOne)
            result.stillWithout << (students[i].number.isEmpty()
                                        ? students[i].name
                                        : QStringLiteral("%1（%2）").arg(students[i].name, students[i].number));
    }
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
            *error = student.atEnd() ? QStringLiteral("学生“%1”已被删除").arg(match.name) : student.lastError();
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
