// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/DatabaseConnection.h"
#include "platform/Gbk.h"
#include "platform/Recordset.h"
#include "platform/StudentTable.h"
#include "tests/support/TestFolder.h"

#include <QFile>
#include <QTest>

class DatabaseTest : public QObject {
    Q_OBJECT

private slots:
    void readLoopFollowsStoredOrder();
    void movingCommitsPendingWrites();
    void addNewRunClosedByOneUpdate();
    void byteColumnsRoundTripAndStayOnDisk();
    void tableDroppedWhileResultIsHeld();
    void missingFileFailsSoft();
    void invalidSqlGivesEmptyResult();
    void quoteInValueListsTheClass();
    void deleteCurrentThenUpdate();
    void failedWriteIsReportedAndCancelled();
    void transactionGroupsCommits();
    void jetTableStatementsAreTranslated_data();
    void jetTableStatementsAreTranslated();
};

void DatabaseTest::readLoopFollowsStoredOrder()
{
    TestFolder folder;
    folder.addStudents({{"张三", "七(1)班", "001", {}}, {"李四", "七(2)班", "002", jpegBytes(8, 8)},
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
    folder.addStudents({{"甲", "一班", "", {}}, {"乙", "一班", "", {}}, {"丙", "二班", "", {}}, {"丁", "一班", "", {}}});
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

void DatabaseTest::jetTableStatementsAreTranslated_data()
{
    QTest::addColumn<QString>("jet");
    QTest::addColumn<QString>("sqlite");
    QTest::newRow("students") << StudentTable::createStudents
                              << "CREATE TABLE 学生(id INTEGER PRIMARY KEY AUTOINCREMENT,姓名 TEXT,编号 TEXT,"
                                 "班级 TEXT,照片 BLOB,性别 TEXT,住址 TEXT,电话 TEXT,简介 BLOB,出生年月 TEXT,选项 TEXT)";
    QTest::newRow("classes") << StudentTable::createClasses << "CREATE TABLE 设置(单位 TEXT,帐号 TEXT,密码 TEXT)";
    QTest::newRow("sized") << "create table t(a varchar(50), b counter)"
                           << "create table t(a TEXT, b INTEGER PRIMARY KEY AUTOINCREMENT)";
    QTest::newRow("already sqlite") << "CREATE TABLE t(id INTEGER PRIMARY KEY AUTOINCREMENT)"
                                    << "CREATE TABLE t(id INTEGER PRIMARY KEY AUTOINCREMENT)";
    QTest::newRow("data untouched") << "DROP TABLE varchar" << "DROP TABLE varchar";
}

void DatabaseTest::jetTableStatementsAreTranslated()
{
    QFETCH(QString, jet);
    QFETCH(QString, sqlite);
    QCOMPARE(translateTableStatement(jet), sqlite);
}

QTEST_GUILESS_MAIN(DatabaseTest)
#include "tst_database.moc"
