// SPDX-License-Identifier: GPL-3.0-or-later
// A station saving students is killed at random moments, over and over: every student it
// reported saved must be there afterwards, photo and all, in a database SQLite finds whole.
// QINGHE_CRASH_KILLS sets the number of kills (the soak target runs many more).
#include "archive/DatabaseConnection.h"
#include "archive/Recordset.h"
#include "archive/StudentTable.h"
#include "records/RecordEntry.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestFolder.h"

#include <QRandomGenerator>
#include <QSet>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

// The photo of student i, different for every student so a mixed-up row shows.
QByteArray photoOf(int i) { return noiseBytes(20000 + (i % 7) * 3000, quint32(i) + 1); }

QString nameOf(int i) { return QStringLiteral("学生%1").arg(i); }

// Appends students from `first` on and writes the number of each one saved to `reported`,
// until it is killed.
bool station(const QString& database, int first, int reported)
{
    DatabaseConnection connection;
    if (!connection.openDatabaseFile(database))
        return false;
    Recordset students;
    students.attach(connection);
    students.open(StudentTable::selectAll);
    for (int i = first;; ++i) {
        QString error;
        if (!RecordEntry::append(
                students, {nameOf(i), QStringLiteral("七(1)班"), QString::number(i), photoOf(i)}, &error))
            return false;
        if (write(reported, &i, sizeof i) != sizeof i)
            return false;
    }
}

} // namespace

class CrashTest : public QObject {
    Q_OBJECT

private slots:
    void savedStudentsSurviveKills();
};

void CrashTest::savedStudentsSurviveKills()
{
    const int kills = qEnvironmentVariableIsSet("QINGHE_CRASH_KILLS")
                          ? qEnvironmentVariableIntValue("QINGHE_CRASH_KILLS")
                          : 20;
    // A fresh archive now and then keeps each check quick however long the soak runs.
    constexpr int killsPerArchive = 50;
    std::unique_ptr<TestFolder> archive;
    QSet<int> reported;
    qint64 totalReported = 0;
    int next = 0;
    for (int kill = 0; kill < kills; ++kill) {
        if (kill % killsPerArchive == 0) {
            archive.reset(); // its environment goes before the next one sets it
            archive = std::make_unique<TestFolder>();
            totalReported += reported.size();
            reported.clear();
        }
        const TestFolder& folder = *archive;
        int pipeEnds[2];
        QVERIFY(pipe(pipeEnds) == 0);
        const pid_t child = startChild([&] {
            ::close(pipeEnds[0]);
            return station(folder.databaseFile(), next, pipeEnds[1]);
        });
        ::close(pipeEnds[1]);
        // Every other station is killed at a random moment after its first save, so that the
        // kills land amid saves however slowly a busy machine starts it; the others may die
        // while still opening the archive.
        int i = 0;
        if (kill % 2 == 1 && read(pipeEnds[0], &i, sizeof i) == sizeof i) {
            reported.insert(i);
            next = std::max(next, i + 1);
        }
        usleep(useconds_t(QRandomGenerator::global()->bounded(2000, 60000)));
        ::kill(child, SIGKILL);
        QCOMPARE(waitForChild(child), -1); // killed, not failed
        while (read(pipeEnds[0], &i, sizeof i) == sizeof i) {
            reported.insert(i);
            next = std::max(next, i + 1);
        }
        ::close(pipeEnds[0]);
        // The one in flight may or may not have landed; the next station goes past it.
        ++next;

        DatabaseConnection connection;
        QVERIFY2(connection.openDatabaseFile(folder.databaseFile()), qPrintable(connection.lastError()));
        Recordset check;
        check.attach(connection);
        QVERIFY(check.open("PRAGMA integrity_check"));
        QCOMPARE(check.readText(u"integrity_check"), QString("ok"));
        QVERIFY(check.open(StudentTable::selectAll));
        QSet<int> present;
        for (int r = 0; r < check.recordCount(); ++r, check.moveNext()) {
            const int number = check.readText(u"编号").toInt();
            // Whatever is there is whole, reported or not.
            QCOMPARE(check.readText(u"姓名"), nameOf(number));
            QCOMPARE(check.readBytes(u"照片"), photoOf(number));
            present.insert(number);
        }
        for (int saved : std::as_const(reported))
            QVERIFY2(present.contains(saved),
                     qPrintable(QString("student %1 was reported saved").arg(saved)));
    }
    totalReported += reported.size();
    qInfo("%d kills, %lld students reported saved", kills, totalReported);
    QVERIFY(totalReported >= kills / 2);
}

QTEST_GUILESS_MAIN(CrashTest)
#include "tst_crash.moc"
