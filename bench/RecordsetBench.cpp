// SPDX-License-Identifier: GPL-3.0-or-later
// Listing all students must not load their photos.
#include "bench/Bench.h"
#include "bench/BenchFolder.h"

#include "archive/DatabaseConnection.h"
#include "archive/Recordset.h"
#include "archive/StudentTable.h"

namespace {

void recordsetScenario()
{
    const BenchFolder folder(5000, 30 * 1024);
    DatabaseConnection connection;
    connection.openDatabaseFile(folder.databaseFile());
    Recordset students;
    students.attach(connection);

    const double start = bench::nowMs();
    students.open(StudentTable::selectAll);
    const double opened = bench::nowMs() - start;
    students.moveFirst();
    int withPhoto = 0;
    qint64 checksum = 0;
    for (int i = 0, n = students.recordCount(); i < n; ++i) {
        checksum += students.readInteger(u"id");
        checksum += students.readText(u"姓名").size() + students.readText(u"编号").size()
                    + students.readText(u"班级").size();
        withPhoto += students.fieldIsEmpty(u"照片") ? 0 : 1;
        students.moveNext();
    }
    const double elapsed = bench::nowMs() - start;
    if (withPhoto != 5000 || checksum == 0)
        qFatal("recordset walk saw %d photos", withPhoto);
    bench::report("recordset", "open_ms", opened, "ms");
    bench::report("recordset", "walk_ms", elapsed, "ms");
    // What the result holds is what closing it gives back (the connection's page cache stays).
    const double heapHeld = bench::heapMb();
    students.close();
    bench::report("recordset", "memory_mb", heapHeld - bench::heapMb(), "MB");
}

} // namespace

BENCH_SCENARIO("recordset", recordsetScenario);
