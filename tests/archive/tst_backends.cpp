// SPDX-License-Identifier: GPL-3.0-or-later
// The database layer's contract, held by both back ends: the archive file and an archive on
// a PostgreSQL server that this test starts itself. Every case runs on each.
#include "archive/ArchiveCopy.h"
#include "archive/ArchiveLocation.h"
#include "archive/DatabaseConnection.h"
#include "archive/Recordset.h"
#include "archive/SqlText.h"
#include "archive/StudentTable.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/TestFolder.h"

#include <QTest>

#include <memory>

namespace {

PostgresServer* server = nullptr;

// A program folder whose archive is its file, or a fresh database on the server chosen in
// its sys.ini, so the windows' own openDatabaseFile reaches it.
struct Archive {
    std::unique_ptr<TestFolder> folder;
    QString uri;

    explicit Archive(bool onServer)
        : folder(std::make_unique<TestFolder>(!onServer))
    {
        if (!onServer)
            return;
        uri = server->createDatabase();
        DatabaseConnection connection;
        QString error;
        if (uri.isEmpty() || !connection.openLocation(uri) || !ArchiveCopy::createTables(connection, &error))
            qFatal("no server archive: %s %s", qPrintable(server->error()), qPrintable(error));
        if (!ArchiveLocation::setServer(folder->path(), uri, &error))
            qFatal("cannot choose the server: %s", qPrintable(error));
    }

    bool open(DatabaseConnection& connection) const
    {
        return connection.openDatabaseFile(folder->databaseFile());
    }

    // Students stored through the layer itself, as the entry window stores them.
    void addStudents(const QList<TestFolder::Student>& students) const
    {
        DatabaseConnection connection;
        open(connection);
        Recordset records;
        records.attach(connection);
        records.open(StudentTable::selectAll);
        for (const TestFolder::Student& s : students) {
            records.addNew();
            records.writeText(u"姓名", s.name);
            records.writeText(u"班级", s.className);
            records.writeText(u"编号", s.number);
            records.writeBytes(u"照片", s.photo);
            if (!records.update())
                qFatal("cannot store a test student: %s", qPrintable(records.lastError()));
        }
    }

    QStringList column(QStringView field, const QString& sql = StudentTable::selectAll) const
    {
        DatabaseConnection connection;
        open(connection);
        Recordset records;
        records.attach(connection);
        records.open(sql);
        QStringList values;
        for (records.moveFirst(); !records.atEnd(); records.moveNext())
            values << records.readText(field);
        return values;
    }
};

} // namespace

class BackendsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void readLoopFollowsStoredOrder_data();
    void readLoopFollowsStoredOrder();
    void editsKeepTheStoredOrder_data();
    void editsKeepTheStoredOrder();
    void listsFollowStoredOrderWhateverIsEdited_data();
    void listsFollowStoredOrderWhateverIsEdited();
    void bytesRoundTripExactly_data();
    void bytesRoundTripExactly();
    void quotedValuesAreLookedUpNotRun_data();
    void quotedValuesAreLookedUpNotRun();
    void addNewRunIsAllOrNothing_data();
    void addNewRunIsAllOrNothing();
    void rebuildWhileResultIsHeld_data();
    void rebuildWhileResultIsHeld();
    void deleteCurrentThenUpdate_data();
    void deleteCurrentThenUpdate();
    void transactionCommitsOrLeavesNothing_data();
    void transactionCommitsOrLeavesNothing();
    void failuresAreSoftAndSaid_data();
    void failuresAreSoftAndSaid();
    void jetStatementsRunAsWritten_data();
    void jetStatementsRunAsWritten();
    void copyIsAnArchiveFile_data();
    void copyIsAnArchiveFile();

private:
    void backEnds();
};

void BackendsTest::initTestCase()
{
    server = new PostgresServer;
    QVERIFY2(server->isRunning(), qPrintable(server->error()));
}

void BackendsTest::cleanupTestCase()
{
    delete server;
    server = nullptr;
}

void BackendsTest::backEnds()
{
    QTest::addColumn<bool>("onServer");
    QTest::newRow("file") << false;
    QTest::newRow("server") << true;
}

void BackendsTest::readLoopFollowsStoredOrder_data() { backEnds(); }

void BackendsTest::readLoopFollowsStoredOrder()
{
    QFETCH(bool, onServer);
    const Archive archive(onServer);
    archive.addStudents({{"张三", "七(1)班", "001", {}},
                         {"李四", "七(2)班", "002", jpegBytes(8, 8)},
                         {"王五", "七(1)班", "003", {}}});
    DatabaseConnection connection;
    QVERIFY(archive.open(connection));
    QCOMPARE(DatabaseConnection::isServerLocation(connection.location()), onServer);
    Recordset students;
    students.attach(connection);
    QVERIFY(students.open(StudentTable::selectAll));
    QCOMPARE(students.recordCount(), 3);
    QCOMPARE(students.fieldCount(), 11);
    QCOMPARE(students.fieldName(0), QString("id"));
    QCOMPARE(students.fieldName(4), QString("照片"));
    QCOMPARE(students.fieldName(10), QString("选项"));
    QVERIFY(students.isByteField(u"简介"));

    QStringList names, photos;
    for (int i = 0; i < students.recordCount(); ++i) {
        names << students.readText(u"姓名") + students.readText(u"编号");
        photos << (students.fieldIsEmpty(u"照片") ? "无" : "有");
        QCOMPARE(students.readInteger(u"ID"), i + 1);
        QCOMPARE(students.readValue(u"id").typeId(), int(QMetaType::LongLong));
        QVERIFY(!students.readValue(u"住址").isValid()); // never written: NULL
        students.moveNext();
    }
    QCOMPARE(names, QStringList({"张三001", "李四002", "王五003"}));
    QCOMPARE(photos, QStringList({"无", "有", "无"}));
    QVERIFY(students.atEnd());
    students.moveNext();
    QVERIFY(students.atEnd());
    QCOMPARE(students.readText(u"姓名"), QString());
    QVERIFY(students.readBytes(u"照片").isEmpty());
    QVERIFY(!students.writeText(u"姓名", "x"));

    QVERIFY(students.open(StudentTable::selectClass(u"七(1)班")));
    QCOMPARE(students.recordCount(), 2);
    QVERIFY(students.open(StudentTable::selectNumberOrName(u"李四")));
    QCOMPARE(students.readText(u"编号"), QString("002"));
    QVERIFY(students.open(StudentTable::selectId(3)));
    QCOMPARE(students.readText(u"姓名"), QString("王五"));
    // The pages' own spellings: capitals, two blanks, a trailing blank.
    QVERIFY(students.open(QStringLiteral("Select * from 学生  where 班级='七(2)班' ")));
    QCOMPARE(students.recordCount(), 1);
}

void BackendsTest::editsKeepTheStoredOrder_data() { backEnds(); }

// Numbering writes every row of a class; a server moves rewritten rows on its disk, but the
// list must not change its order, or numbering twice would number the class differently.
void BackendsTest::editsKeepTheStoredOrder()
{
    QFETCH(bool, onServer);
    const Archive archive(onServer);
    archive.addStudents({{"甲", "一班", "", {}}, {"乙", "一班", "", {}}, {"丙", "一班", "", {}}});
    {
        DatabaseConnection connection;
        QVERIFY(archive.open(connection));
        Recordset records;
        records.attach(connection);
        QVERIFY(records.open(StudentTable::selectClass(u"一班")));
        QVERIFY(records.writeText(u"编号", "2024001"));
        QVERIFY(records.moveNext()); // leaving the record commits it
        QVERIFY(records.writeText(u"住址", "东街"));
        QVERIFY(records.writeText(u"住址", "西街")); // the last write wins
        QVERIFY(records.update());
        QCOMPARE(records.readText(u"住址"), QString("西街"));
    }
    QCOMPARE(archive.column(u"姓名"), QStringList({"甲", "乙", "丙"}));
    QCOMPARE(archive.column(u"编号"), QStringList({"2024001", "", ""}));
    QCOMPARE(archive.column(u"住址"), QStringList({"", "西街", ""}));
}

void BackendsTest::listsFollowStoredOrderWhateverIsEdited_data()
{
    QTest::addColumn<bool>("onServer");
    QTest::addColumn<QString>("index");
    QTest::addColumn<QString>("query");
    QTest::addColumn<QStringList>("names");
    const QString earlierIndex = "CREATE INDEX 学生_班级列表 ON 学生(班级,性别,住址,电话,出生年月,选项)";
    const QStringList all{"甲", "乙", "丙", "戊", "丁"};
    for (const bool onServer : {false, true}) {
        const char* where = onServer ? "server" : "file";
        QTest::addRow("%s: a class", where)
            << onServer << StudentTable::createListIndex << StudentTable::selectClass(u"一班")
            << QStringList({"甲", "乙", "丙", "丁"});
        QTest::addRow("%s: a class, earlier index", where)
            << onServer << earlierIndex << StudentTable::selectClass(u"一班")
            << QStringList({"甲", "乙", "丙", "丁"});
        QTest::addRow("%s: everyone", where)
            << onServer << StudentTable::createListIndex << StudentTable::selectAll + ' ' << all;
        QTest::addRow("%s: the web page's class", where)
            << onServer << earlierIndex << QString("Select * from 学生  where 班级='一班' ")
            << QStringList({"甲", "乙", "丙", "丁"});
        QTest::addRow("%s: number or name", where)
            << onServer << earlierIndex << QString("select * from 学生 where 编号='x'or 性别='女'")
            << QStringList({"甲", "丙"});
        QTest::addRow("%s: the first rows", where)
            << onServer << earlierIndex << QString("select * from 学生 where 班级='一班' limit 2")
            << QStringList({"甲", "乙"});
        QTest::addRow("%s: words in quotes", where)
            << onServer << earlierIndex
            << QString("select * from 学生 where 班级='一班' and 住址<>'order by 姓名 limit 1'")
            << QStringList({"甲", "乙", "丙", "丁"});
        QTest::addRow("%s: an order of its own", where)
            << onServer << earlierIndex << QString("select * from 学生 where 班级='一班' order by 住址, id")
            << QStringList({"丁", "乙", "甲", "丙"});
    }
}

// Whatever index the archive carries and whatever was edited since, a list is in the order
// the students were entered, as the record editor, numbering, the cards and the pages read it.
void BackendsTest::listsFollowStoredOrderWhateverIsEdited()
{
    QFETCH(bool, onServer);
    QFETCH(QString, index);
    QFETCH(QString, query);
    QFETCH(QStringList, names);
    const Archive archive(onServer);
    {
        DatabaseConnection connection;
        QVERIFY(archive.open(connection));
        connection.execute("DROP INDEX IF EXISTS 学生_班级顺序");
        QVERIFY2(connection.execute(index), qPrintable(connection.lastError()));
    }
    archive.addStudents({{"甲", "一班", "1", {}},
                         {"乙", "一班", "2", jpegBytes(8, 8)},
                         {"丙", "一班", "3", {}},
                         {"戊", "二班", "5", {}},
                         {"丁", "一班", "4", {}}});
    // The record editor saves each change on its own record.
    const auto edit = [&](const QString& name, QStringView field, const QString& value) {
        DatabaseConnection connection;
        QVERIFY(archive.open(connection));
        Recordset record;
        record.attach(connection);
        QVERIFY(record.open(StudentTable::selectNumberOrName(name)));
        QVERIFY(record.writeText(field, value));
        QVERIFY2(record.update(), qPrintable(record.lastError()));
    };
    edit("甲", u"性别", "女");
    edit("丙", u"性别", "女");
    edit("甲", u"住址", "南街");
    edit("乙", u"住址", "北街");
    edit("丁", u"住址", "东街");
    edit("丙", u"住址", "西街");
    QCOMPARE(archive.column(u"姓名", query), names);
    // Read back by a second query on the same result's rows, as a list printing every student does.
    QCOMPARE(archive.column(u"住址", StudentTable::selectClass(u"一班")),
             QStringList({"南街", "北街", "西街", "东街"}));
}

void BackendsTest::bytesRoundTripExactly_data() { backEnds(); }

void BackendsTest::bytesRoundTripExactly()
{
    QFETCH(bool, onServer);
    const Archive archive(onServer);
    QByteArray everyByte;
    for (int i = 0; i < 256 * 40; ++i)
        everyByte += char(i % 256); // NUL, quotes and backslashes among them
    const QByteArray remarks = QByteArray("\xb1\xb8\xd7\xa2\r\n'\\x00", 10); // GBK "备注" and more

    DatabaseConnection connection;
    QVERIFY(archive.open(connection));
    Recordset records;
    records.attach(connection);
    QVERIFY(records.open(StudentTable::selectAll));
    QVERIFY(records.addNew());
    QVERIFY(records.writeText(u"姓名", "字节"));
    QVERIFY(records.writeBytes(u"照片", everyByte));
    QVERIFY(records.writeBytes(u"简介", remarks));
    QVERIFY(records.update());
    QVERIFY(records.addNew());
    QVERIFY(records.writeText(u"姓名", "空照片"));
    QVERIFY(records.writeBytes(u"照片", QByteArray()));
    QVERIFY(records.update());

    Recordset again;
    again.attach(connection);
    QVERIFY(again.open(StudentTable::selectAll));
    QCOMPARE(again.readBytes(u"照片"), everyByte);
    QCOMPARE(again.readValue(u"照片").toByteArray(), everyByte);
    QCOMPARE(again.readBytes(u"简介"), remarks);
    QVERIFY(!again.fieldIsEmpty(u"照片"));
    again.moveNext();
    QVERIFY(again.fieldIsEmpty(u"照片"));
    QVERIFY(again.readBytes(u"照片").isEmpty());
    QVERIFY(again.fieldIsEmpty(u"简介"));
}

void BackendsTest::quotedValuesAreLookedUpNotRun_data()
{
    QTest::addColumn<bool>("onServer");
    QTest::addColumn<QString>("className");
    for (const bool onServer : {false, true}) {
        const char* where = onServer ? "server" : "file";
        QTest::addRow("%s: quote", where) << onServer << QString("O'Neil班");
        QTest::addRow("%s: backslash before quote", where) << onServer << QString("七\\' or 1=1 --");
        QTest::addRow("%s: brackets", where) << onServer << QString("[初三]班");
    }
}

void BackendsTest::quotedValuesAreLookedUpNotRun()
{
    QFETCH(bool, onServer);
    QFETCH(QString, className);
    const Archive archive(onServer);
    archive.addStudents({{"甲", className, "1", {}}, {"乙", "别的班", "2", {}}});
    QCOMPARE(archive.column(u"姓名", StudentTable::selectClass(className)), QStringList({"甲"}));
    QCOMPARE(archive.column(u"班级", StudentTable::selectNumberOrName(u"甲")), QStringList({className}));
}

void BackendsTest::addNewRunIsAllOrNothing_data() { backEnds(); }

void BackendsTest::addNewRunIsAllOrNothing()
{
    QFETCH(bool, onServer);
    const Archive archive(onServer);
    DatabaseConnection connection;
    QVERIFY(archive.open(connection));
    Recordset classes;
    classes.attach(connection);
    QVERIFY(classes.open(StudentTable::selectClasses));
    for (const char* name : {"一班", "二班", "三班"}) {
        QVERIFY(classes.addNew());
        QVERIFY(classes.writeText(u"单位", name));
    }
    QVERIFY(classes.update());
    QCOMPARE(archive.column(u"单位", StudentTable::selectClasses), QStringList({"一班", "二班", "三班"}));

    // A run with one bad record stores none of its records.
    QVERIFY(classes.addNew());
    QVERIFY(classes.writeText(u"单位", "四班"));
    QVERIFY(classes.addNew());
    QVERIFY(!classes.writeText(u"没有的字段", "x"));
    QVERIFY(!classes.addNew());
    QVERIFY(!classes.update());
    QCOMPARE(archive.column(u"单位", StudentTable::selectClasses), QStringList({"一班", "二班", "三班"}));
    QCOMPARE(classes.recordCount(), 3);
    // The hidden key of a table without an id is no field of it.
    QCOMPARE(classes.fieldCount(), 3);

    // The connection is usable again: the next run stores.
    QVERIFY(classes.addNew());
    QVERIFY(classes.writeText(u"单位", "五班"));
    QVERIFY(classes.update());
    QCOMPARE(archive.column(u"单位", StudentTable::selectClasses).size(), 4);
}

void BackendsTest::rebuildWhileResultIsHeld_data() { backEnds(); }

void BackendsTest::rebuildWhileResultIsHeld()
{
    QFETCH(bool, onServer);
    const Archive archive(onServer);
    archive.addStudents({{"甲", "一班", "", {}}, {"乙", "一班", "", {}}});
    DatabaseConnection connection;
    QVERIFY(archive.open(connection));
    Recordset held;
    held.attach(connection);
    QVERIFY(held.open(StudentTable::selectAll));

    DatabaseConnection admin;
    QVERIFY(archive.open(admin));
    QVERIFY2(admin.execute(QStringLiteral("DROP TABLE 学生")), qPrintable(admin.lastError()));
    QVERIFY2(admin.execute(StudentTable::createStudents), qPrintable(admin.lastError()));
    QCOMPARE(held.readText(u"姓名"), QString("甲")); // our copy still shows what was read

    archive.addStudents({{"新", "一班", "", {}}});
    DatabaseConnection reader;
    QVERIFY(archive.open(reader));
    Recordset after;
    after.attach(reader);
    QVERIFY(after.open(StudentTable::selectAll));
    QCOMPARE(after.recordCount(), 1);
    QCOMPARE(after.readInteger(u"id"), 1); // ids start again
}

void BackendsTest::deleteCurrentThenUpdate_data() { backEnds(); }

void BackendsTest::deleteCurrentThenUpdate()
{
    QFETCH(bool, onServer);
    const Archive archive(onServer);
    archive.addStudents({{"甲", "一班", "", {}}, {"乙", "一班", "", {}}, {"丙", "一班", "", {}}});
    DatabaseConnection connection;
    QVERIFY(archive.open(connection));
    Recordset records;
    records.attach(connection);
    QVERIFY(records.open(StudentTable::selectAll));
    records.moveNext();
    QVERIFY(records.deleteCurrent());
    QVERIFY(records.update());
    QVERIFY(records.moveNext());
    QCOMPARE(records.readText(u"姓名"), QString("丙"));
    QCOMPARE(archive.column(u"姓名"), QStringList({"甲", "丙"}));

    // A record another station deleted meanwhile is not written back as if it were there.
    Recordset stale;
    stale.attach(connection);
    QVERIFY(stale.open(StudentTable::selectAll));
    QVERIFY(records.open(StudentTable::selectAll));
    QVERIFY(records.deleteCurrent());
    QVERIFY(stale.writeText(u"住址", "x"));
    QVERIFY(!stale.update());
    QCOMPARE(stale.lastError(), QString("这条记录已被删除"));
}

void BackendsTest::transactionCommitsOrLeavesNothing_data() { backEnds(); }

void BackendsTest::transactionCommitsOrLeavesNothing()
{
    QFETCH(bool, onServer);
    const Archive archive(onServer);
    archive.addStudents({{"甲", "一班", "", {}}, {"乙", "一班", "", {}}});
    DatabaseConnection connection;
    QVERIFY(archive.open(connection));
    Recordset records;
    records.attach(connection);
    {
        DatabaseTransaction transaction(connection);
        QVERIFY(transaction.isActive());
        QVERIFY(records.open(StudentTable::selectAll));
        QVERIFY(records.writeText(u"编号", "1"));
        QVERIFY(records.moveNext());
        QVERIFY(records.writeText(u"编号", "2"));
        QVERIFY(records.update());
        // Not yet seen by another station.
        QCOMPARE(archive.column(u"编号"), QStringList({"", ""}));
    } // gone without commit
    QCOMPARE(archive.column(u"编号"), QStringList({"", ""}));
    {
        DatabaseTransaction transaction(connection);
        QVERIFY(records.open(StudentTable::selectAll));
        QVERIFY(records.writeText(u"编号", "1"));
        QVERIFY(records.moveNext());
        QVERIFY(transaction.commit());
    }
    QCOMPARE(archive.column(u"编号"), QStringList({"1", ""}));
}

void BackendsTest::failuresAreSoftAndSaid_data() { backEnds(); }

void BackendsTest::failuresAreSoftAndSaid()
{
    QFETCH(bool, onServer);
    const Archive archive(onServer);
    archive.addStudents({{"甲", "一班", "", {}}});
    DatabaseConnection connection;
    QVERIFY(archive.open(connection));
    Recordset records;
    records.attach(connection);
    QVERIFY(!records.open(QStringLiteral("select * from 学生 where")));
    QVERIFY(!records.lastError().isEmpty());
    QCOMPARE(records.recordCount(), 0);
    QVERIFY(records.atEnd());
    QVERIFY(!records.writeText(u"姓名", "x"));
    QVERIFY(!records.open(QStringLiteral("select * from 没有的表")));
    QVERIFY(!connection.execute(QStringLiteral("CREATE TABLE 学生(x varchar)")));
    QVERIFY(!connection.lastError().isEmpty());
    // The connection goes on after each failure.
    QVERIFY(records.open(StudentTable::selectAll));
    QCOMPARE(records.recordCount(), 1);
    // A query that is not "select *" is read whole, and read-only.
    QVERIFY(records.open(QStringLiteral("select count(*) as n from 学生")));
    QCOMPARE(records.readInteger(u"n"), 1);
    QVERIFY(!records.writeText(u"n", "2"));

    connection.close();
    QVERIFY(!records.open(StudentTable::selectAll));
    QCOMPARE(records.lastError(), QString("数据库已关闭"));
}

void BackendsTest::jetStatementsRunAsWritten_data() { backEnds(); }

// The Access words the windows and the site's pages send, with values that hold the same
// words and marks: the words are rewritten, the values arrive as they were typed.
void BackendsTest::jetStatementsRunAsWritten()
{
    QFETCH(bool, onServer);
    const Archive archive(onServer);
    archive.addStudents({{"甲", "[初三]'班", "1", {}}, {"乙", "一班", "2", {}}});
    DatabaseConnection connection;
    QVERIFY(archive.open(connection));
    const QString address = QStringLiteral("[楼]'号 id AUTOINCREMENT, varchar(5) OLEOBJECT #1/2/2024#");
    QVERIFY2(
        connection.execute(QStringLiteral("update 学生 set 住址='[楼]''号 id AUTOINCREMENT, varchar(5) "
                                          "OLEOBJECT #1/2/2024#', 出生年月='2010-09-01' where 姓名='甲'")),
        qPrintable(connection.lastError()));
    QCOMPARE(archive.column(u"住址", StudentTable::selectNumberOrName(u"甲")), QStringList{address});
    QCOMPARE(archive.column(u"姓名", QStringLiteral("select [姓名], [住址] from [学生] where [住址]='")
                                         + sqlQuoted(address) + u'\''),
             QStringList{"甲"});
    QCOMPARE(archive.column(u"姓名", QStringLiteral("select * from 学生 where 出生年月 >= #9/1/2010#")),
             QStringList{"甲"});

    QVERIFY2(
        connection.execute(QStringLiteral("CREATE TABLE 备忘(id AUTOINCREMENT, [内 容] memo, 图 OLEOBJECT, "
                                          "说明 varchar(20) DEFAULT 'memo OLEOBJECT')")),
        qPrintable(connection.lastError()));
    Recordset notes;
    notes.attach(connection);
    QVERIFY(notes.open(QStringLiteral("select * from 备忘")));
    QCOMPARE(notes.fieldCount(), 4);
    QVERIFY(notes.addNew());
    QVERIFY(notes.writeText(u"内 容", "[初三]'班"));
    QVERIFY(notes.writeBytes(u"图", QByteArray("\0\1\2", 3)));
    QVERIFY2(notes.update(), qPrintable(notes.lastError()));
    QVERIFY(notes.open(QStringLiteral("select * from 备忘 where [内 容]='[初三]''班'")));
    QCOMPARE(notes.recordCount(), 1);
    QCOMPARE(notes.readInteger(u"id"), 1);
    QCOMPARE(notes.readBytes(u"图"), QByteArray("\0\1\2", 3));
    QCOMPARE(notes.readText(u"说明"), QString("memo OLEOBJECT"));
}

void BackendsTest::copyIsAnArchiveFile_data() { backEnds(); }

// A backup of either back end is a file the program opens as its archive.
void BackendsTest::copyIsAnArchiveFile()
{
    QFETCH(bool, onServer);
    const Archive archive(onServer);
    archive.addStudents({{"甲", "一班", "1", jpegBytes(8, 8)}, {"乙", "一班", "2", {}}});
    DatabaseConnection connection;
    QVERIFY(archive.open(connection));
    const QString copy = archive.folder->path() + QStringLiteral("/备份.mdb");
    QString error;
    QVERIFY2(ArchiveCopy::writeFile(connection, copy, &error), qPrintable(error));

    DatabaseConnection copied;
    QVERIFY2(copied.openLocation(copy, QStringLiteral("学生")), qPrintable(copied.lastError()));
    Recordset students;
    students.attach(copied);
    QVERIFY(students.open(StudentTable::selectAll));
    QCOMPARE(students.recordCount(), 2);
    QCOMPARE(students.readBytes(u"照片"), jpegBytes(8, 8));
}

QTEST_GUILESS_MAIN(BackendsTest)
#include "tst_backends.moc"
