// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/MainWindow.h"
#include "app/StartupCheck.h"
#include "archive/DatabaseConnection.h"
#include "archive/ProgramFolder.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Controls.h"
#include "tests/support/TestFolder.h"
#include "tests/support/TestServices.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <unistd.h>

namespace {

// The main window as the program starts it, once its look at the archive is over.
struct Start {
    TestServices services;
    std::unique_ptr<MainWindow> window;

    Start()
    {
        window = std::make_unique<MainWindow>(services.context);
        window->show();
        auto* check = window->findChild<StartupCheck*>();
        QSignalSpy done(check, &StartupCheck::finished);
        if (!done.wait(10000))
            qFatal("the start-up check did not finish");
    }
    void save(const QString& name) const
    {
        control<QLineEdit>(*window, "编辑框1")->setText(name);
        control<QComboBox>(*window, "编辑框2")->setEditText("七(1)班");
        control<QPushButton>(*window, "按钮2")->click();
    }
};

QByteArray foreignDatabase()
{
    DatabaseConnection connection;
    if (!connection.createInMemory() || !connection.execute("CREATE TABLE bookmarks(url TEXT)")
        || !connection.execute("INSERT INTO bookmarks VALUES('https://example.org/')"))
        qFatal("no in-memory database");
    QByteArray bytes = connection.fileBytes();
    bytes[18] = bytes[19] = 1; // a rollback journal, not WAL
    return bytes;
}

bool saysRestoreFromBackup(const QString& message)
{
    return message.contains("数据库文件已损坏") && message.contains("请从备份恢复");
}

} // namespace

class StartupTest : public QObject {
    Q_OBJECT

private slots:
    void wholeArchiveSaysNothing();
    void refusedFileIsReportedOnceAndLeftAlone_data();
    void refusedFileIsReportedOnceAndLeftAlone();
    void damagedPagesAreReportedAndNotWritten();
    void backupLeftoversRemoved();
};

void StartupTest::wholeArchiveSaysNothing()
{
    TestFolder folder;
    folder.addStudents({{"甲", "七(1)班", "1", jpegBytes(20, 20)}});
    Start start;
    QVERIFY(start.services.dialogs.shown.isEmpty());
    start.save("乙");
    QCOMPARE(start.services.dialogs.messages(), QStringList({"保存成功"}));
}

void StartupTest::refusedFileIsReportedOnceAndLeftAlone_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("zero bytes") << QByteArray();
    QTest::newRow("a workbook saved under the database's name")
        << QByteArray("PK\x03\x04") + noiseBytes(3000, 5);
    // Another program's SQLite file in its own journal mode, which must stay as it is.
    QTest::newRow("another program's SQLite database") << foreignDatabase();
}

void StartupTest::refusedFileIsReportedOnceAndLeftAlone()
{
    QFETCH(QByteArray, bytes);
    TestFolder folder(false);
    writeTestFile(folder.databaseFile(), bytes);
    Start start;
    QVERIFY(start.window->isVisible());
    QCOMPARE(start.services.dialogs.messages().size(), 1);
    const QString message = start.services.dialogs.messages()[0];
    QVERIFY2(saysRestoreFromBackup(message) && message.contains(folder.databaseFile()), qPrintable(message));
    if (QTest::currentDataTag() == QByteArray("another program's SQLite database"))
        QVERIFY2(message.contains("没有“学生”表"), qPrintable(message));

    // The editor, and a save, meet the same file without saying it again or writing into it.
    control<QPushButton>(*start.window, "按钮7")->click();
    start.save("甲");
    const QStringList messages = start.services.dialogs.messages();
    QCOMPARE(messages.size(), 2);
    QVERIFY2(messages[1].startsWith("保存失败："), qPrintable(messages[1]));
    start.window.reset();
    QCOMPARE(fileBytes(folder.databaseFile()), bytes);
    QCOMPARE(QDir(ProgramFolder::databaseFolder(folder.path())).entryList(QDir::Files | QDir::Hidden),
             QStringList({"学生信息.mdb"}));
}

void StartupTest::damagedPagesAreReportedAndNotWritten()
{
    TestFolder folder;
    QList<TestFolder::Student> students;
    for (int i = 0; i < 30; ++i)
        students.append(
            {QString("学生%1").arg(i), "七(1)班", QString::number(i), noiseBytes(20000, quint32(i))});
    folder.addStudents(students);
    QByteArray bytes = fileBytes(folder.databaseFile());
    // The pages of the photos in the middle of the file, not the table list on the first.
    const QByteArray garbage = noiseBytes(8 * 4096, 7);
    bytes.replace(bytes.size() / 2 / 4096 * 4096, garbage.size(), garbage);
    writeTestFile(folder.databaseFile(), bytes);

    Start start;
    QCOMPARE(start.services.dialogs.messages().size(), 1);
    QVERIFY2(saysRestoreFromBackup(start.services.dialogs.messages()[0]),
             qPrintable(start.services.dialogs.messages()[0]));
    start.save("新生");
    QCOMPARE(start.services.dialogs.messages().size(), 2);
    QVERIFY2(start.services.dialogs.messages()[1].startsWith("保存失败：数据库文件已损坏"),
             qPrintable(start.services.dialogs.messages()[1]));
    start.window.reset();
    QCOMPARE(fileBytes(folder.databaseFile()), bytes);
}

// A backup killed half-way leaves its hidden temporary file and SQLite's journal of it; the
// next start removes them, but not those of a backup another program is writing now.
void StartupTest::backupLeftoversRemoved()
{
    TestFolder folder;
    const QString backups = ProgramFolder::databaseFolder(folder.path()) + "/备份/";
    QVERIFY(QDir().mkpath(backups));
    const pid_t gone = startChild([] { return true; });
    QCOMPARE(waitForChild(gone), 0);
    const QString dead = QString(".学生信息-20260101-080000.mdb.%1.k3x9q2ab.part").arg(gone);
    const QString live = QString(".学生信息-20260101-090000.mdb.%1.p0w8e7rt.part").arg(getppid());
    const QString kept = "学生信息-20260101-070000.mdb";
    for (const QString& name : {dead, dead + "-journal", live, live + "-journal", kept})
        writeTestFile(backups + name, noiseBytes(5000, 3));

    Start start;
    QCOMPARE(QDir(backups).entryList(QDir::Files | QDir::Hidden, QDir::Name),
             QStringList({live, live + "-journal", kept}));
    QVERIFY(start.services.dialogs.shown.isEmpty());
}

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
