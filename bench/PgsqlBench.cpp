// SPDX-License-Identifier: GPL-3.0-or-later
// The archive on a PostgreSQL server started for the run (with fsync, as a school's server
// runs): one station saving a student with a 30 KB photo, four stations saving at once, and
// the web site's class page from the server beside the same page from the file.
#include "bench/Bench.h"
#include "bench/BenchFolder.h"

#include "archive/ArchiveCopy.h"
#include "archive/ArchiveLocation.h"
#include "archive/DatabaseConnection.h"
#include "archive/ProgramFolder.h"
#include "archive/Recordset.h"
#include "archive/StudentTable.h"
#include "tests/support/PostgresServer.h"
#include "web/SitePages.h"

#include <httplib.h>

#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace {

bool saveStudent(Recordset& records, int n, const QByteArray& photo)
{
    return records.addNew() && records.writeText(u"姓名", QStringLiteral("新生%1").arg(n))
           && records.writeText(u"班级", QStringLiteral("新生班"))
           && records.writeText(u"性别", QStringLiteral("女")) && records.writeBytes(u"照片", photo)
           && records.update();
}

// Requests per second for the home page over 8 kept-alive connections for two seconds.
double indexRate(const QString& site)
{
    QProcess server;
    server.start(QStringLiteral(QINGHE_ASP_PROGRAM), {"--root", site, "--port", "0"});
    QByteArray out;
    while (!out.contains('\n') && server.waitForReadyRead(5000))
        out += server.readAllStandardOutput();
    const auto m = QRegularExpression(QStringLiteral("端口 (\\d+)")).match(QString::fromLocal8Bit(out));
    if (!m.hasMatch()) {
        std::fprintf(stderr, "pgsql: the web server did not start\n");
        return 0;
    }
    const int port = m.captured(1).toInt();
    std::atomic<int> requests{0}, failed{0};
    const double start = bench::nowMs();
    const double end = start + 2000;
    std::vector<std::thread> clients;
    for (int c = 0; c < 8; ++c) {
        clients.emplace_back([&] {
            httplib::Client client("127.0.0.1", port);
            client.set_keep_alive(true);
            client.set_read_timeout(10);
            while (bench::nowMs() < end) {
                const auto r = client.Get("/index.asp");
                ++requests;
                if (!r || r->status != 200)
                    ++failed;
            }
        });
    }
    for (auto& t : clients)
        t.join();
    const double elapsed = bench::nowMs() - start;
    server.terminate();
    server.waitForFinished(3000);
    if (failed > 0)
        std::fprintf(stderr, "pgsql: %d failed requests\n", failed.load());
    return requests * 1000.0 / elapsed;
}

void pgsqlScenario()
{
    PostgresServer postgres(true);
    if (!postgres.isRunning()) {
        std::fprintf(stderr, "pgsql: no server: %s\n", qPrintable(postgres.error()));
        return;
    }
    const QString uri = postgres.createDatabase();
    // Ten classes of 50, the web scenario's school.
    const BenchFolder folder(500, 30 * 1024, 10);
    ArchiveCopy::Counts counts;
    QString error;
    if (!ArchiveCopy::copy(folder.databaseFile(), uri, &counts, &error)) {
        std::fprintf(stderr, "pgsql: %s\n", qPrintable(error));
        return;
    }
    const QByteArray photo = benchPhoto(30 * 1024, 99);

    {
        DatabaseConnection connection;
        connection.openLocation(uri);
        Recordset records;
        records.attach(connection);
        records.open(StudentTable::selectId(-1));
        constexpr int saves = 60;
        std::vector<double> times;
        for (int i = 0; i < saves; ++i) {
            const double t0 = bench::nowMs();
            if (!saveStudent(records, i, photo))
                std::fprintf(stderr, "pgsql: %s\n", qPrintable(records.lastError()));
            times.push_back(bench::nowMs() - t0);
        }
        std::sort(times.begin(), times.end());
        bench::report("pgsql", "save_ms", times[times.size() / 2], "ms");
    }

    {
        constexpr int stations = 4;
        std::atomic<int> saved{0}, failed{0};
        const double start = bench::nowMs();
        const double end = start + 3000;
        std::vector<std::thread> threads;
        for (int s = 0; s < stations; ++s) {
            threads.emplace_back([&, s] {
                DatabaseConnection connection;
                connection.openLocation(uri);
                Recordset records;
                records.attach(connection);
                records.open(StudentTable::selectId(-1));
                for (int i = 0; bench::nowMs() < end; ++i)
                    ++(saveStudent(records, s * 10000 + i, photo) ? saved : failed);
            });
        }
        for (auto& t : threads)
            t.join();
        bench::report("pgsql", "stations_saves_per_s", saved * 1000.0 / (bench::nowMs() - start), "saves/s");
        if (failed > 0)
            std::fprintf(stderr, "pgsql: %d saves failed\n", failed.load());
    }

    const QString site = ProgramFolder::databaseFolder(folder.path());
    for (const char* file : {"login.asp", "show.asp", "up.asp", "print.js"})
        QFile::copy(QStringLiteral(QINGHE_SITE_FOLDER "/") + QLatin1String(file),
                    site + u'/' + QLatin1String(file));
    SitePages::write(folder.path(), SitePages::defaultTitle, SitePages::defaultOptions);
    const double fileRate = indexRate(site);
    ArchiveLocation::setServer(folder.path(), uri);
    const double serverRate = indexRate(site);
    bench::report("pgsql", "file_index_rps", fileRate, "requests/s");
    bench::report("pgsql", "index_rps", serverRate, "requests/s");
    bench::report("pgsql", "index_ratio", fileRate > 0 ? serverRate / fileRate : 0, "x");
}

} // namespace

BENCH_SCENARIO("pgsql", pgsqlScenario);
