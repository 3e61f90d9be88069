// SPDX-License-Identifier: GPL-3.0-or-later
// Copying an Access file written by Access itself into a new SQLite file, as
// `qinghe import-access FILE --copy-to OUT` does.
#include "bench/Bench.h"

#include "exchange/AccessImport.h"

#include <QTemporaryDir>

#include <algorithm>
#include <vector>

namespace {

void accessScenario()
{
    const QString source = QStringLiteral(QINGHE_BENCH_JET_FILE);
    QTemporaryDir dir;
    constexpr int runs = 9; // the file is small: the median of several copies
    std::vector<double> times;
    qint64 rows = 0;
    for (int i = 0; i < runs; ++i) {
        const QString out = dir.filePath(QStringLiteral("copy%1.sqlite").arg(i));
        const double start = bench::nowMs();
        const AccessImport::Result result = AccessImport::copyTo(source, out);
        times.push_back(bench::nowMs() - start);
        if (!result.ok)
            qFatal("access copy failed: %s", qPrintable(result.error));
        rows = result.rows;
    }
    std::sort(times.begin(), times.end());
    const double median = times[runs / 2];
    bench::report("access", "copy_ms", median, "ms");
    bench::report("access", "rows_per_s", double(rows) / (median / 1000.0), "rows/s");
}

} // namespace

BENCH_SCENARIO("access", accessScenario);
