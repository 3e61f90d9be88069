// SPDX-License-Identifier: GPL-3.0-or-later
// One archive shared the way a school office shares it: two stations saving students with
// photos, the web server listing classes, sending photos and taking a class administrator's
// edits, `qinghe cards --pdf` runs and the sqlite3 shell reading, each of them killed at
// random moments and started again. Every save reported to a user must be visible to a new
// program within a second and present at the end, in a file SQLite finds whole; no program
// may ever have a deleted write-ahead log open, and "database is locked" must reach no user.
// QINGHE_TOPOLOGY_SECONDS sets how long it runs (the soak target runs it for minutes).
#include "archive/DatabaseConnection.h"
#include "archive/ProgramFolder.h"
#include "archive/Recordset.h"
#include "archive/StudentTable.h"
#include "formats/Gbk.h"
#include "records/RecordEntry.h"
#include "tests/support/ArchiveLocks.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestFolder.h"
#include "tests/support/WebForm.h"
#include "web/SitePages.h"

#include <httplib.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = QElapsedTimer;

QByteArray photoOf(int number) { return noiseBytes(20000 + (number % 5) * 2500, quint32(number) + 7); }

// What reaches a user when the file is busy, in our words and in SQLite's.
bool saysLocked(const QString& text)
{
    return text.contains(QLatin1String("locked"), Qt::CaseInsensitive)
           || text.contains(QStringLiteral("正被其他程序使用"));
}

// Lines a child writes to its pipe, read without waiting.
class Reports {
public:
    explicit Reports(int fd)
        : m_fd(fd)
    {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    ~Reports() { ::close(m_fd); }
    Reports(const Reports&) = delete;
    Reports& operator=(const Reports&) = delete;

    QStringList take()
    {
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(m_fd, buffer, sizeof buffer)) > 0)
            m_pending.append(buffer, n);
        QStringList lines;
        qsizetype end;
        while ((end = m_pending.indexOf('\n')) >= 0) {
            lines << QString::fromUtf8(m_pending.left(end));
            m_pending.remove(0, end + 1);
        }
        return lines;
    }

private:
    int m_fd;
    QByteArray m_pending;
};

bool say(int fd, const QString& line)
{
    const QByteArray bytes = (line + u'\n').toUtf8();
    return ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
}

// A station saving students from `first` on, as the main window's 保存 does, reporting each
// save it would tell the operator about; a refused save is told too, and ends it.
bool station(const QString& database, int first, int out)
{
    DatabaseConnection connection;
    if (!StudentTable::openArchive(connection, database)) {
        say(out, QStringLiteral("E 打不开：") + connection.lastError());
        return false;
    }
    Recordset students;
    students.attach(connection);
    students.open(StudentTable::selectId(-1));
    for (int number = first;; ++number) {
        QString error;
        if (!RecordEntry::append(students,
                                 {QStringLiteral("学生%1").arg(number), QStringLiteral("七(2)班"),
                                  QString::number(number), photoOf(number)},
                                 &error)) {
            say(out, QStringLiteral("E 保存失败：") + error);
            return false;
        }
        if (!say(out, QStringLiteral("R %1").arg(number)))
            return false;
        usleep(useconds_t(QRandomGenerator::global()->bounded(5000, 30000)));
    }
}

// A browser on the school's network: lists the class, fetches photos, and as the class's
// administrator edits an address now and then. Each edit is announced before it is sent
// ("A id seq") and reported when the server answers with its redirect ("R id seq"); a page
// that tells the user the file is locked is reported ("E ...").
bool browser(const QString& portFile, const QList<int>& editable, int firstEdit, int out)
{
    std::string cookie;
    int seq = firstEdit;
    for (;;) {
        const int port = QString::fromLatin1(fileBytes(portFile)).toInt();
        httplib::Client client("127.0.0.1", port);
        client.set_connection_timeout(1);
        client.set_read_timeout(10);
        const auto check = [out](const httplib::Result& r, const char* what) {
            const bool page = r && r->get_header_value("Content-Type").rfind("text/", 0) == 0;
            if (r
                && (r->status >= 500
                    || (page && saysLocked(gbk::decode(QByteArray::fromStdString(r->body))))))
                say(out, QStringLiteral("E %1 %2").arg(QLatin1String(what)).arg(r->status));
            return bool(r);
        };
        if (!check(client.Get("/"), "index.asp")
            || !check(client.Get("/show.asp?id=" + std::to_string(editable[seq % editable.size()])),
                      "show.asp")) {
            usleep(50000);
            continue;
        }
        if (cookie.empty()) {
            const auto login = client.Post("/login.asp", webForm({{"zh", "zhang"}, {"mm", "pw1"}}),
                                           "application/x-www-form-urlencoded");
            if (!check(login, "login.asp") || login->status != 302)
                continue;
            const std::string set = login->get_header_value("Set-Cookie");
            cookie = set.substr(0, set.find(';'));
        }
        const int id = editable[seq % editable.size()];
        say(out, QStringLiteral("A %1 %2").arg(id).arg(seq));
        const auto saved = client.Post("/up.asp?id=" + std::to_string(id), {{"Cookie", cookie}},
                                       webForm({{"T4", QStringLiteral("路%1号").arg(seq)}}),
                                       "application/x-www-form-urlencoded");
        check(saved, "up.asp");
        if (saved && saved->status == 302
            && saved->get_header_value("Location").find("vv=1") != std::string::npos)
            say(out, QStringLiteral("R %1 %2").arg(id).arg(seq));
        else if (saved && saved->status == 403)
            cookie.clear(); // a restarted server knows no session
        ++seq;
        usleep(useconds_t(QRandomGenerator::global()->bounded(10000, 60000)));
    }
}

struct Child {
    pid_t pid = 0;
    std::unique_ptr<Reports> reports;
};

} // namespace

class TopologyTest : public QObject {
    Q_OBJECT

private slots:
    void reportedSavesSurviveEveryProgram();

private:
    void startStation(int k);
    void startServer();
    void startBrowser();
    void readReports();
    // Runs the sqlite3 shell on the archive, as another program reading and closing it.
    QStringList shell(const QString& sql);
    // Every save reported more than `age` ms ago is in the archive as a new program sees it.
    void checkVisible(qint64 age);
    void checkProcesses();
    void killOneAtRandom();

    std::unique_ptr<TestFolder> m_folder;
    Clock m_clock;
    Child m_stations[2];
    int m_nextNumber[2] = {1, 1000001};
    Child m_browser;
    int m_nextEdit = 1;
    QList<int> m_editable;
    std::unique_ptr<QProcess> m_server;
    std::unique_ptr<QProcess> m_cards;
    int m_cardRuns = 0;
    QHash<int, qint64> m_saved;                // number → when reported
    QHash<int, QPair<int, qint64>> m_lastEdit; // id → (seq, when reported)
    int m_kills = 0;
    int m_checks = 0;
    QStringList m_faults;
};

void TopologyTest::startStation(int k)
{
    int ends[2];
    QVERIFY(pipe(ends) == 0);
    const QString database = m_folder->databaseFile();
    const int first = m_nextNumber[k];
    m_stations[k].pid = startChild([&] {
        ::close(ends[0]);
        return station(database, first, ends[1]);
    });
    ::close(ends[1]);
    m_stations[k].reports = std::make_unique<Reports>(ends[0]);
}

void TopologyTest::startServer()
{
    m_server = std::make_unique<QProcess>();
    m_server->start(QStringLiteral(QINGHE_ASP_PROGRAM),
                    {"--root", ProgramFolder::databaseFolder(m_folder->path()), "--port", "0"});
    QVERIFY(m_server->waitForStarted(5000));
    QByteArray out;
    Clock wait;
    wait.start();
    while (!out.contains('\n') && wait.elapsed() < 10000 && m_server->state() == QProcess::Running) {
        m_server->waitForReadyRead(100);
        out += m_server->readAllStandardOutput();
    }
    const auto m = QRegularExpression(QStringLiteral("端口 (\\d+)")).match(QString::fromLocal8Bit(out));
    QVERIFY2(m.hasMatch(), out.constData());
    writeTestFile(m_folder->path() + "/port", m.captured(1).toLatin1());
}

void TopologyTest::startBrowser()
{
    int ends[2];
    QVERIFY(pipe(ends) == 0);
    const QString portFile = m_folder->path() + "/port";
    const QList<int> editable = m_editable;
    const int first = m_nextEdit;
    m_browser.pid = startChild([&] {
        ::close(ends[0]);
        return browser(portFile, editable, first, ends[1]);
    });
    ::close(ends[1]);
    m_browser.reports = std::make_unique<Reports>(ends[0]);
}

void TopologyTest::readReports()
{
    const qint64 now = m_clock.elapsed();
    for (int k = 0; k < 2; ++k) {
        for (const QString& line : m_stations[k].reports->take()) {
            if (line.startsWith(u'R')) {
                const int number = line.mid(2).toInt();
                m_saved.insert(number, now);
                m_nextNumber[k] = std::max(m_nextNumber[k], number + 1);
            } else {
                m_faults << QStringLiteral("station %1: %2").arg(k).arg(line);
            }
        }
    }
    for (const QString& line : m_browser.reports->take()) {
        const QStringList parts = line.split(u' ');
        if (parts[0] == u"A") {
            m_nextEdit = std::max(m_nextEdit, parts[2].toInt() + 1);
        } else if (parts[0] == u"R") {
            m_lastEdit[parts[1].toInt()] = {parts[2].toInt(), now};
        } else {
            m_faults << QStringLiteral("browser: ") + line;
        }
    }
}

QStringList TopologyTest::shell(const QString& sql)
{
    QProcess process;
    process.start(QStandardPaths::findExecutable("sqlite3"),
                  {"-cmd", ".timeout 5000", m_folder->databaseFile(), sql});
    if (!process.waitForFinished(10000) || process.exitCode() != 0) {
        m_faults << QStringLiteral("sqlite3: ") + QString::fromUtf8(process.readAllStandardError());
        return {};
    }
    return QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
}

void TopologyTest::checkVisible(qint64 age)
{
    readReports();
    const qint64 asked = m_clock.elapsed();
    QSet<int> numbers;
    QHash<int, int> addresses; // id → seq of the stored address
    for (const QString& row : shell("select id, 编号, 住址 from 学生")) {
        const QStringList cells = row.split(u'|');
        if (cells.size() != 3)
            continue;
        if (cells[2].startsWith(u'路'))
            addresses.insert(cells[0].toInt(), cells[2].mid(1).chopped(1).toInt());
        else
            numbers.insert(cells[1].toInt());
    }
    ++m_checks;
    for (auto it = m_saved.cbegin(); it != m_saved.cend(); ++it) {
        if (asked - it.value() > age && !numbers.contains(it.key()))
            m_faults << QStringLiteral("student %1, reported saved %2 ms before, is not there")
                            .arg(it.key())
                            .arg(asked - it.value());
    }
    // One browser edits one student at a time, so what is stored is the last reported edit
    // or one sent after it.
    for (auto it = m_lastEdit.cbegin(); it != m_lastEdit.cend(); ++it) {
        if (asked - it->second > age && addresses.value(it.key()) < it->first)
            m_faults << QStringLiteral("edit %1 of student %2 was reported saved; stored is %3")
                            .arg(it->first)
                            .arg(it.key())
                            .arg(addresses.value(it.key()));
    }
}

void TopologyTest::checkProcesses()
{
    QList<pid_t> pids{m_stations[0].pid, m_stations[1].pid};
    if (m_server && m_server->state() == QProcess::Running)
        pids << pid_t(m_server->processId());
    if (m_cards && m_cards->state() == QProcess::Running)
        pids << pid_t(m_cards->processId());
    for (pid_t pid : pids) {
        QString fault = archiveLockFault(pid);
        if (!fault.isEmpty()) {
            usleep(20000); // a connection closing between two looks is no fault
            fault = archiveLockFault(pid);
        }
        if (!fault.isEmpty())
            m_faults << QStringLiteral("process %1: ").arg(pid) + fault;
    }
}

void TopologyTest::killOneAtRandom()
{
    auto* random = QRandomGenerator::global();
    const int which = random->bounded(4);
    ++m_kills;
    if (which < 2) {
        ::kill(m_stations[which].pid, SIGKILL);
        const int status = waitForChild(m_stations[which].pid);
        readReports();
        if (status != -1)
            m_faults << QStringLiteral("station %1 stopped by itself (%2)").arg(which).arg(status);
        ++m_nextNumber[which]; // the save in flight may or may not have landed
        startStation(which);
    } else if (which == 2) {
        m_server->kill();
        m_server->waitForFinished();
        startServer();
    } else if (m_cards && m_cards->state() == QProcess::Running) {
        m_cards->kill();
        m_cards->waitForFinished();
    } else {
        --m_kills;
    }
}

void TopologyTest::reportedSavesSurviveEveryProgram()
{
    const int seconds = qEnvironmentVariableIsSet("QINGHE_TOPOLOGY_SECONDS")
                            ? qEnvironmentVariableIntValue("QINGHE_TOPOLOGY_SECONDS")
                            : 20;
    m_folder = std::make_unique<TestFolder>();
    m_folder->addClasses({"七(1)班", "七(2)班"});
    m_folder->execute("UPDATE 设置 SET 帐号='zhang', 密码='pw1' WHERE 单位='七(1)班'");
    for (int i = 0; i < 4; ++i)
        m_editable << m_folder->addStudents({{QString("网生%1").arg(i), "七(1)班", "0", jpegBytes(60, 80)}});
    const QString db = ProgramFolder::databaseFolder(m_folder->path());
    for (const char* file : {"login.asp", "show.asp", "up.asp", "print.js"})
        QVERIFY(QFile::copy(QStringLiteral(QINGHE_SITE_FOLDER "/") + QLatin1String(file),
                            db + u'/' + QLatin1String(file)));
    QVERIFY(SitePages::write(m_folder->path(), SitePages::defaultTitle, SitePages::defaultOptions));
    QVERIFY(!QStandardPaths::findExecutable("sqlite3").isEmpty());

    m_clock.start();
    startServer();
    startStation(0);
    startStation(1);
    startBrowser();
    auto* random = QRandomGenerator::global();
    qint64 nextKill = random->bounded(300, 1500);
    qint64 nextCheck = 250;
    const QString pdf = m_folder->path() + "/cards.pdf";
    while (m_clock.elapsed() < seconds * 1000 && m_faults.size() < 10) {
        usleep(10000);
        readReports();
        checkProcesses();
        if (m_cards)
            m_cards->waitForFinished(0); // QProcess learns of the end only when asked
        if (!m_cards || m_cards->state() == QProcess::NotRunning) {
            if (m_cards && m_cards->exitStatus() == QProcess::NormalExit) {
                const QString errors = QString::fromLocal8Bit(m_cards->readAllStandardError());
                if (m_cards->exitCode() != 0 || saysLocked(errors))
                    m_faults << QStringLiteral("qinghe cards: %1 %2").arg(m_cards->exitCode()).arg(errors);
                ++m_cardRuns;
            }
            m_cards = std::make_unique<QProcess>();
            m_cards->start(QStringLiteral(QINGHE_EXECUTABLE), {"cards", "--class", "七(1)班", "--pdf", pdf});
        }
        if (m_clock.elapsed() >= nextCheck) {
            checkVisible(1000);
            nextCheck = m_clock.elapsed() + 250;
        }
        if (m_clock.elapsed() >= nextKill) {
            killOneAtRandom();
            nextKill = m_clock.elapsed() + random->bounded(200, 1200);
        }
    }

    // Everything stops; what was reported is there, whole.
    for (Child* child : {&m_stations[0], &m_stations[1], &m_browser}) {
        ::kill(child->pid, SIGKILL);
        waitForChild(child->pid);
    }
    m_server->kill();
    m_server->waitForFinished();
    if (m_cards) {
        m_cards->kill();
        m_cards->waitForFinished();
    }
    checkVisible(-1);
    QCOMPARE(shell("pragma integrity_check"), QStringList({"ok"}));
    qInfo("%d s: %lld saves and %lld edited students reported, %d kills, %d card runs, %d checks", seconds,
          qint64(m_saved.size()), qint64(m_lastEdit.size()), m_kills, m_cardRuns, m_checks);
    QVERIFY2(m_faults.isEmpty(), qPrintable(m_faults.join(u'\n')));
    QVERIFY(m_saved.size() > seconds);
    QVERIFY(!m_lastEdit.isEmpty());
    QVERIFY(m_cardRuns > 0);

    DatabaseConnection connection;
    QVERIFY(StudentTable::openArchive(connection, m_folder->databaseFile()));
    Recordset students;
    students.attach(connection);
    QVERIFY(students.open(StudentTable::selectClass(u"七(2)班")));
    for (int r = 0; r < students.recordCount(); ++r, students.moveNext()) {
        const int number = students.readText(u"编号").toInt();
        QCOMPARE(students.readText(u"姓名"), QStringLiteral("学生%1").arg(number));
        QCOMPARE(students.readBytes(u"照片"), photoOf(number));
    }
}

QTEST_GUILESS_MAIN(TopologyTest)
#include "tst_topology.moc"
