// SPDX-License-Identifier: GPL-3.0-or-later
// Access files written by Access itself, read through the program and compared with what the
// mdbtools command line prints for them.
#include "archive/jet/JetReader.h"
#include "exchange/AccessImport.h"
#include "formats/Gbk.h"
#include "tests/exchange/ImportOutcome.h"
#include "tests/support/TestFolder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

namespace {

QString fixture(const QString& name) { return QStringLiteral(QINGHE_JET_FIXTURES "/") + name; }

// RFC 4180 records with doubled quotes, on bytes: binary fields may hold any byte. A quoted
// field is marked so that the text "NULL" stays apart from a NULL.
struct Field {
    QByteArray bytes;
    bool quoted = false;
};
using CsvRow = QList<Field>;

QList<CsvRow> parseCsv(const QByteArray& data)
{
    QList<CsvRow> rows;
    CsvRow row;
    Field field;
    bool inQuotes = false;
    for (qsizetype i = 0; i < data.size(); ++i) {
        const char c = data[i];
        if (inQuotes) {
            if (c == '"' && i + 1 < data.size() && data[i + 1] == '"') {
                field.bytes += '"';
                ++i;
            } else if (c == '"') {
                inQuotes = false;
            } else {
                field.bytes += c;
            }
        } else if (c == '"') {
            inQuotes = true;
            field.quoted = true;
        } else if (c == ',') {
            row << field;
            field = {};
        } else if (c == '\n') {
            row << field;
            rows << row;
            row.clear();
            field = {};
        } else {
            field.bytes += c;
        }
    }
    return rows;
}

QList<CsvRow> exported(const QString& file, const QString& table, bool jet3)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (jet3)
        environment.insert(QStringLiteral("MDB_JET3_CHARSET"), QStringLiteral("GB18030"));
    process.setProcessEnvironment(environment);
    const QString format = QStringLiteral("%Y-%m-%d %H:%M:%S");
    process.start(QStringLiteral("mdb-export"),
                  {QStringLiteral("-0"), QStringLiteral("NULL"), QStringLiteral("-b"), QStringLiteral("raw"),
                   QStringLiteral("-D"), format, QStringLiteral("-T"), format, file, table});
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        qFatal("mdb-export failed on %s %s", qPrintable(file), qPrintable(table));
    return parseCsv(process.readAllStandardOutput());
}

struct SqliteFile {
    sqlite3* db = nullptr;
    explicit SqliteFile(const QString& path)
    {
        sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    }
    ~SqliteFile() { sqlite3_close(db); }

    // Every row in stored order, each value as the text mdb-export would print for it.
    QList<QList<QVariant>> rows(const QString& table, QStringList* columns) const
    {
        QList<QList<QVariant>> rows;
        sqlite3_stmt* statement = nullptr;
        const QByteArray sql = "SELECT * FROM \"" + table.toUtf8() + "\"";
        if (sqlite3_prepare_v2(db, sql.constData(), -1, &statement, nullptr) != SQLITE_OK)
            return rows;
        columns->clear();
        for (int i = 0; i < sqlite3_column_count(statement); ++i)
            *columns << QString::fromUtf8(sqlite3_column_name(statement, i));
        while (sqlite3_step(statement) == SQLITE_ROW) {
            QList<QVariant> row;
            for (int i = 0; i < sqlite3_column_count(statement); ++i) {
                switch (sqlite3_column_type(statement, i)) {
                case SQLITE_NULL:
                    row << QVariant();
                    break;
                case SQLITE_INTEGER:
                    row << QVariant(qint64(sqlite3_column_int64(statement, i)));
                    break;
                case SQLITE_FLOAT:
                    row << QVariant(sqlite3_column_double(statement, i));
                    break;
                case SQLITE_TEXT:
                    row << QVariant(
                        QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, i))));
                    break;
                default:
                    row << QVariant(QByteArray(static_cast<const char*>(sqlite3_column_blob(statement, i)),
                                               sqlite3_column_bytes(statement, i)));
                }
            }
            rows << row;
        }
        sqlite3_finalize(statement);
        return rows;
    }

    QString declaredType(const QString& table, const QString& column) const
    {
        const char* type = nullptr;
        sqlite3_table_column_metadata(db, nullptr, table.toUtf8().constData(), column.toUtf8().constData(),
                                      &type, nullptr, nullptr, nullptr, nullptr);
        return QString::fromUtf8(type ? type : "");
    }
};

// What mdb-export prints for a stored value of a column of this kind.
QByteArray exportText(const QVariant& value, JetFile::Type type)
{
    using T = JetFile::Type;
    switch (type) {
    case T::Single:
        return QByteArray::number(double(float(value.toDouble())), 'g', 8);
    case T::Double:
        return QString::asprintf("%.16g", value.toDouble()).toUtf8();
    case T::Currency:
        return QString::asprintf("%.4f", value.toDouble()).toUtf8();
    default:
        return value.typeId() == QMetaType::QByteArray ? value.toByteArray() : value.toString().toUtf8();
    }
}

// The value of a column in the first row of a table of a fixture.
QVariant firstValue(const QString& file, const QString& tableName, const QString& column)
{
    JetReader jet;
    if (!jet.open(fixture(file)))
        qFatal("cannot open %s", qPrintable(file));
    const JetFile::Table* table = jet.table(tableName);
    qsizetype index = -1;
    for (qsizetype i = 0; table && i < table->columns.size(); ++i) {
        if (table->columns[i].name == column)
            index = i;
    }
    if (index < 0)
        qFatal("no column %s", qPrintable(column));
    QVariant value;
    jet.readRows(*table, [&](const QVariantList& values) {
        value = values[index];
        return false;
    });
    return value;
}

QByteArray digest(const QString& path)
{
    return QCryptographicHash::hash(fileBytes(path), QCryptographicHash::Sha256);
}

} // namespace

class TestAccessImport : public QObject {
    Q_OBJECT

private slots:
    void copyMatchesExport_data();
    void copyMatchesExport();
    void textAsWritten_data();
    void textAsWritten();
    void columnTypes_data();
    void columnTypes();
    void programColumns_data();
    void programColumns();
    void unreadableFileRefused_data();
    void unreadableFileRefused();
    void notStudentArchive();
    void jetFileNeverWritten();
};

void TestAccessImport::copyMatchesExport_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("tables");
    QTest::newRow("Jet 4, numbers, dates, money, booleans") << "testV2000.mdb" << 4 << 4;
    QTest::newRow("Jet 4, memo and OLE") << "test2V2000.mdb" << 4 << 1;
    QTest::newRow("Jet 4, Unicode compression") << "testUnicodeCompV2003.mdb" << 4 << 1;
    QTest::newRow("Jet 3") << "test2V1997.mdb" << 3 << 1;
    QTest::newRow("Jet 4, encoded") << "db-enc.mdb" << 4 << 1;
}

void TestAccessImport::copyMatchesExport()
{
    QFETCH(QString, file);
    QFETCH(int, version);
    QFETCH(int, tables);
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("copy.sqlite"));
    const ImportOutcome result = copyAccess(fixture(file), out);
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.tables, tables);

    JetReader jet;
    QVERIFY2(jet.open(fixture(file)), qPrintable(jet.lastError()));
    QCOMPARE(jet.jetVersion(), version);
    QCOMPARE(jet.tables().size(), tables);
    const SqliteFile copy(out);
    qint64 rowsInAll = 0;
    for (const JetFile::Table& table : jet.tables()) {
        const QList<CsvRow> expected = exported(fixture(file), table.name, version == 3);
        QVERIFY(!expected.isEmpty());
        QStringList columns;
        const QList<QList<QVariant>> rows = copy.rows(table.name, &columns);
        QStringList header;
        for (const Field& f : expected.first())
            header << QString::fromUtf8(f.bytes);
        QCOMPARE(columns, header);
        QCOMPARE(rows.size(), expected.size() - 1);
        rowsInAll += rows.size();
        for (qsizetype r = 0; r < rows.size(); ++r) {
            const CsvRow& want = expected[r + 1];
            QCOMPARE(rows[r].size(), want.size());
            for (qsizetype c = 0; c < want.size(); ++c) {
                const QVariant& value = rows[r][c];
                const QByteArray where =
                    table.name.toUtf8() + " row " + QByteArray::number(r) + " " + columns[c].toUtf8();
                if (!want[c].quoted && want[c].bytes == "NULL") {
                    QVERIFY2(!value.isValid(), where.constData());
                    continue;
                }
                QVERIFY2(value.isValid(), where.constData());
                const QByteArray got = exportText(value, table.columns[c].type);
                if (got != want[c].bytes)
                    QFAIL((where + ": " + got.left(80).toHex() + " != " + want[c].bytes.left(80).toHex())
                              .constData());
            }
        }
    }
    QCOMPARE(result.rows, rowsInAll);
}

void TestAccessImport::textAsWritten_data()
{
    // Typed into Access by hand; not what any converter says.
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("text");
    QTest::newRow("ascii, compressed") << 1 << "only ascii chars";
    QTest::newRow("latin letters") << 2 << "ääkkösiä";
    QTest::newRow("cyrillic") << 3 << "Мир";
    // Polytonic Greek with its own accented letters, not their modern look-alikes.
    QTest::newRow("greek") << 4 << QString::fromUtf16(u"ϰαὶ τ\u1F79τ' ἐγὼ Κ\u1F7Bϰλωπα");
    QTest::newRow("han and kana") << 5 << "漢字仮名交じり文";
    // Control characters between the runs of one- and two-byte letters.
    QTest::newRow("mixed runs") << 6 << QString::fromUtf16(u"3L9\u001D52\u0002_AB(¥\u0005!!V");
}

void TestAccessImport::textAsWritten()
{
    QFETCH(int, id);
    QFETCH(QString, text);
    JetReader jet;
    QVERIFY2(jet.open(fixture(QStringLiteral("testUnicodeCompV2003.mdb"))), qPrintable(jet.lastError()));
    const JetFile::Table* table = jet.table(QStringLiteral("Table"));
    QVERIFY(table);
    QString found;
    QVERIFY(jet.readRows(*table, [&](const QVariantList& values) {
        if (values[0].toInt() == id)
            found = values[1].toString();
        return true;
    }));
    QCOMPARE(found, text);
}

void TestAccessImport::columnTypes_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("column");
    QTest::addColumn<QString>("type");
    const QString v2000 = QStringLiteral("testV2000.mdb");
    QTest::newRow("text") << v2000 << "Table1"
                          << "A"
                          << "TEXT";
    QTest::newRow("byte") << v2000 << "Table1"
                          << "C"
                          << "INTEGER";
    QTest::newRow("integer") << v2000 << "Table1"
                             << "D"
                             << "INTEGER";
    QTest::newRow("long integer") << v2000 << "Table1"
                                  << "E"
                                  << "INTEGER";
    QTest::newRow("double") << v2000 << "Table1"
                            << "F"
                            << "REAL";
    QTest::newRow("date") << v2000 << "Table1"
                          << "G"
                          << "DATETIME";
    QTest::newRow("currency") << v2000 << "Table1"
                              << "H"
                              << "DECIMAL(19,4)";
    QTest::newRow("boolean") << v2000 << "Table1"
                             << "I"
                             << "BOOLEAN";
    QTest::newRow("replication id") << v2000 << "Table4"
                                    << "data"
                                    << "TEXT";
    QTest::newRow("memo") << "test2V2000.mdb"
                          << "MSP_PROJECTS"
                          << "PROJ_PROP_AUTHOR"
                          << "TEXT";
    QTest::newRow("OLE object") << "test2V2000.mdb"
                                << "MSP_PROJECTS"
                                << "RESERVED_BINARY_DATA"
                                << "BLOB";
}

void TestAccessImport::columnTypes()
{
    QFETCH(QString, file);
    QFETCH(QString, table);
    QFETCH(QString, column);
    QFETCH(QString, type);
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("copy.sqlite"));
    QVERIFY(copyAccess(fixture(file), out).ok);
    QCOMPARE(SqliteFile(out).declaredType(table, column), type);
}

void TestAccessImport::programColumns_data()
{
    // Values Access wrote, as they would arrive in the program's student and class tables
    // from an archive whose columns were kept in other types.
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("column");
    QTest::addColumn<QString>("into");
    QTest::addColumn<QString>("intoColumn");
    QTest::addColumn<QVariant>("expected");
    const QString projects = QStringLiteral("test2V2000.mdb");
    const QVariant author =
        firstValue(projects, QStringLiteral("MSP_PROJECTS"), QStringLiteral("PROJ_PROP_AUTHOR"));
    const QVariant ole =
        firstValue(projects, QStringLiteral("MSP_PROJECTS"), QStringLiteral("RESERVED_BINARY_DATA"));
    QVERIFY(author.typeId() == QMetaType::QString && ole.typeId() == QMetaType::QByteArray);
    QVERIFY(ole.toByteArray().size() > 1000);
    QTest::newRow("memo remark into 简介") << projects << "MSP_PROJECTS"
                                           << "PROJ_PROP_AUTHOR"
                                           << "学生"
                                           << "简介" << QVariant(gbk::encode(author.toString()));
    QTest::newRow("OLE bytes into 照片") << projects << "MSP_PROJECTS"
                                         << "RESERVED_BINARY_DATA"
                                         << "学生"
                                         << "照片" << ole;
    QTest::newRow("NULL stays NULL") << projects << "MSP_PROJECTS"
                                     << "PROJ_PROP_CATEGORY"
                                     << "学生"
                                     << "住址" << QVariant();
    const QString numbers = QStringLiteral("testV2000.mdb");
    QTest::newRow("long integer into 编号") << numbers << "Table1"
                                            << "E"
                                            << "学生"
                                            << "编号" << QVariant(QStringLiteral("333333333"));
    QTest::newRow("double into 编号") << numbers << "Table1"
                                      << "F"
                                      << "学生"
                                      << "编号" << QVariant(QStringLiteral("444.555"));
    QTest::newRow("date into 出生年月") << numbers << "Table1"
                                        << "G"
                                        << "学生"
                                        << "出生年月" << QVariant(QStringLiteral("1974-09-21 00:00:00"));
    QTest::newRow("text into 密码") << numbers << "Table1"
                                    << "A"
                                    << "管理员"
                                    << "密码" << QVariant(QStringLiteral("abcdefg"));
    const QString unicode = QStringLiteral("testUnicodeCompV2003.mdb");
    QTest::newRow("autonumber into id") << unicode << "Table"
                                        << "ID"
                                        << "学生"
                                        << "id" << QVariant(qint64(1));
    QTest::newRow("text into 单位") << unicode << "Table"
                                    << "Unicode"
                                    << "设置"
                                    << "单位" << QVariant(QStringLiteral("only ascii chars"));
    QTest::newRow("a column the school added") << projects << "MSP_PROJECTS"
                                               << "RESERVED_BINARY_DATA"
                                               << "学生"
                                               << "家长" << ole;
}

void TestAccessImport::programColumns()
{
    QFETCH(QString, file);
    QFETCH(QString, table);
    QFETCH(QString, column);
    QFETCH(QString, into);
    QFETCH(QString, intoColumn);
    QFETCH(QVariant, expected);
    const QVariant value = AccessImport::programValue(into, intoColumn, firstValue(file, table, column));
    QCOMPARE(value.isValid(), expected.isValid());
    if (expected.isValid()) {
        QCOMPARE(value.typeId(), expected.typeId());
        QCOMPARE(value, expected);
    }
}

void TestAccessImport::unreadableFileRefused_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<qint64>("keep");
    QTest::addColumn<QString>("reason");
    const QString pages = QStringLiteral("不完整");
    QTest::newRow("empty") << "testV2000.mdb" << qint64(0) << "空的";
    QTest::newRow("half a header") << "testV2000.mdb" << qint64(1000) << pages;
    QTest::newRow("cut inside a page") << "testV2000.mdb" << qint64(4096 * 100 + 17) << pages;
    QTest::newRow("first pages only") << "testV2000.mdb" << qint64(4096 * 40) << "";
    QTest::newRow("long values cut off") << "test2V2000.mdb" << qint64(4096 * 40) << "";
    QTest::newRow("Jet 3 cut") << "test2V1997.mdb" << qint64(2048 * 30) << "";
}

void TestAccessImport::unreadableFileRefused()
{
    QFETCH(QString, file);
    QFETCH(qint64, keep);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString cut =
        writeTestFile(dir.filePath(QStringLiteral("cut.mdb")), fileBytes(fixture(file)).left(keep));
    const QString out = dir.filePath(QStringLiteral("copy.sqlite"));
    const ImportOutcome result = copyAccess(cut, out);
    QVERIFY(!result.ok);
    QVERIFY2(!result.error.isEmpty() && result.error.contains(reason), qPrintable(result.error));
    QVERIFY2(!QFileInfo::exists(out), "nothing of a file that cannot be read whole is written");
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("cut.mdb")});

    const QString archive = dir.filePath(QStringLiteral("DB/学生信息.mdb"));
    QVERIFY(!importAccess(cut, archive).ok);
    QVERIFY(!QFileInfo::exists(archive));
}

void TestAccessImport::notStudentArchive()
{
    TestFolder folder;
    const QByteArray before = digest(folder.databaseFile());
    for (const QString& file : {QStringLiteral("testV2000.mdb"), QStringLiteral("test2V1997.mdb")}) {
        const ImportOutcome result = importAccess(fixture(file), folder.databaseFile());
        QVERIFY(!result.ok);
        QCOMPARE(result.error, AccessImport::notStudentArchive);
    }
    QCOMPARE(digest(folder.databaseFile()), before);
    QVERIFY(!QFileInfo::exists(QFileInfo(folder.databaseFile()).absolutePath() + QStringLiteral("/备份")));
}

void TestAccessImport::jetFileNeverWritten()
{
    // The command line end to end: a copy for inspection, then the refusal of a file that
    // holds no students, with the Jet file untouched by either.
    QTemporaryDir dir;
    const QString jet = writeTestFile(dir.filePath(QStringLiteral("旧档案.mdb")),
                                      fileBytes(fixture(QStringLiteral("test2V2000.mdb"))));
    const QByteArray before = digest(jet);
    const QDateTime modified = QFileInfo(jet).lastModified();
    const auto run = [&dir](const QStringList& args, QString* out) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QINGHE_FOLDER"), dir.path());
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(QINGHE_EXECUTABLE), QStringList{QStringLiteral("import-access")} + args);
        process.waitForFinished(60000);
        *out = QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
        return process.exitCode();
    };
    QString out;
    const QString copy = dir.filePath(QStringLiteral("看看.sqlite"));
    QCOMPARE(run({jet, QStringLiteral("--copy-to"), copy}, &out), 0);
    QVERIFY2(out.contains(QStringLiteral("已复制 1 个表")), qPrintable(out));
    QVERIFY(QFileInfo(copy).size() > 0);
    QCOMPARE(run({jet, QStringLiteral("--copy-to"), copy}, &out), 1);
    QVERIFY2(out.contains(QStringLiteral("不会被覆盖")), qPrintable(out));

    QCOMPARE(run({jet}, &out), 1);
    QVERIFY2(out.contains(AccessImport::notStudentArchive), qPrintable(out));
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("DB/学生信息.mdb"))));
    QCOMPARE(run({}, &out), 2);

    QCOMPARE(digest(jet), before);
    QCOMPARE(QFileInfo(jet).lastModified(), modified);
}

QTEST_GUILESS_MAIN(TestAccessImport)
#include "tst_accessimport.moc"
