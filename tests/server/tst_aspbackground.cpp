// SPDX-License-Identifier: GPL-3.0-or-later
// asp --background, as the main window starts it: the command returns with the server's
// answer, and the detached server goes on serving by itself, holding nothing of the
// program that started it.
#include "archive/ProgramFolder.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestFolder.h"
#include "web/SitePages.h"

#include <httplib.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>
#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

struct Started {
    int exitCode = -1;
    QString output;
    QString errorOutput;
};

Started startInBackground(const QString& root, int port)
{
    QProcess starter;
    starter.start(QStringLiteral(QINGHE_ASP_PROGRAM),
                  {"--root", root, "--port", QString::number(port), "--background"});
    if (!starter.waitForFinished(10000)) {
        starter.kill();
        starter.waitForFinished();
        return {};
    }
    return {starter.exitStatus() == QProcess::NormalExit ? starter.exitCode() : -1,
            QString::fromLocal8Bit(starter.readAllStandardOutput()),
            QString::fromLocal8Bit(starter.readAllStandardError())};
}

// The servers serving `root`, whoever started them.
QList<pid_t> serversOf(const QString& root)
{
    return processesRunning(QStringLiteral(QINGHE_ASP_PROGRAM), root);
}

// Where each descriptor of a process leads.
QStringList descriptorTargets(pid_t pid)
{
    QStringList targets;
    const QString fds = QStringLiteral("/proc/%1/fd").arg(pid);
    for (const QString& fd : QDir(fds).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot))
        targets << fd + u'=' + QFile::symLinkTarget(fds + u'/' + fd);
    return targets;
}

} // namespace

class AspBackgroundTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void detachedServerServesPagesAndPhotos();
    void holdsNothingOfTheStarter();
    void portTakenIsToldAndNothingStaysBehind();

private:
    QString db() const { return ProgramFolder::databaseFolder(m_folder->path()); }

    std::unique_ptr<TestFolder> m_folder;
    QList<int> m_ids;
};

void AspBackgroundTest::init()
{
    m_folder = std::make_unique<TestFolder>();
    m_folder->addClasses({"七(1)班"});
    m_ids = m_folder->addStudents({{"张三", "七(1)班", "2014001", jpegBytes(60, 80)}});
    for (const char* file : {"login.asp", "show.asp", "up.asp", "print.js", "nophoto.png"})
        QVERIFY(QFile::copy(QStringLiteral(QINGHE_SITE_FOLDER "/") + QLatin1String(file),
                            db() + u'/' + QLatin1String(file)));
    QVERIFY(SitePages::write(m_folder->path(), SitePages::defaultTitle, SitePages::defaultOptions));
}

void AspBackgroundTest::cleanup()
{
    const QList<pid_t> servers = serversOf(db());
    for (pid_t pid : servers)
        ::kill(pid, SIGTERM);
    QElapsedTimer waited;
    waited.start();
    while (!serversOf(db()).isEmpty() && waited.elapsed() < 5000)
        QThread::msleep(20);
    QVERIFY2(serversOf(db()).isEmpty(), "a detached server did not stop on SIGTERM");
    m_folder.reset();
}

void AspBackgroundTest::detachedServerServesPagesAndPhotos()
{
    const Started started = startInBackground(db(), 0);
    QCOMPARE(started.exitCode, 0);
    const auto m = QRegularExpression(QStringLiteral("网页服务器已启动，端口 (\\d+)")).match(started.output);
    QVERIFY2(m.hasMatch(), qPrintable(started.output + started.errorOutput));

    const QList<pid_t> servers = serversOf(db());
    QCOMPARE(servers.size(), 1);
    QCOMPARE(getsid(servers[0]), servers[0]); // out of the starter's session

    httplib::Client client("127.0.0.1", m.captured(1).toInt());
    client.set_read_timeout(5);
    const auto page = client.Get("/index.asp");
    QVERIFY2(page, "the detached server accepted and never answered");
    QCOMPARE(page->status, 200);
    const auto photo = client.Get("/show.asp?id=" + std::to_string(m_ids[0]));
    QVERIFY(photo);
    QCOMPARE(photo->status, 200);
    QCOMPARE(QByteArray::fromStdString(photo->body), jpegBytes(60, 80));
}

void AspBackgroundTest::holdsNothingOfTheStarter()
{
    // A descriptor the starter left open across exec, as a window's X connection may be.
    const QByteArray inherited = QFile::encodeName(m_folder->path() + "/window-connection");
    const int fd = ::open(inherited.constData(), O_RDWR | O_CREAT, 0600);
    QVERIFY(fd >= 0);
    const Started started = startInBackground(db(), 0);
    ::close(fd);
    QCOMPARE(started.exitCode, 0);

    const QList<pid_t> servers = serversOf(db());
    QCOMPARE(servers.size(), 1);
    const QStringList targets = descriptorTargets(servers[0]);
    // Past its standard streams it holds only what it opened itself: its sockets, the
    // pipes that wake its workers, the archive.
    for (const QString& target : targets) {
        QVERIFY2(!target.endsWith(QFile::decodeName(inherited)), qPrintable(targets.join(u' ')));
        if (target.startsWith(u"0=") || target.startsWith(u"1=") || target.startsWith(u"2="))
            QVERIFY2(target.endsWith(u"=/dev/null"), qPrintable(targets.join(u' ')));
        else
            QVERIFY2(target.contains(u"socket:") || target.contains(u"pipe:")
                         || target.contains(u"anon_inode:") || target.contains(u"学生信息.mdb"),
                     qPrintable(targets.join(u' ')));
    }
}

void AspBackgroundTest::portTakenIsToldAndNothingStaysBehind()
{
    QTcpServer other;
    QVERIFY(other.listen(QHostAddress::Any));
    const Started started = startInBackground(db(), other.serverPort());
    QCOMPARE(started.exitCode, 3);
    QVERIFY2(started.errorOutput.contains(QStringLiteral("已被其他程序占用")),
             qPrintable(started.errorOutput));
    QElapsedTimer waited;
    waited.start();
    while (!serversOf(db()).isEmpty() && waited.elapsed() < 3000)
        QThread::msleep(20);
    QVERIFY(serversOf(db()).isEmpty());
}

QTEST_GUILESS_MAIN(AspBackgroundTest)
#include "tst_aspbackground.moc"
