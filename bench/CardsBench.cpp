// SPDX-License-Identifier: GPL-3.0-or-later
// A large school's card sheet: compose and place 1,000 cards with photos, then print them
// to PDF, holding the cards compressed all the while.
#include "bench/Bench.h"
#include "bench/BenchFolder.h"

#include "cards/CardComposer.h"
#include "cards/CardSheet.h"
#include "platform/DatabaseConnection.h"
#include "platform/Recordset.h"
#include "platform/StudentTable.h"
#include "platform/widgets/AdvancedGrid.h"

#include <QTemporaryDir>

namespace {

void cardsScenario()
{
    constexpr int students = 1000;
    const BenchFolder folder(students, 30 * 1024);
    DatabaseConnection connection;
    connection.openDatabaseFile(folder.databaseFile());
    Recordset records;
    records.attach(connection);
    AdvancedGrid grid;
    CardSheet::defineGrid(grid);

    const double start = bench::nowMs();
    records.open(StudentTable::selectAll);
    const CardComposer composer(CardLayout::load(folder.path()));
    const int cards = CardSheet::fill(grid, records, composer, CardSheet::loadCardSize(folder.path()));
    const double sheet = bench::nowMs() - start;
    if (cards != students)
        qFatal("the sheet holds %d cards", cards);
    bench::report("cards", "sheet_ms", sheet, "ms");

    const QTemporaryDir output;
    const double printStart = bench::nowMs();
    const int pages = CardSheet::writePdf(grid, output.filePath(QStringLiteral("cards.pdf")));
    const double printed = bench::nowMs() - printStart;
    if (pages != (students + 7) / 8)
        qFatal("the PDF has %d pages", pages);
    bench::report("cards", "pdf_ms", printed, "ms");
    bench::report("cards", "memory_mb", bench::peakRssMb(), "MB");
}

} // namespace

BENCH_SCENARIO("cards", cardsScenario);
