// SPDX-License-Identifier: GPL-3.0-or-later
// The web site under load: the real asp program on a free local port and, as its peer, the
// same class page in PHP served by PHP's own server with a worker per core, both loaded the
// same way by wrk (8 connections, reconnecting when a server closes one), in turn; a class of 50
// students with 30 KB photos; then the same load while the desktop program saves a student
// every 100 ms, and a page's time while 300 slow clients hold connections.
#include "bench/Bench.h"
#include "bench/BenchFolder.h"

#include "archive/DatabaseConnection.h"
#include "archive/ProgramFolder.h"
#include "formats/IniFile.h"
#include "server/engine/FormData.h"
#include "tests/journeys/ProgramOnDesktop.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FreePort.h"
#include "tests/support/PhpPeer.h"
#include "web/SitePages.h"

#include <httplib.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace {

constexpr int connections = 8;
constexpr int seconds = 3; // of each load

struct Load {
    double requests = 0;
    double seconds = 0;
    double p99Ms = 0;
    int failed = 0;

    double perSecond() const { return seconds > 0 ? requests / seconds : 0; }
    Load& operator+=(const Load& other)
    {
        requests += other.requests;
        seconds += other.seconds;
        p99Ms = std::max(p99Ms, other.p99Ms);
        failed += other.failed;
        return *this;
    }
};

// wrk on the server's port, asking for the paths in turn.
Load loadWithWrk(int port, const QStringList& paths)
{
    QProcess wrk;
    const int threads = std::clamp(QThread::idealThreadCount(), 1, connections);
    wrk.start(QStringLiteral("wrk"),
              QStringList{"-t", QString::number(threads), "-c", QString::number(connections), "-d",
                          QStringLiteral("%1s").arg(seconds), "-s", QStringLiteral(QINGHE_BENCH_LOAD_SCRIPT),
                          QStringLiteral("http://127.0.0.1:%1/").arg(port), "--"}
                  + paths);
    if (!wrk.waitForStarted(5000)) {
        std::fprintf(stderr, "web: wrk did not start (scripts/install-deps.sh installs it)\n");
        return {};
    }
    wrk.waitForFinished((seconds + 30) * 1000);
    const QString out = QString::fromLocal8Bit(wrk.readAllStandardOutput());
    const auto m = QRegularExpression(QStringLiteral("load: (\\d+) (\\d+) (\\d+) (\\d+)")).match(out);
    if (!m.hasMatch()) {
        std::fprintf(stderr, "web: wrk said %s %s\n", qPrintable(out),
                     wrk.readAllStandardError().constData());
        return {};
    }
    Load load;
    load.requests = m.captured(1).toDouble();
    load.seconds = m.captured(2).toDouble() / 1e6;
    load.p99Ms = m.captured(3).toDouble() / 1000;
    load.failed = m.captured(4).toInt();
    return load;
}

int connectTo(int port)
{
    const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(quint16(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(sock);
        return -1;
    }
    return sock;
}

// The slowest of a few class pages asked for one after another while 300 clients hold
// connections: half send a form a byte a second, half a head that never ends.
double pageMsWithSlowClients(int port)
{
    if (rlimit files{}; getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    const QByteArray form =
        "POST /index.asp HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded"
        "\r\nContent-Length: 1000\r\n\r\nT1=";
    const QByteArray head = "GET /index.asp HTTP/1.1\r\nHost: x\r\n";
    std::vector<int> forms, heads;
    for (int i = 0; i < 300; ++i) {
        const int sock = connectTo(port);
        if (sock < 0)
            continue;
        const QByteArray& first = i % 2 ? head : form;
        ::send(sock, first.constData(), size_t(first.size()), MSG_NOSIGNAL);
        (i % 2 ? heads : forms).push_back(sock);
    }
    std::atomic<bool> trickling{true};
    std::thread trickle([&] {
        while (trickling) {
            for (int sock : forms)
                ::send(sock, "a", 1, MSG_NOSIGNAL);
            for (int i = 0; i < 10 && trickling; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    double slowest = 0;
    for (int i = 0; i < 20; ++i) {
        httplib::Client client("127.0.0.1", port);
        client.set_read_timeout(30);
        const double t0 = bench::nowMs();
        const auto r = client.Get("/index.asp");
        slowest = std::max(slowest, r && r->status == 200 ? bench::nowMs() - t0 : 30000.0);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    trickling = false;
    trickle.join();
    for (const auto* group : {&forms, &heads})
        for (int sock : *group)
            ::close(sock);
    return slowest;
}

// Ours and the same page in PHP over PDO SQLite, loaded the same way in turn, twice, so that
// whatever else the machine does falls on both alike.
void classPageBesidePhp(int port, const QString& databaseFile)
{
    Load index, peer;
    const PhpPeer php(databaseFile);
    if (php.port() > 0) {
        httplib::Client ours("127.0.0.1", port), theirs("127.0.0.1", php.port());
        const auto a = ours.Get("/index.asp");
        const auto b = theirs.Get("/index.php");
        const bool identical = a && b && a->body == b->body;
        if (!identical)
            std::fprintf(stderr, "web: the PHP page differs from index.asp (%zu and %zu bytes)\n",
                         a ? a->body.size() : 0, b ? b->body.size() : 0);
        bench::report("web", "php_identical", identical ? 1 : 0, "");
    } else {
        std::fprintf(stderr, "web: %s\n", qPrintable(php.error()));
    }
    for (int round = 0; round < 2; ++round) {
        index += loadWithWrk(port, {"/index.asp"});
        if (php.port() > 0)
            peer += loadWithWrk(php.port(), {"/index.php"});
    }
    bench::report("web", "index_rps", index.perSecond(), "requests/s");
    bench::report("web", "index_p99_ms", index.p99Ms, "ms");
    if (php.port() > 0) {
        bench::report("web", "php_index_rps", peer.perSecond(), "requests/s");
        bench::report("web", "index_vs_php", peer.perSecond() > 0 ? index.perSecond() / peer.perSecond() : 0,
                      "x");
    }
}

// 打开网页服务器 clicked in the real main window, on a desktop of its own, to the first
// class page the server it started sends.
void buttonToFirstPage(const QString& folder)
{
    const Desktop desktop;
    if (desktop.display().isEmpty()) {
        std::fprintf(stderr, "web: no desktop to click on (install xvfb, openbox and xdotool)\n");
        return;
    }
    const int port = freeLocalPort();
    IniFile::write(ProgramFolder::settingsFile(folder), u"sys", u"WEB端口", QString::number(port));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QINGHE_FOLDER"), folder);
    env.insert(QStringLiteral("QINGHE_CAMERA_IMAGE"), QStringLiteral(QINGHE_BENCH_CAMERA_IMAGE));
    ProgramOnDesktop program(desktop, QStringLiteral(QINGHE_EXECUTABLE), env);
    if (!program.waitForMainWindow()) {
        std::fprintf(stderr, "web: the main window did not come up: %s\n", qPrintable(program.errorOutput()));
        return;
    }
    const double clicked = bench::nowMs();
    program.clickInMainWindow("按钮4");
    const bool served = !site::waitForPage(port, "/index.asp", 20000).isEmpty();
    const double elapsed = bench::nowMs() - clicked;
    for (pid_t pid :
         processesRunning(QStringLiteral(QINGHE_ASP_PROGRAM), ProgramFolder::databaseFolder(folder)))
        ::kill(pid, SIGTERM);
    if (!served) {
        std::fprintf(stderr, "web: the server the window started did not answer\n");
        return;
    }
    bench::report("web", "button_to_first_page_ms", elapsed, "ms");
}

void webScenario()
{
    // Ten classes of 50; the home page lists the first.
    const BenchFolder folder(500, 30 * 1024, 10);
    const QString site = ProgramFolder::databaseFolder(folder.path());
    for (const char* file : {"login.asp", "show.asp", "up.asp", "print.js", "nophoto.png"})
        QFile::copy(QStringLiteral(QINGHE_SITE_FOLDER "/") + QLatin1String(file),
                    site + u'/' + QLatin1String(file));
    SitePages::write(folder.path(), SitePages::defaultTitle, SitePages::defaultOptions);
    {
        DatabaseConnection connection;
        connection.openDatabaseFile(folder.databaseFile());
        connection.execute(QStringLiteral("UPDATE 设置 SET 帐号='bench', 密码='bench' WHERE 单位='")
                           + BenchFolder::className(0) + u'\'');
    }

    buttonToFirstPage(folder.path());

    QProcess server;
    const double launched = bench::nowMs();
    server.start(QStringLiteral(QINGHE_ASP_PROGRAM), {"--root", site, "--port", "0"});
    QByteArray out;
    while (!out.contains('\n') && server.waitForReadyRead(5000))
        out += server.readAllStandardOutput();
    const auto m = QRegularExpression(QStringLiteral("端口 (\\d+)")).match(QString::fromLocal8Bit(out));
    if (!m.hasMatch()) {
        std::fprintf(stderr, "web: the server did not start: %s\n",
                     server.readAllStandardError().constData());
        return;
    }
    const int port = m.captured(1).toInt();
    bench::report("web", "start_ms", bench::nowMs() - launched, "ms");

    classPageBesidePhp(port, folder.databaseFile());
    const QStringList home{"/index.asp"};

    // The home page's students are ids 1, 11, 21 … (the classes take turns).
    QStringList photos;
    for (int i = 0; i < 50; ++i)
        photos << QStringLiteral("/show.asp?id=%1").arg(1 + 10 * i);
    bench::report("web", "photo_rps", loadWithWrk(port, photos).perSecond(), "requests/s");

    bench::report("web", "slow_clients_page_ms", pageMsWithSlowClients(port), "ms");

    // The same load while the desktop program saves a student every 100 ms, and a class
    // administrator saves an edit through up.asp every 50 ms.
    QProcess writer;
    writer.start(QStringLiteral(QINGHE_WEB_WRITER),
                 {folder.databaseFile(), QString::number(seconds * 2 + 1)});
    writer.waitForStarted();
    std::atomic<int> editFailures{0};
    std::atomic<bool> editing{true};
    std::thread editor([&] {
        httplib::Client client("127.0.0.1", port);
        const auto login =
            client.Post("/login.asp", "zh=bench&mm=bench", "application/x-www-form-urlencoded");
        const std::string cookie = login ? login->get_header_value("Set-Cookie") : std::string();
        const httplib::Headers session{{"Cookie", cookie.substr(0, cookie.find(';'))}};
        for (int n = 0; editing; ++n) {
            const std::string body =
                "T4=" + asp::urlEncode(QStringLiteral("上海路 %1 号").arg(n)).toStdString();
            const auto r = client.Post("/up.asp?id=11", session, body, "application/x-www-form-urlencoded");
            if (!r || r->status != 302)
                ++editFailures;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    const Load indexWhileSaving = loadWithWrk(port, home);
    const Load photosWhileSaving = loadWithWrk(port, photos);
    editing = false;
    editor.join();
    writer.waitForFinished(seconds * 3 * 1000);
    const QStringList counts = QString::fromLocal8Bit(writer.readAllStandardOutput()).split(u' ');
    const int writerFailures = counts.size() == 2 ? counts[1].trimmed().toInt() : 1;
    bench::report("web", "locked_errors",
                  writerFailures + indexWhileSaving.failed + photosWhileSaving.failed + editFailures,
                  "errors");
    bench::report("web", "index_rps_while_saving", indexWhileSaving.perSecond(), "requests/s");
    bench::report("web", "saves", counts.value(0).toDouble(), "saves");

    server.terminate();
    server.waitForFinished(3000);
}

} // namespace

BENCH_SCENARIO("web", webScenario);
