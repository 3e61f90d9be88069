// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/DatabaseConnection.h"
#include "archive/ProgramFolder.h"
#include "archive/Recordset.h"
#include "archive/StudentTable.h"
#include "tests/support/TestFolder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>

#include <csignal>
#include <unistd.h>

namespace {

int runTool(const QString& folder) { return QProcess::execute(QStringLiteral(QINGHE_INITDB), {folder}); }

// The three tables and the administrator row, as the program needs them.
bool isWorkingDatabase(const QString& path)
{
    DatabaseConnection connection;
    if (!connection.openDatabaseFile(path, {}, QStringLiteral("学生")))
        return false;
    Recordset records;
    records.attach(connection);
    const bool classes = records.open(StudentTable::selectClasses);
    const bool students = records.open(StudentTable::selectAll) && records.recordCount() == 0;
    const bool administrator = records.open(StudentTable::selectAdministrator) && records.recordCount() == 1
                               && records.readText(u"密码") == StudentTable::defaultAdministratorPassword;
    return classes && students && administrator;
}

} // namespace

class InitDbTest : public QObject {
    Q_OBJECT

private slots:
    void killedWhileCreatingThenRunAgain();
    void existingArchiveIsKept();
};

void InitDbTest::killedWhileCreatingThenRunAgain()
{
    // One whole run, process start included, so that the kills land all over it.
    qint64 runUs = 0;
    {
        QTemporaryDir folder;
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(runTool(folder.path()), 0);
        runUs = timer.nsecsElapsed() / 1000;
        QVERIFY(isWorkingDatabase(ProgramFolder::databaseFile(folder.path())));
    }

    constexpr int kills = 20;
    int before = 0;
    for (int i = 0; i < kills; ++i) {
        QTemporaryDir folder;
        const QString database = ProgramFolder::databaseFile(folder.path());
        QProcess tool;
        tool.start(QStringLiteral(QINGHE_INITDB), {folder.path()});
        QVERIFY(tool.waitForStarted());
        usleep(useconds_t(QRandomGenerator::global()->bounded(runUs + 1)));
        ::kill(pid_t(tool.processId()), SIGKILL);
        tool.waitForFinished();

        // Whenever it died: no database yet, or a whole one; never a broken file.
        if (QFile::exists(database))
            QVERIFY2(isWorkingDatabase(database), qPrintable(QString("kill %1").arg(i)));
        else
            ++before;
        QCOMPARE(runTool(folder.path()), 0);
        QVERIFY(isWorkingDatabase(database));
        const QStringList left =
            QDir(ProgramFolder::databaseFolder(folder.path())).entryList(QDir::Files | QDir::Hidden);
        QVERIFY2(left == QStringList({"学生信息.mdb"}), qPrintable(left.join(" ")));
    }
    qInfo("%d of %d kills came before the database was in place", before, kills);
}

void InitDbTest::existingArchiveIsKept()
{
    TestFolder archive;
    archive.addStudents({{"甲", "一班", "1", jpegBytes(8, 8)}});
    const QByteArray bytes = fileBytes(archive.databaseFile());
    QCOMPARE(runTool(archive.path()), 0);
    QCOMPARE(fileBytes(archive.databaseFile()), bytes);

    // A zero-byte file left by an older set-up is repaired.
    TestFolder broken(false);
    QFile(broken.databaseFile()).open(QIODevice::WriteOnly);
    QCOMPARE(QFileInfo(broken.databaseFile()).size(), 0);
    QCOMPARE(runTool(broken.path()), 0);
    QVERIFY(isWorkingDatabase(broken.databaseFile()));
}

QTEST_GUILESS_MAIN(InitDbTest)
#include "tst_initdb.moc"
