// SPDX-License-Identifier: GPL-3.0-or-later
// Copying an Access student archive into a new SQLite file through the Access reader's own
// process, as `qinghe import-access FILE --copy-to OUT` does: an archive of 5,000 students with
// 30 KB photos, written by make-jet-archive.py on the pages of a file written by Access.
#include "bench/Bench.h"

#include "archive/jet/JetReader.h"
#include "exchange/AccessImport.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <vector>

namespace {

constexpr int students = 5000;
constexpr int photoBytes = 30 * 1024;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void accessScenario()
{
    if (!qEnvironmentVariableIsSet("QINGHE_JET_READER"))
        qputenv("QINGHE_JET_READER", QINGHE_BENCH_JET_READER);
    QTemporaryDir dir;
    const QString archive = dir.filePath(QStringLiteral("学生信息.mdb"));
    QProcess maker;
    maker.start(QStringLiteral("python3"),
                {QStringLiteral(QINGHE_BENCH_JET_MAKER), QStringLiteral(QINGHE_BENCH_JET_TEMPLATE), archive,
                 QString::number(students), QString::number(photoBytes)});
    if (!maker.waitForFinished(300000) || maker.exitCode() != 0)
        qFatal("make-jet-archive.py failed: %s", maker.readAllStandardError().constData());

    // From starting the reader to having the file's catalogue, checked: what every conversion
    // pays before its first row.
    std::vector<double> starts;
    for (int i = 0; i < 9; ++i) {
        JetReader reader;
        const double start = bench::nowMs();
        if (!reader.open(archive))
            qFatal("access reader: %s", qPrintable(reader.lastError()));
        starts.push_back(bench::nowMs() - start);
    }
    bench::report("access", "reader_start_ms", median(starts), "ms");

    std::vector<double> times;
    qint64 rows = 0;
    for (int i = 0; i < 3; ++i) {
        const QString out = dir.filePath(QStringLiteral("copy%1.sqlite").arg(i));
        const double start = bench::nowMs();
        AccessImport::Report result;
        QString error;
        const bool copied = AccessImport::copyTo(archive, out, &result, &error);
        times.push_back(bench::nowMs() - start);
        if (!copied)
            qFatal("access copy failed: %s", qPrintable(error));
        rows = result.rows;
        QFile::remove(out);
    }
    const double copy = median(times);
    bench::report("access", "copy_ms", copy, "ms");
    bench::report("access", "rows_per_s", double(rows) / (copy / 1000.0), "rows/s");
}

} // namespace

BENCH_SCENARIO("access", accessScenario);
