// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/DatabaseConnection.h"
#include "archive/ProgramFolder.h"
#include "archive/Recordset.h"
#include "archive/SqliteSession.h"
#include "archive/StudentTable.h"
#include "formats/Gbk.h"
#include "tests/support/ArchiveLocks.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A connection and a recordset open on a query, as one window holds them.
struct Opened {
    DatabaseConnection connection;
    Recordset records;
    Opened(const TestFolder& folder, const QString& sql)
    {
        connection.openDatabaseFile(folder.databaseFile());
        records.attach(connection);
        records.open(sql);
    }
};

// An SQLite file made by another program, holding what `statements` make.
QByteArray sqliteFile(const QStringList& statements)
{
    DatabaseConnection connection;
    if (!connection.createInMemory())
        qFatal("no in-memory database");
    for (const QString& statement : statements)
        connection.execute(statement);
    return connection.fileBytes();
}

// Files SQLite keeps beside a database it has opened for writing.
QStringList companions(const QString& path)
{
    QStringList found;
    for (const char* suffix : {"-wal", "-shm", "-journal"}) {
        if (QFile::exists(path + QLatin1String(suffix)))
            found << QLatin1String(suffix);
    }
    return found;
}

// What the sqlite3 shell prints for one query: another program reading the archive and closing
// it again, as a school's own tools would.
QString shellQuery(const QString& file, const QString& sql)
{
    const QString shell = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    if (shell.isEmpty())
        qFatal("the sqlite3 shell is not installed");
    QProcess process;
    process.start(shell, {file, sql});
    if (!process.waitForFinished(10000) || process.exitCode() != 0)
        return QStringLiteral("failed: ") + QString::fromUtf8(process.readAllStandardError());
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// The sqlite3 shell with the archive open, as a school's own tools keep it: between two
// reads, or inside a read transaction that began before the saves that follow.
class ShellReader {
public:
    ShellReader(const QString& file, bool inTransaction)
    {
        m_shell.start(QStandardPaths::findExecutable(QStringLiteral("sqlite3")), {"-batch", file});
        m_shell.write(inTransaction ? "BEGIN;\nSELECT count(*) FROM 学生;\n"
                                    : "SELECT count(*) FROM 学生;\n");
        while (!m_shell.canReadLine() && m_shell.waitForReadyRead(10000)) {
        }
        m_shell.readAll();
    }
    ~ShellReader() { end(); }
    void end()
    {
        if (m_shell.state() == QProcess::NotRunning)
            return;
        m_shell.write("COMMIT;\n");
        m_shell.closeWriteChannel();
        m_shell.waitForFinished(10000);
    }

private:
    QProcess m_shell;
};

// The names a plain copy of the file holds, the file alone without its log, copied by
// another program as a backup is.
QString copiedNames(const QString& file)
{
    QTemporaryDir dir;
    const QString copy = dir.filePath("copy.mdb");
    if (QProcess::execute("cp", {file, copy}) != 0)
        return "cp failed";
    return shellQuery(copy, "select group_concat(姓名) from 学生");
}

// A file system of `size` bytes of its own, so a test can fill it; unmounted when it goes.
class SmallDisk {
public:
    explicit SmallDisk(const QString& size)
    {
        if (getuid() != 0 || !m_dir.isValid())
            return;
        m_mounted =
            QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=" + size, "tmpfs", m_dir.path()}) == 0;
    }
    ~SmallDisk()
    {
        if (m_mounted)
            QProcess::execute("umount", {"-l", m_dir.path()});
    }
    bool isMounted() const { return m_mounted; }
    QString path() const { return m_dir.path(); }
    // Writes one file until the disk takes no more.
    void fill() const
    {
        QFile filler(path() + "/filler");
        if (!filler.open(QIODevice::WriteOnly))
            return;
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
    }

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
};

} // namespace

class DatabaseTest : public QObject {
    Q_OBJECT

private slots:
    void readLoopFollowsStoredOrder();
    void movingCommitsPendingWrites();
    void addNewRunClosedByOneUpdate();
    void byteColumnsRoundTripAndStayOnDisk();
    void tableDroppedWhileResultIsHeld();
    void repeatedQuerySeesEveryChange();
    void missingFileFailsSoft();
    void invalidSqlGivesEmptyResult();
    void quoteInValueListsTheClass();
    void deleteCurrentThenUpdate();
    void failedWriteIsReportedAndCancelled();
    void transactionGroupsCommits();
    void failedSaveLeavesNothingBehind();
    void failedAddNewRunStoresNothing();
    void failuresSayWhatFailed();
    void everyCommitIsSynced();
    void refusedFilesAreLeftAlone_data();
    void refusedFilesAreLeftAlone();
    void missingFileIsToldApart();
    void damagedPagesAreReportedAndNotWritten();
    void readOnlyArchiveIsListed_data();
    void readOnlyArchiveIsListed();
    void lockWaitIsAnnounced();
    void setUpReplacesOnlyFilesWithoutData_data();
    void setUpReplacesOnlyFilesWithoutData();
    void jetTableStatementsAreTranslated_data();
    void jetTableStatementsAreTranslated();
    void otherOpenersKeepTheLogAlive_data();
    void otherOpenersKeepTheLogAlive();
    void plainCopyHoldsEverySave();
    void fullDiskOpensReadOnly();
};

void DatabaseTest::readLoopFollowsStoredOrder()
{
    TestFolder folder;
    folder.addStudents({{"张三", "七(1)班", "001", {}},
                        {"李四", "七(2)班", "002", jpegBytes(8, 8)},
                        {"王五", "七(1)班", "003", {}}});
    DatabaseConnection connection;
    QVERIFY(connection.openDatabaseFile(folder.databaseFile(), "2961574"));
    Recordset students;
    students.attach(connection);
    QVERIFY(students.open(StudentTable::selectAll));
    QCOMPARE(students.recordCount(), 3);
    QCOMPARE(students.fieldCount(), 11);
    QCOMPARE(students.fieldName(0), QString("id"));
    QCOMPARE(students.fieldName(10), QString("选项"));

    QStringList names, photos;
    students.moveFirst();
    for (int i = 0; i < students.recordCount(); ++i) {
        names << students.readText(u"姓名") + students.readText(u"编号");
        photos << (students.fieldIsEmpty(u"照片") ? "无" : "有");
        QCOMPARE(students.readInteger(u"ID"), i + 1); // field names are case-insensitive
        students.moveNext();
    }
    QCOMPARE(names, QStringList({"张三001", "李四002", "王五003"}));
    QCOMPARE(photos, QStringList({"无", "有", "无"}));

    // Past the end: harmless, and reads without a current record are empty.
    QVERIFY(students.atEnd());
    students.moveNext();
    QVERIFY(students.atEnd());
    QCOMPARE(students.readText(u"姓名"), QString());
    QCOMPARE(students.readInteger(u"id"), 0);
    QVERIFY(students.readBytes(u"照片").isEmpty());
    QVERIFY(!students.writeText(u"姓名", "x"));
    QCOMPARE(students.readText(u"没有这个字段"), QString());
}

void DatabaseTest::movingCommitsPendingWrites()
{
    TestFolder folder;
    folder.addStudents(
        {{"甲", "一班", "", {}}, {"乙", "一班", "", {}}, {"丙", "二班", "", {}}, {"丁", "一班", "", {}}});
    DatabaseConnection connection;
    connection.openDatabaseFile(folder.databaseFile());
    Recordset students;
    students.attach(connection);
    QVERIFY(students.open(StudentTable::selectClass(u"一班")));
    QCOMPARE(students.recordCount(), 3);
    for (int i = 1; i <= 3; ++i) {
        QVERIFY(students.writeText(u"编号", QString("2014%1").arg(i, 3, 10, QChar('0'))));
        QCOMPARE(students.readText(u"编号"), QString("2014%1").arg(i, 3, 10, QChar('0')));
        QVERIFY(students.moveNext());
    }
    QVERIFY(students.update());

    // Another connection, as another window or the web server would have.
    QCOMPARE(folder.storedColumn(u"编号"), QStringList({"2014001", "2014002", "", "2014003"}));
}

void DatabaseTest::addNewRunClosedByOneUpdate()
{
    TestFolder folder;
    DatabaseConnection connection;
    connection.openDatabaseFile(folder.databaseFile());
    Recordset classes;
    classes.attach(connection);
    QVERIFY(classes.open(StudentTable::selectClasses));
    for (const QString name : {"一班", "二班", "三班"}) {
        QVERIFY(classes.addNew());
        QVERIFY(classes.writeText(u"单位", name));
        QVERIFY(classes.writeText(u"帐号", name + "帐号"));
    }
    QVERIFY(classes.update());
    QCOMPARE(classes.recordCount(), 3);

    Recordset check;
    check.attach(connection);
    check.open(StudentTable::selectClasses);
    QStringList rows;
    for (int i = 0; i < check.recordCount(); ++i, check.moveNext())
        rows << check.readText(u"单位") + "/" + check.readText(u"帐号");
    QCOMPARE(rows, QStringList({"一班/一班帐号", "二班/二班帐号", "三班/三班帐号"}));
}

void DatabaseTest::byteColumnsRoundTripAndStayOnDisk()
{
    TestFolder folder;
    DatabaseConnection connection;
    connection.openDatabaseFile(folder.databaseFile());
    Recordset students;
    students.attach(connection);
    students.open(StudentTable::selectAll);

    const QByteArray photo = jpegBytes(170, 210);
    const QByteArray remarks = gbk::encode(u"第一行\r\n第二行");
    QVERIFY(students.moveLast());
    QVERIFY(students.addNew());
    students.writeText(u"姓名", "赵六");
    students.writeBytes(u"照片", photo);
    students.writeBytes(u"简介", remarks);
    QVERIFY(students.update());
    QCOMPARE(students.readInteger(u"id"), 1); // the database's id, read back after the insert
    QVERIFY(students.addNew());
    students.writeText(u"姓名", "无照片");
    students.writeBytes(u"照片", QByteArray());
    QVERIFY(students.update());

    Recordset check;
    check.attach(connection);
    check.open(StudentTable::selectAll);
    QCOMPARE(check.readBytes(u"照片"), photo);
    QCOMPARE(gbk::decode(check.readBytes(u"简介")), QString("第一行\r\n第二行"));
    QVERIFY(!check.fieldIsEmpty(u"照片"));
    check.moveNext();
    // An empty photo is stored as zero bytes and counts as no photo; remarks never set read empty.
    QVERIFY(check.fieldIsEmpty(u"照片"));
    QVERIFY(check.readBytes(u"照片").isEmpty());
    QVERIFY(check.readBytes(u"简介").isEmpty());

    // Replacing a photo of a listed record writes through to the file.
    check.moveFirst();
    const QByteArray other = jpegBytes(20, 30, Qt::red);
    check.writeBytes(u"照片", other);
    QVERIFY(check.update());
    students.open(StudentTable::selectId(1));
    QCOMPARE(students.readBytes(u"照片"), other);
}

void DatabaseTest::tableDroppedWhileResultIsHeld()
{
    TestFolder folder;
    folder.addStudents({{"甲", "一班", "1", {}}, {"乙", "一班", "2", {}}});
    DatabaseConnection window;
    window.openDatabaseFile(folder.databaseFile());
    Recordset held;
    held.attach(window);
    held.open(StudentTable::selectAll);

    DatabaseConnection admin;
    admin.openDatabaseFile(folder.databaseFile());
    QVERIFY2(admin.execute("DROP TABLE 学生"), qPrintable(admin.lastError()));
    QVERIFY(admin.execute(StudentTable::createStudents));

    // The held result still reads; the new table starts counting ids at 1 again.
    QCOMPARE(held.readText(u"姓名"), QString("甲"));
    Recordset fresh;
    fresh.attach(admin);
    fresh.open(StudentTable::selectAll);
    QCOMPARE(fresh.recordCount(), 0);
    fresh.addNew();
    fresh.writeText(u"姓名", "新");
    QVERIFY(fresh.update());
    QCOMPARE(fresh.readInteger(u"id"), 1);
}

// A connection that runs the same query again and again, as the web server's pages do, sees
// every change made since: another connection's, another program's, its own, a remark stored
// behind the photo, and a table made anew.
void DatabaseTest::repeatedQuerySeesEveryChange()
{
    TestFolder folder;
    folder.addStudents(
        {{"甲", "一班", "1", jpegBytes(40, 50)}, {"乙", "一班", "2", {}}, {"丁", "二班", "3", {}}});
    DatabaseConnection web;
    QVERIFY(web.openDatabaseFile(folder.databaseFile()));
    const QString sql = QStringLiteral("select * from 学生 where 班级='一班'");
    auto list = [&] {
        Recordset rs;
        rs.attach(web);
        rs.open(sql);
        QStringList seen;
        for (; !rs.atEnd(); rs.moveNext())
            seen << rs.readText(u"姓名") + u'/' + rs.readText(u"住址");
        return seen.join(u';');
    };
    QCOMPARE(list(), QString("甲/;乙/"));
    QCOMPARE(list(), QString("甲/;乙/"));

    DatabaseConnection desktop;
    QVERIFY(desktop.openDatabaseFile(folder.databaseFile()));
    QVERIFY(desktop.execute("UPDATE 学生 SET 住址='北京路' WHERE 姓名='甲'"));
    QCOMPARE(list(), QString("甲/北京路;乙/"));
    QCOMPARE(shellQuery(folder.databaseFile(), "UPDATE 学生 SET 姓名='丙' WHERE 姓名='乙'"), QString());
    QCOMPARE(list(), QString("甲/北京路;丙/"));

    Recordset own;
    own.attach(web);
    QVERIFY(own.open(sql));
    QVERIFY(own.moveNext());
    QVERIFY(own.writeText(u"住址", "上海路"));
    QVERIFY(own.update());
    QCOMPARE(list(), QString("甲/北京路;丙/上海路"));
    QVERIFY(web.execute("DELETE FROM 学生 WHERE 姓名='甲'"));
    QCOMPARE(list(), QString("丙/上海路"));

    QVERIFY(desktop.execute("DROP TABLE 学生"));
    QVERIFY(desktop.execute("CREATE TABLE 学生(id INTEGER PRIMARY KEY, 姓名 TEXT, 班级 TEXT, 住址 TEXT)"));
    QVERIFY(desktop.execute("INSERT INTO 学生(姓名, 班级, 住址) VALUES ('新', '一班', '南京路')"));
    QCOMPARE(list(), QString("新/南京路"));
}

void DatabaseTest::missingFileFailsSoft()
{
    TestFolder folder(false);
    DatabaseConnection connection;
    QVERIFY(!connection.openDatabaseFile(folder.databaseFile()));
    QVERIFY(!connection.lastError().isEmpty());
    QVERIFY(!QFile::exists(folder.databaseFile())); // never created by opening

    Recordset students;
    students.attach(connection);
    QVERIFY(!students.open(StudentTable::selectAll));
    QCOMPARE(students.recordCount(), 0);
    QVERIFY(students.atEnd());
    QCOMPARE(students.readText(u"姓名"), QString());
    QVERIFY(!students.addNew());
    QVERIFY(!students.update() || students.recordCount() == 0);

    // A file that is not a database behaves the same.
    QFile junk(folder.databaseFile());
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(4096, 'x'));
    junk.close();
    QVERIFY(!connection.openDatabaseFile(folder.databaseFile()));
    QVERIFY(!students.open(StudentTable::selectAll));
}

void DatabaseTest::invalidSqlGivesEmptyResult()
{
    TestFolder folder;
    folder.addStudents({{"甲", "一班", "1", {}}});
    DatabaseConnection connection;
    connection.openDatabaseFile(folder.databaseFile());
    Recordset students;
    students.attach(connection);
    QVERIFY(students.open(StudentTable::selectAll));
    QVERIFY(!students.open("select * from 学生 where 班级='a'b'"));
    QCOMPARE(students.recordCount(), 0);
    QCOMPARE(students.fieldCount(), 0);
    QVERIFY(students.atEnd());
    QVERIFY(!students.lastError().isEmpty());
    QVERIFY(!students.open("select * from 没有的表"));
    QCOMPARE(students.recordCount(), 0);
    QVERIFY(!connection.execute("CREATE TABLE"));
    QVERIFY(!connection.lastError().isEmpty());
}

void DatabaseTest::quoteInValueListsTheClass()
{
    TestFolder folder;
    folder.addStudents({{"O'Brien", "O'Neil班", "1", {}}, {"乙", "一班", "2", {}}});
    DatabaseConnection connection;
    connection.openDatabaseFile(folder.databaseFile());
    Recordset students;
    students.attach(connection);
    QVERIFY(students.open(StudentTable::selectClass(u"O'Neil班")));
    QCOMPARE(students.recordCount(), 1);
    QVERIFY(students.open(StudentTable::selectNumberOrName(u"O'Brien")));
    QCOMPARE(students.recordCount(), 1);
    QVERIFY(students.writeText(u"住址", "St. Mary's Road"));
    QVERIFY(students.update());
    students.open(StudentTable::selectId(1));
    QCOMPARE(students.readText(u"住址"), QString("St. Mary's Road"));
}

void DatabaseTest::deleteCurrentThenUpdate()
{
    TestFolder folder;
    folder.addStudents({{"甲", "一班", "1", {}}, {"乙", "一班", "2", {}}, {"丙", "一班", "3", {}}});
    DatabaseConnection connection;
    connection.openDatabaseFile(folder.databaseFile());
    Recordset students;
    students.attach(connection);
    students.open(StudentTable::selectAll);
    students.moveNext();
    QVERIFY(students.deleteCurrent());
    QVERIFY(students.update());
    QCOMPARE(students.recordCount(), 2);
    students.moveNext(); // to the record that followed the deleted one
    QCOMPARE(students.readText(u"姓名"), QString("丙"));

    students.open(StudentTable::selectId(3));
    QVERIFY(students.deleteCurrent());
    QVERIFY(students.update());
    QVERIFY(!students.deleteCurrent()); // nothing left to delete

    Recordset check;
    check.attach(connection);
    check.open(StudentTable::selectAll);
    QCOMPARE(check.recordCount(), 1);
    QCOMPARE(check.readText(u"姓名"), QString("甲"));
}

void DatabaseTest::failedWriteIsReportedAndCancelled()
{
    TestFolder folder;
    folder.addStudents({{"甲", "一班", "1", {}}});
    folder.execute("CREATE TRIGGER refuse BEFORE INSERT ON 学生 BEGIN SELECT RAISE(ABORT, 'refused'); END");
    DatabaseConnection connection;
    connection.openDatabaseFile(folder.databaseFile());
    Recordset students;
    students.attach(connection);
    students.open(StudentTable::selectAll);
    students.addNew();
    students.writeText(u"姓名", "新生");
    QVERIFY(!students.update());
    QVERIFY(students.lastError().contains("refused"));
    QCOMPARE(students.recordCount(), 1);
    // The refused record is dropped, so later moves do not fail over and over.
    QVERIFY(students.moveFirst());
    QCOMPARE(students.readText(u"姓名"), QString("甲"));
}

void DatabaseTest::transactionGroupsCommits()
{
    TestFolder folder;
    folder.addStudents({{"甲", "一班", "1", {}}, {"乙", "一班", "2", {}}});
    DatabaseConnection connection;
    connection.openDatabaseFile(folder.databaseFile());
    Recordset students;
    students.attach(connection);
    students.open(StudentTable::selectAll);
    {
        DatabaseTransaction transaction(connection);
        QVERIFY(transaction.isActive());
        students.writeText(u"编号", "x");
        students.moveNext();
        // Not committed: leaving the scope rolls back.
    }
    {
        DatabaseTransaction transaction(connection);
        students.moveFirst();
        students.writeText(u"编号", "y");
        students.moveNext();
        QVERIFY(transaction.commit());
    }
    DatabaseConnection other;
    other.openDatabaseFile(folder.databaseFile());
    Recordset check;
    check.attach(other);
    check.open(StudentTable::selectId(1));
    QCOMPARE(check.readText(u"编号"), QString("y"));
}

void DatabaseTest::failedSaveLeavesNothingBehind()
{
    TestFolder folder;
    folder.addStudents({{"甲", "一班", "1", {}}, {"乙", "一班", "2", {}}});
    Opened opened(folder, StudentTable::selectAll);
    Recordset& students = opened.records;
    QVERIFY(students.writeText(u"姓名", "改了"));
    QVERIFY(!students.writeText(u"没有的字段", "x"));
    QVERIFY(!students.writeText(u"住址", "也改了")); // the rest of the record goes with it
    QVERIFY(!students.update());
    QVERIFY(students.lastError().contains("没有的字段"));
    QCOMPARE(students.readText(u"姓名"), QString("甲"));

    // Neither the next move nor the next query stores any of it.
    students.writeText(u"姓名", "又改了");
    students.writeBytes(u"没有的字段", "x");
    QVERIFY(!students.moveNext());
    students.writeText(u"电话", "改了");
    students.writeText(u"没有的字段", "x");
    students.open(StudentTable::selectAll);
    QCOMPARE(folder.storedColumn(u"姓名"), QStringList({"甲", "乙"}));
    QCOMPARE(folder.storedColumn(u"电话"), QStringList({"", ""}));

    // The next edit is a new one and is stored.
    QVERIFY(students.writeText(u"住址", "新地址"));
    QVERIFY(students.update());
    QCOMPARE(folder.storedColumn(u"住址"), QStringList({"新地址", ""}));
}

void DatabaseTest::failedAddNewRunStoresNothing()
{
    TestFolder folder;
    folder.execute("CREATE TRIGGER refuse BEFORE INSERT ON 设置 WHEN NEW.单位='坏班' "
                   "BEGIN SELECT RAISE(ABORT, 'refused'); END");
    Opened opened(folder, StudentTable::selectClasses);
    Recordset& classes = opened.records;
    const auto run = [&](const QStringList& names, const QString& field) {
        for (const QString& name : names) {
            classes.addNew();
            classes.writeText(name == "缺字段" ? field : QStringLiteral("单位"), name);
        }
        return classes.update();
    };
    const auto stored = [&] {
        Opened check(folder, StudentTable::selectClasses);
        QStringList names;
        for (int i = 0; i < check.records.recordCount(); ++i, check.records.moveNext())
            names << check.records.readText(u"单位");
        return names;
    };

    // The database refuses one record: the records before it go as well.
    QVERIFY(!run({"一班", "坏班", "三班"}, {}));
    QVERIFY(classes.lastError().contains("refused"));
    QCOMPARE(classes.recordCount(), 0);
    QCOMPARE(stored(), QStringList());

    // One record cannot be written: the same.
    QVERIFY(!run({"一班", "缺字段", "三班"}, "没有的字段"));
    QVERIFY(classes.lastError().contains("没有的字段"));
    QCOMPARE(stored(), QStringList());

    // A later run is stored whole.
    QVERIFY(run({"一班", "二班"}, {}));
    QCOMPARE(classes.recordCount(), 2);
    QCOMPARE(stored(), QStringList({"一班", "二班"}));
}

void DatabaseTest::failuresSayWhatFailed()
{
    TestFolder folder(false);
    DatabaseConnection connection;
    Recordset students;
    students.attach(connection);
    const auto failures = [&] {
        students.open(StudentTable::selectAll);
        QStringList reasons{students.lastError()};
        students.addNew();
        reasons << students.lastError();
        students.writeText(u"姓名", "x");
        reasons << students.lastError();
        return reasons;
    };

    connection.openDatabaseFile(folder.databaseFile());
    QCOMPARE(failures(), QStringList(3, "找不到数据库文件"));

    writeTestFile(folder.databaseFile(), {});
    connection.openDatabaseFile(folder.databaseFile());
    for (const QString& reason : failures())
        QVERIFY2(reason.contains("0 字节"), qPrintable(reason));

    QFile::remove(folder.databaseFile());
    TestFolder other;
    QVERIFY(connection.openDatabaseFile(other.databaseFile()));
    connection.close();
    QCOMPARE(failures(), QStringList(3, "数据库已关闭"));
}

void DatabaseTest::everyCommitIsSynced()
{
    // A file another SQLite program made, in its default journal mode.
    TestFolder folder(false);
    sqlite3* db = nullptr;
    sqlite3_open(QFile::encodeName(folder.databaseFile()).constData(), &db);
    sqlite3_exec(db, sqliteStatement(StudentTable::createStudents).toUtf8().constData(), nullptr, nullptr,
                 nullptr);
    sqlite3_close(db);
    const QByteArray before = fileBytes(folder.databaseFile());

    DatabaseConnection connection;
    QVERIFY(connection.openDatabaseFile(folder.databaseFile()));
    Recordset pragma;
    pragma.attach(connection);
    QVERIFY(pragma.open("PRAGMA synchronous"));
    QCOMPARE(pragma.readInteger(u"synchronous"), 2); // FULL
    QVERIFY(pragma.open("PRAGMA journal_mode"));
    QCOMPARE(pragma.readText(u"journal_mode"), QString("delete"));
    QCOMPARE(fileBytes(folder.databaseFile()), before); // looking changes nothing

    Recordset students;
    students.attach(connection);
    students.open(StudentTable::selectAll);
    students.addNew();
    students.writeText(u"姓名", "甲");
    QVERIFY(students.update());
    QVERIFY(pragma.open("PRAGMA journal_mode"));
    QCOMPARE(pragma.readText(u"journal_mode"), QString("wal"));
}

void DatabaseTest::refusedFilesAreLeftAlone_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("requiredTable");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<ErrorKind>("kind");
    const ErrorKind foreign = ErrorKind::NotStudentArchive;
    QTest::newRow("zero bytes") << QByteArray() << QString() << "0 字节" << foreign;
    QTest::newRow("a text file") << QByteArray("姓名,班级\n张三,一班\n") << QString() << "不是数据库文件"
                                 << foreign;
    QTest::newRow("random bytes") << noiseBytes(8192, 1) << QString() << "不是数据库文件" << foreign;
    QTest::newRow("damaged header") << QByteArray("SQLite format 3\0", 16) + noiseBytes(8176, 2) << QString()
                                    << "已损坏" << ErrorKind::Damaged;
    QTest::newRow("an Access file") << QByteArray("\0\1\0\0Standard Jet DB\0", 20) + noiseBytes(8172, 3)
                                    << QString() << "Access 格式" << ErrorKind::NotConverted;
    QTest::newRow("SQLite without tables")
        << sqliteFile({"PRAGMA user_version=7"}) << QString() << "没有任何表" << foreign;
    QTest::newRow("another program's database")
        << sqliteFile({"CREATE TABLE bookmarks(url TEXT)", "INSERT INTO bookmarks VALUES('x')"})
        << QString("学生") << "没有“学生”表" << foreign;
}

void DatabaseTest::refusedFilesAreLeftAlone()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, requiredTable);
    QFETCH(QString, reason);
    QFETCH(ErrorKind, kind);
    TestFolder folder(false);
    writeTestFile(folder.databaseFile(), bytes);

    DatabaseConnection connection;
    QVERIFY(!connection.openDatabaseFile(folder.databaseFile(), {}, requiredTable));
    QVERIFY2(connection.lastError().contains(reason), qPrintable(connection.lastError()));
    QCOMPARE(connection.lastErrorKind(), kind);
    Recordset students;
    students.attach(connection);
    QVERIFY(!students.open(StudentTable::selectAll));
    QVERIFY(!students.addNew());
    QVERIFY(!connection.execute(StudentTable::createStudents));
    QCOMPARE(connection.lastErrorKind(), kind);
    QVERIFY(students.lastError().contains(reason));

    QCOMPARE(fileBytes(folder.databaseFile()), bytes);
    QCOMPARE(companions(folder.databaseFile()), QStringList());
}

void DatabaseTest::missingFileIsToldApart()
{
    TestFolder folder(false);
    DatabaseConnection connection;
    QVERIFY(!connection.openDatabaseFile(folder.databaseFile()));
    QCOMPARE(connection.lastErrorKind(), ErrorKind::Missing);
    QCOMPARE(connection.lastError(), QString("找不到数据库文件"));
}

void DatabaseTest::damagedPagesAreReportedAndNotWritten()
{
    TestFolder folder;
    QList<TestFolder::Student> students;
    for (int i = 0; i < 30; ++i)
        students.append(
            {QString("学生%1").arg(i), "一班", QString::number(i), noiseBytes(20000, quint32(i))});
    folder.addStudents(students);
    QVERIFY(DatabaseConnection::checkWholeFile(folder.databaseFile()));

    // Every page after the first, which holds the table list, is overwritten.
    QByteArray bytes = fileBytes(folder.databaseFile());
    const QByteArray garbage = noiseBytes(int(bytes.size()) - 4096, 99);
    bytes.replace(4096, garbage.size(), garbage);
    writeTestFile(folder.databaseFile(), bytes);

    DatabaseConnection connection;
    QVERIFY2(connection.openDatabaseFile(folder.databaseFile()), qPrintable(connection.lastError()));
    QVERIFY(!connection.isDamaged());
    Recordset list;
    list.attach(connection);
    QVERIFY(!list.open(StudentTable::selectAll));
    QCOMPARE(list.lastError(), QString("数据库文件已损坏"));
    QVERIFY(connection.isDamaged());
    QVERIFY(!connection.execute("CREATE TABLE 新表(a varchar)"));
    QVERIFY2(connection.lastError().contains("请从备份恢复"), qPrintable(connection.lastError()));
    QString problem;
    QVERIFY(!DatabaseConnection::checkWholeFile(folder.databaseFile(), &problem));
    QVERIFY2(problem.startsWith("数据库文件已损坏"), qPrintable(problem));
    connection.close();
    QCOMPARE(fileBytes(folder.databaseFile()), bytes);

    // Damage found by the whole-file check stops writes on a connection that has not met it.
    TestFolder whole;
    whole.addStudents({{"甲", "一班", "1", {}}});
    Opened other(whole, StudentTable::selectAll);
    other.connection.markDamaged({});
    Recordset& record = other.records;
    QCOMPARE(record.recordCount(), 1);
    record.writeText(u"姓名", "改了");
    QVERIFY(!record.update());
    QVERIFY(record.lastError().contains("已损坏"));
    QCOMPARE(whole.storedColumn(u"姓名"), QStringList({"甲"}));
}

void DatabaseTest::readOnlyArchiveIsListed_data()
{
    QTest::addColumn<bool>("walFile");
    QTest::addColumn<bool>("folderWritable");
    QTest::newRow("read-only folder") << false << false;
    QTest::newRow("read-only folder, WAL file") << true << false;
    QTest::newRow("read-only file, WAL file") << true << true;
}

void DatabaseTest::readOnlyArchiveIsListed()
{
    QFETCH(bool, walFile);
    QFETCH(bool, folderWritable);
    TestFolder folder;
    const QByteArray photo = jpegBytes(40, 50);
    folder.addStudents({{"甲", "一班", "1", photo}, {"乙", "一班", "2", {}}});
    if (walFile) {
        DatabaseConnection once; // switches the file to WAL; closing removes the log
        QVERIFY(once.openDatabaseFile(folder.databaseFile()));
    }
    const QString file = folder.databaseFile();
    const QString db = ProgramFolder::databaseFolder(folder.path());
    const QByteArray before = fileBytes(file);
    chmod(QFile::encodeName(folder.path()).constData(), 0755);
    chmod(QFile::encodeName(db).constData(), folderWritable ? 0777 : 0555);
    chmod(QFile::encodeName(file).constData(), 0444);

    const int result = runWithoutPrivileges([&] {
        const auto check = [](bool ok, const char* what) {
            if (!ok)
                qWarning("read-only archive: %s", what);
            return ok;
        };
        DatabaseConnection connection;
        const bool opened = connection.openDatabaseFile(file);
        if (!check(opened, qPrintable(connection.lastError())))
            return false;
        Recordset students;
        students.attach(connection);
        const bool listed = check(connection.isReadOnly(), "opened for writing")
                            && check(students.open(StudentTable::selectClass(u"一班")), "not listed")
                            && check(students.recordCount() == 2, "wrong count")
                            && check(students.readBytes(u"照片") == photo, "photo not read");
        students.writeText(u"姓名", "改了");
        const bool saveRefused = check(!students.update(), "saved")
                                 && check(students.lastError() == "数据库文件是只读的，不能写入",
                                          qPrintable(students.lastError()));
        students.addNew();
        students.writeText(u"姓名", "新生");
        const bool addRefused = check(!students.update(), "added")
                                && check(students.lastError() == "数据库文件是只读的，不能写入",
                                         qPrintable(students.lastError()));
        const bool dropRefused = check(!connection.execute("DROP TABLE 学生"), "dropped");
        return listed && saveRefused && addRefused && dropRefused;
    });
    chmod(QFile::encodeName(db).constData(), 0755);
    chmod(QFile::encodeName(file).constData(), 0644);
    QCOMPARE(result, 0);
    QCOMPARE(fileBytes(file), before);
    QCOMPARE(folder.storedColumn(u"姓名"), QStringList({"甲", "乙"}));
}

void DatabaseTest::lockWaitIsAnnounced()
{
    TestFolder folder;
    folder.addStudents({{"甲", "一班", "1", {}}});
    DatabaseConnection connection;
    connection.openDatabaseFile(folder.databaseFile());
    QList<bool> waits;
    connection.setLockWaitHandler([&](bool waiting) { waits << waiting; });

    // Another program holds the write lock for a moment.
    int ready[2];
    QVERIFY(pipe(ready) == 0);
    const QByteArray file = QFile::encodeName(folder.databaseFile());
    const pid_t holder = startChild([&] {
        sqlite3* db = nullptr;
        sqlite3_open(file.constData(), &db);
        const bool locked =
            sqlite3_exec(db, "BEGIN IMMEDIATE; UPDATE 学生 SET 住址='别的程序'", nullptr, nullptr, nullptr)
            == SQLITE_OK;
        (void)!write(ready[1], locked ? "y" : "n", 1);
        usleep(300 * 1000);
        const bool committed = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
        sqlite3_close(db);
        return locked && committed;
    });
    char locked = 0;
    QCOMPARE(read(ready[0], &locked, 1), ssize_t(1));
    QCOMPARE(locked, 'y');

    Recordset students;
    students.attach(connection);
    QVERIFY(students.open(StudentTable::selectAll)); // readers do not wait in WAL mode
    QVERIFY(waits.isEmpty());
    students.writeText(u"电话", "123");
    QVERIFY2(students.update(), qPrintable(students.lastError()));
    QCOMPARE(waits, QList<bool>({true, false}));
    QCOMPARE(waitForChild(holder), 0);
    ::close(ready[0]);
    ::close(ready[1]);
    QCOMPARE(folder.storedColumn(u"电话"), QStringList({"123"}));
    QCOMPARE(folder.storedColumn(u"住址"), QStringList({"别的程序"}));
}

void DatabaseTest::setUpReplacesOnlyFilesWithoutData_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("replaced");
    QTest::newRow("absent") << false << QByteArray() << true;
    QTest::newRow("zero bytes") << true << QByteArray() << true;
    QTest::newRow("SQLite without tables") << true << sqliteFile({"PRAGMA user_version=7"}) << true;
    QTest::newRow("empty tables") << true << sqliteFile({StudentTable::createStudents}) << false;
    QTest::newRow("a text file") << true << QByteArray("名单") << false;
    QTest::newRow("damaged") << true << QByteArray("SQLite format 3\0", 16) + noiseBytes(4080, 3) << false;
}

void DatabaseTest::setUpReplacesOnlyFilesWithoutData()
{
    QFETCH(bool, exists);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, replaced);
    TestFolder folder(false);
    if (exists)
        writeTestFile(folder.databaseFile(), bytes);
    QString error;
    QCOMPARE(StudentTable::createDatabaseFile(folder.databaseFile(), &error), replaced);
    if (!replaced) {
        QVERIFY(error.contains("已有数据"));
        QCOMPARE(fileBytes(folder.databaseFile()), bytes);
        return;
    }
    DatabaseConnection connection;
    QVERIFY(connection.openDatabaseFile(folder.databaseFile(), {}, "学生"));
    QCOMPARE(Opened(folder, StudentTable::selectAdministrator).records.readText(u"密码"), QString("514"));
    QCOMPARE(QDir(ProgramFolder::databaseFolder(folder.path())).entryList(QDir::Files | QDir::Hidden),
             QStringList({"学生信息.mdb", "学生信息.mdb-shm", "学生信息.mdb-wal"}));
}

void DatabaseTest::jetTableStatementsAreTranslated_data()
{
    QTest::addColumn<QString>("jet");
    QTest::addColumn<QString>("sqlite");
    QTest::newRow("students")
        << StudentTable::createStudents
        << "CREATE TABLE 学生(id INTEGER PRIMARY KEY AUTOINCREMENT,姓名 TEXT,编号 TEXT,"
           "班级 TEXT,照片 BLOB,性别 TEXT,住址 TEXT,电话 TEXT,简介 BLOB,出生年月 TEXT,选项 TEXT)";
    QTest::newRow("classes") << StudentTable::createClasses
                             << "CREATE TABLE 设置(单位 TEXT,帐号 TEXT,密码 TEXT)";
    QTest::newRow("sized") << "create table t(a varchar(50), b counter)"
                           << "create table t(a TEXT, b INTEGER PRIMARY KEY AUTOINCREMENT)";
    QTest::newRow("already sqlite") << "CREATE TABLE t(id INTEGER PRIMARY KEY AUTOINCREMENT)"
                                    << "CREATE TABLE t(id INTEGER PRIMARY KEY AUTOINCREMENT)";
    QTest::newRow("data untouched") << "DROP TABLE varchar"
                                    << "DROP TABLE varchar";
}

void DatabaseTest::jetTableStatementsAreTranslated()
{
    QFETCH(QString, jet);
    QFETCH(QString, sqlite);
    QCOMPARE(sqliteStatement(jet), sqlite);
}

void DatabaseTest::otherOpenersKeepTheLogAlive_data()
{
    QTest::addColumn<QString>("opener");
    QTest::newRow("another window") << "window";
    QTest::newRow("a window refusing the file") << "refusing window";
    QTest::newRow("the start-up check") << "whole-file check";
    QTest::newRow("the set-up tool's check") << "holds data";
}

// Connection A is a window that has saved; others open and close the same file, in this
// process and in another program. A's lock must outlive them, so the log it writes into is
// the one every later program reads.
void DatabaseTest::otherOpenersKeepTheLogAlive()
{
    QFETCH(QString, opener);
    TestFolder folder;
    const QString file = folder.databaseFile();
    Opened a(folder, StudentTable::selectAll);
    a.records.addNew();
    a.records.writeText(u"姓名", "甲");
    QVERIFY(a.records.update());
    QVERIFY(QFileInfo::exists(file + "-wal"));
    QCOMPARE(archiveLockFault(), QString());

    if (opener == "window") {
        Opened other(folder, StudentTable::selectAll);
        QCOMPARE(other.records.recordCount(), 1);
    } else if (opener == "refusing window") {
        DatabaseConnection other;
        QVERIFY(!other.openDatabaseFile(file, {}, "没有的表"));
    } else if (opener == "whole-file check") {
        QVERIFY(DatabaseConnection::checkWholeFile(file));
    } else {
        QVERIFY(DatabaseConnection::fileHoldsData(file));
    }
    QCOMPARE(archiveLockFault(), QString());
    QCOMPARE(shellQuery(file, "select count(*) from 学生"), QString("1"));

    QVERIFY2(QFileInfo::exists(file + "-wal"), "another program deleted the live log");
    QCOMPARE(archiveLockFault(), QString());
    a.records.addNew();
    a.records.writeText(u"姓名", "乙");
    QVERIFY(a.records.update());
    QCOMPARE(shellQuery(file, "select group_concat(姓名) from 学生"), QString("甲,乙"));
}

// The file alone is a whole archive once a save is reported, whoever has it open. A reader
// that began before the save holds its pages back without holding up the save; they reach
// the file when it lets go, or at the next write or close when it stays longer.
void DatabaseTest::plainCopyHoldsEverySave()
{
    TestFolder folder;
    const QString file = folder.databaseFile();
    const ShellReader shell(file, false);
    const Opened other(folder, StudentTable::selectAll);
    Opened window(folder, StudentTable::selectAll);
    const auto save = [&](const QString& name) {
        window.records.addNew();
        window.records.writeText(u"姓名", name);
        return window.records.update();
    };
    QVERIFY(save("甲"));
    QCOMPARE(copiedNames(file), QString("甲"));
    QVERIFY(save("乙"));
    QCOMPARE(copiedNames(file), QString("甲,乙"));

    {
        ShellReader reader(file, true);
        QVERIFY(save("丙"));
        QCOMPARE(copiedNames(file), QString("甲,乙")); // what the reader still reads
        reader.end();
        QTRY_COMPARE_WITH_TIMEOUT(copiedNames(file), QString("甲,乙,丙"), 10000);
    }
    {
        ShellReader reader(file, true);
        QVERIFY(save("丁"));
        QTest::qWait(2500); // longer than the window tries again
        reader.end();
        window.connection.close();
        QCOMPARE(copiedNames(file), QString("甲,乙,丙,丁"));
    }
    QVERIFY2(QFileInfo::exists(file + "-wal"), "the log of the programs still open was deleted");
    QCOMPARE(archiveLockFault(), QString());
}

// No room left on the disk for SQLite's shared-memory file: the archive is still listed, and
// a save says why it cannot be made.
void DatabaseTest::fullDiskOpensReadOnly()
{
    const SmallDisk disk("1m");
    if (!disk.isMounted())
        QSKIP("needs root to mount a small file system");
    TestFolder source;
    source.addClasses({"一班"});
    const QByteArray photo = jpegBytes(40, 50);
    source.addStudents({{"甲", "一班", "1", photo}, {"乙", "一班", "2", {}}});
    const QString file = disk.path() + "/学生信息.mdb";
    QVERIFY(QFile::copy(source.databaseFile(), file));
    disk.fill();

    DatabaseConnection connection;
    QVERIFY2(connection.openDatabaseFile(file), qPrintable(connection.lastError()));
    QVERIFY(connection.isReadOnly());
    Recordset students;
    students.attach(connection);
    QVERIFY(students.open(StudentTable::selectClass(u"一班")));
    QCOMPARE(students.recordCount(), 2);
    QCOMPARE(students.readBytes(u"照片"), photo);
    QVERIFY(students.open(StudentTable::selectNumberOrName(u"乙")));
    QCOMPARE(students.readText(u"编号"), QString("2"));
    students.addNew();
    students.writeText(u"姓名", "丙");
    QVERIFY(!students.update());
    QCOMPARE(students.lastError(), QString("磁盘已满，数据库只能查看，不能写入"));
}

QTEST_GUILESS_MAIN(DatabaseTest)
#include "tst_database.moc"
