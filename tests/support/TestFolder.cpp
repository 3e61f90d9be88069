// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/TestFolder.h"

#include "archive/DatabaseConnection.h"
#include "archive/ProgramFolder.h"
#include "archive/Recordset.h"
#include "archive/StudentTable.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QTest>
#include <QtEndian>

#include <functional>

#include <sqlite3.h>
#include <zlib.h>

TestFolder::TestFolder(bool withDatabase)
    : m_dir(QDir::tempPath() + QStringLiteral("/青禾-test-XXXXXX"))
    , m_previousFolder(qgetenv("QINGHE_FOLDER"))
{
    QDir().mkpath(ProgramFolder::databaseFolder(path()));
    QDir().mkpath(ProgramFolder::photoFolder(path()));
    if (withDatabase) {
        QString error;
        if (!StudentTable::createDatabaseFile(databaseFile(), &error))
            qFatal("cannot create the test database: %s", qPrintable(error));
    }
    qputenv("QINGHE_FOLDER", path().toUtf8());
}

TestFolder::~TestFolder()
{
    if (m_previousFolder.isEmpty())
        qunsetenv("QINGHE_FOLDER");
    else
        qputenv("QINGHE_FOLDER", m_previousFolder);
}

QString TestFolder::databaseFile() const { return ProgramFolder::databaseFile(path()); }

QString TestFolder::settingsFile() const { return ProgramFolder::settingsFile(path()); }

namespace {

struct Database {
    sqlite3* db = nullptr;
    explicit Database(const QString& file)
    {
        if (sqlite3_open(file.toUtf8().constData(), &db) != SQLITE_OK)
            qFatal("cannot open %s", qPrintable(file));
    }
    ~Database() { sqlite3_close(db); }
    void run(const QString& sql, const std::function<void(sqlite3_stmt*)>& bind = {}) const
    {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &stmt, nullptr) != SQLITE_OK)
            qFatal("bad test SQL %s: %s", qPrintable(sql), sqlite3_errmsg(db));
        if (bind)
            bind(stmt);
        const int rc = sqlite3_step(stmt);
        sqlite3_finalize(stmt);
        if (rc != SQLITE_DONE && rc != SQLITE_ROW)
            qFatal("test SQL failed %s: %s", qPrintable(sql), sqlite3_errmsg(db));
    }
};

void bindText(sqlite3_stmt* stmt, int index, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    sqlite3_bind_text(stmt, index, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
}

} // namespace

void TestFolder::addClasses(const QStringList& classes) const
{
    Database db(databaseFile());
    for (const QString& name : classes)
        db.run(QStringLiteral("INSERT INTO 设置(单位, 帐号, 密码) VALUES (?, '', '')"),
               [&](sqlite3_stmt* s) { bindText(s, 1, name); });
}

QList<int> TestFolder::addStudents(const QList<Student>& students) const
{
    Database db(databaseFile());
    QList<int> ids;
    for (const Student& student : students) {
        db.run(QStringLiteral("INSERT INTO 学生(姓名, 编号, 班级, 照片) VALUES (?, ?, ?, ?)"),
               [&](sqlite3_stmt* s) {
                   bindText(s, 1, student.name);
                   bindText(s, 2, student.number);
                   bindText(s, 3, student.className);
                   sqlite3_bind_blob(s, 4, student.photo.constData(), int(student.photo.size()),
                                     SQLITE_TRANSIENT);
               });
        ids << int(sqlite3_last_insert_rowid(db.db));
    }
    return ids;
}

void TestFolder::execute(const QString& sql) const { Database(databaseFile()).run(sql); }

QStringList TestFolder::storedColumn(QStringView field) const
{
    DatabaseConnection connection;
    connection.openDatabaseFile(databaseFile());
    Recordset records;
    records.attach(connection);
    records.open(StudentTable::selectAll);
    QStringList values;
    for (int i = 0; i < records.recordCount(); ++i, records.moveNext())
        values << records.readText(field);
    return values;
}

namespace {
QByteArray filledPicture(int width, int height, const QColor& color, const char* format)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}
} // namespace

QByteArray jpegBytes(int width, int height, Qt::GlobalColor color)
{
    return filledPicture(width, height, color, "JPEG");
}

QByteArray pngBytes(int width, int height, const QColor& color)
{
    return filledPicture(width, height, color, "PNG");
}

namespace {

QByteArray pngChunk(const char* type, const QByteArray& data)
{
    QByteArray chunk(4, '\0');
    qToBigEndian(quint32(data.size()), chunk.data());
    const QByteArray body = QByteArray(type, 4) + data;
    chunk += body;
    QByteArray crc(4, '\0');
    qToBigEndian(quint32(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size()))),
                 crc.data());
    return chunk + crc;
}

} // namespace

QByteArray pngPromising(int width, int height)
{
    QByteArray header(13, '\0');
    qToBigEndian(quint32(width), header.data());
    qToBigEndian(quint32(height), header.data() + 4);
    header[8] = 8; // bits per sample
    header[9] = 2; // RGB
    const QByteArray rows(4 * (1 + 3 * width), '\0');
    QByteArray packed = qCompress(rows).mid(4); // zlib stream without Qt's length prefix
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) + pngChunk("IDAT", packed)
           + pngChunk("IEND", {});
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString writeTestFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QByteArray noiseBytes(int size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator random(seed);
    for (char& c : bytes)
        c = char(random.bounded(256));
    return bytes;
}
