// SPDX-License-Identifier: GPL-3.0-or-later
// The web site under load: the real asp program on a free local port, clients keeping their
// connections alive, a class of 50 students with 30 KB photos, and the desktop program
// saving a student every 100 ms meanwhile.
#include "bench/Bench.h"
#include "bench/BenchFolder.h"

#include "platform/DatabaseConnection.h"
#include "platform/IniFile.h"
#include "platform/ProgramFolder.h"
#include "server/engine/FormData.h"
#include "tests/journeys/ProgramOnDesktop.h"
#include "tests/support/ChildProcess.h"
#include "web/SitePages.h"

#include <httplib.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

namespace {

constexpr int connections = 8;
constexpr double seconds = 3;
constexpr int maxRequests = 30000;

struct Load {
    int requests = 0;
    int failed = 0;
    std::vector<double> latencies;
    double elapsedMs = 0;

    double perSecond() const { return elapsedMs > 0 ? requests * 1000.0 / elapsedMs : 0; }
    double p99() const
    {
        if (latencies.empty())
            return 0;
        std::vector<double> sorted = latencies;
        std::sort(sorted.begin(), sorted.end());
        return sorted[size_t(double(sorted.size() - 1) * 0.99)];
    }
};

// Several clients, each on one kept-alive connection, asking for targets until the time or
// the count is used up.
Load hammer(int port, const std::function<std::string(int client, int i)>& target)
{
    std::vector<Load> loads(connections);
    std::atomic<int> budget{maxRequests};
    const double start = bench::nowMs();
    const double end = start + seconds * 1000;
    std::vector<std::thread> clients;
    for (int c = 0; c < connections; ++c) {
        clients.emplace_back([&, c] {
            httplib::Client client("127.0.0.1", port);
            client.set_keep_alive(true);
            client.set_read_timeout(10);
            for (int i = 0; bench::nowMs() < end && budget.fetch_sub(1) > 0; ++i) {
                const double t0 = bench::nowMs();
                const auto r = client.Get(target(c, i));
                loads[size_t(c)].latencies.push_back(bench::nowMs() - t0);
                ++loads[size_t(c)].requests;
                if (!r || r->status != 200)
                    ++loads[size_t(c)].failed;
            }
        });
    }
    for (auto& t : clients)
        t.join();
    Load all;
    all.elapsedMs = bench::nowMs() - start;
    for (const Load& l : loads) {
        all.requests += l.requests;
        all.failed += l.failed;
        all.latencies.insert(all.latencies.end(), l.latencies.begin(), l.latencies.end());
    }
    return all;
}

QProcess* phpPeer = nullptr;

// A port nobody listens on now; 0 when none could be found.
int freeLocalPort()
{
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (::bind(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0
        || ::getsockname(probe, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        ::close(probe);
        return 0;
    }
    ::close(probe);
    return ntohs(addr.sin_port);
}

// php -S on a free port serving the PHP home page; 0 when PHP is not there.
int startPhpPeer(const QString& databaseFile)
{
    const int port = freeLocalPort();
    if (port == 0)
        return 0;
    phpPeer = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QINGHE_PEER_DATABASE"), databaseFile);
    phpPeer->setProcessEnvironment(env);
    phpPeer->start(QStringLiteral("php"),
                   QStringList{QStringLiteral("-S"), QStringLiteral("127.0.0.1:%1").arg(port),
                               QStringLiteral("-t"), QStringLiteral(QINGHE_PHP_PEER_FOLDER)});
    if (!phpPeer->waitForStarted(5000)) {
        std::fprintf(stderr, "web: php did not start (install php-cli and php-sqlite3)\n");
        return 0;
    }
    for (int i = 0; i < 50; ++i) {
        httplib::Client c("127.0.0.1", port);
        if (c.Get("/index.php"))
            return port;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return 0;
}

void stopPhpPeer()
{
    if (!phpPeer)
        return;
    phpPeer->terminate();
    phpPeer->waitForFinished(3000);
    delete phpPeer;
    phpPeer = nullptr;
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

    const Load index = hammer(port, [](int, int) { return std::string("/index.asp"); });
    bench::report("web", "index_rps", index.perSecond(), "requests/s");
    bench::report("web", "index_p99_ms", index.p99(), "ms");

    // The same page in PHP over PDO SQLite, served by php -S, loaded the same way.
    if (const int phpPort = startPhpPeer(folder.databaseFile()); phpPort > 0) {
        httplib::Client ours("127.0.0.1", port), theirs("127.0.0.1", phpPort);
        const auto a = ours.Get("/index.asp");
        const auto b = theirs.Get("/index.php");
        const bool identical = a && b && a->body == b->body;
        if (!identical)
            std::fprintf(stderr, "web: the PHP page differs from index.asp (%zu and %zu bytes)\n",
                         a ? a->body.size() : 0, b ? b->body.size() : 0);
        bench::report("web", "php_identical", identical ? 1 : 0, "");
        const Load php = hammer(phpPort, [](int, int) { return std::string("/index.php"); });
        bench::report("web", "php_index_rps", php.perSecond(), "requests/s");
        bench::report("web", "index_vs_php", php.perSecond() > 0 ? index.perSecond() / php.perSecond() : 0,
                      "x");
        stopPhpPeer();
    }

    // The home page's students are ids 1, 11, 21 … (the classes take turns).
    auto photo = [](int c, int i) { return "/show.asp?id=" + std::to_string(1 + 10 * ((c * 7 + i) % 50)); };
    const Load photos = hammer(port, photo);
    bench::report("web", "photo_rps", photos.perSecond(), "requests/s");

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
    const Load indexWhileSaving = hammer(port, [](int, int) { return std::string("/index.asp"); });
    const Load photosWhileSaving = hammer(port, photo);
    editing = false;
    editor.join();
    writer.waitForFinished(int(seconds * 3 * 1000));
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
