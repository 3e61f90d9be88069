// SPDX-License-Identifier: GPL-3.0-or-later
// A large school's card sheet: compose and place 1,000 cards, each with a photo of its own,
// print them to a PDF a print shop accepts (text as text, pictures at their own pixels), and
// open the print preview of the whole sheet; the same cards one a page for a card printer; the
// same sheet with a QR code on every card.
//
// QINGHE_BENCH_PICTURES=folder also writes the background and one photo there, for running
// another card program on the same pictures. With gLabels 3 installed, its merge of the same
// cards (bench/peer/glabels-cards.sh) runs beside ours.
#include "bench/Bench.h"
#include "bench/BenchFolder.h"

#include "archive/DatabaseConnection.h"
#include "archive/ProgramFolder.h"
#include "archive/Recordset.h"
#include "archive/StudentTable.h"
#include "cards/SheetGrid.h"
#include "cards/pages/CardComposer.h"
#include "cards/pages/CardSheet.h"
#include "cards/pages/SheetRenderer.h"
#include "widgets/AdvancedGrid.h"
#include "widgets/PrintPreview.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int students = 1000;
constexpr int photoBytes = 30 * 1024;

// What the photos of the whole sheet weigh as stored.
double photosMb(Recordset& records)
{
    double bytes = 0;
    for (records.moveFirst(); !records.atEnd(); records.moveNext())
        bytes += double(records.readBytes(u"照片").size());
    return bytes / (1024.0 * 1024.0);
}

void savePictures(const QString& folder, Recordset& records, const CardLayout& layout)
{
    QDir().mkpath(folder);
    records.moveFirst();
    QFile photo(QDir(folder).filePath(QStringLiteral("photo.jpg")));
    if (photo.open(QIODevice::WriteOnly))
        photo.write(records.readBytes(u"照片"));
    QFile background(QDir(folder).filePath(QStringLiteral("background.jpg")));
    if (background.open(QIODevice::WriteOnly))
        background.write(layout.background.isEmpty() ? CardLayout::builtInBackground() : layout.background);
}

// The same cards merged by gLabels 3 from the same photo and background, when it is
// installed: our time for the 1,000-card PDF against its time, higher when we are faster.
void compareWithGlabels(Recordset& records, const CardLayout& layout, double oursMs)
{
    if (QStandardPaths::findExecutable(QStringLiteral("glabels-3-batch")).isEmpty()) {
        std::fprintf(stderr,
                     "cards.vs_glabels: glabels-3-batch 没有安装（apt-get install glabels），不比较\n");
        return;
    }
    const QTemporaryDir work;
    savePictures(work.path(), records, layout);
    QProcess peer;
    peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    peer.start(QStringLiteral(QINGHE_BENCH_PEER_FOLDER) + QStringLiteral("/glabels-cards.sh"),
               {QString::number(students), work.filePath(QStringLiteral("photo.jpg")),
                work.filePath(QStringLiteral("background.jpg")),
                work.filePath(QStringLiteral("glabels.pdf"))});
    bool read = false;
    const double seconds = peer.waitForFinished(600000) && peer.exitCode() == 0
                               ? QString::fromUtf8(peer.readAllStandardOutput()).trimmed().toDouble(&read)
                               : 0;
    if (!read || seconds <= 0) {
        std::fprintf(stderr, "cards.vs_glabels: gLabels 没有做出 PDF\n");
        return;
    }
    bench::report("cards", "glabels_ms", seconds * 1000, "ms");
    bench::report("cards", "vs_glabels", seconds * 1000 / oursMs, "x");
}

// The same cards for a card printer: a thousand pages of one card each, backgrounds to the
// paper's edge.
void cardPrinterPages(const CardSheet& sheet, const QTemporaryDir& output)
{
    const QString file = output.filePath(QStringLiteral("card-printer.pdf"));
    const double start = bench::nowMs();
    const int pages = SheetRenderer(sheet, SheetRenderer::Paper::CardPrinter).writePdf(file);
    const double printed = bench::nowMs() - start;
    if (pages != students)
        qFatal("the card-printer PDF has %d pages", pages);
    bench::report("cards", "card_printer_ms", printed, "ms");
    bench::report("cards", "card_printer_mb", double(QFileInfo(file).size()) / (1024.0 * 1024.0), "MB");
}

void cardsScenario()
{
    const BenchFolder folder(students, photoBytes, 50, students);
    DatabaseConnection connection;
    connection.openDatabaseFile(folder.databaseFile());
    Recordset records;
    records.attach(connection);
    CardSheet sheet;
    AdvancedGrid grid;
    SheetGrid::define(grid);

    const double start = bench::nowMs();
    records.open(StudentTable::selectAll);
    const CardLayout layout = CardLayout::load(folder.path());
    const CardComposer composer(layout);
    const int cards = sheet.fill(records, composer, CardSheet::loadCardSize(folder.path()));
    SheetGrid::show(sheet, grid); // as the preview window shows it
    const double sheetMs = bench::nowMs() - start;
    if (cards != students)
        qFatal("the sheet holds %d cards", cards);
    bench::report("cards", "sheet_ms", sheetMs, "ms");
    if (const QString pictures = qEnvironmentVariable("QINGHE_BENCH_PICTURES"); !pictures.isEmpty())
        savePictures(pictures, records, layout);

    const QTemporaryDir output;
    const QString file = output.filePath(QStringLiteral("cards.pdf"));
    const double printStart = bench::nowMs();
    const int pages = SheetRenderer(sheet).writePdf(file);
    const double printed = bench::nowMs() - printStart;
    if (pages != (students + 7) / 8)
        qFatal("the PDF has %d pages", pages);
    bench::report("cards", "pdf_ms", printed, "ms");
    bench::report("cards", "pdf_mb", double(QFileInfo(file).size()) / (1024.0 * 1024.0), "MB");
    bench::report("cards", "photos_mb", photosMb(records), "MB");
    compareWithGlabels(records, layout, sheetMs + printed);
    if (qEnvironmentVariableIsSet("QINGHE_BENCH_KEEP_PDF"))
        QFile::copy(file, qEnvironmentVariable("QINGHE_BENCH_KEEP_PDF"));

    cardPrinterPages(sheet, output);

    // The same sheet with every student's number as a QR code, drawn as shapes.
    {
        if (!CardLayout::saveBarcode(folder.path(), {BarcodeType::QR, QRect(320, 16, 70, 70)}))
            qFatal("the settings file cannot be written");
        CardSheet coded;
        const CardComposer codedComposer(CardLayout::load(folder.path()));
        coded.fill(records, codedComposer, CardSheet::loadCardSize(folder.path()));
        const QString codedFile = output.filePath(QStringLiteral("codes.pdf"));
        const double codedStart = bench::nowMs();
        if (SheetRenderer(coded).writePdf(codedFile) != pages)
            qFatal("the PDF with codes has another number of pages");
        bench::report("cards", "pdf_barcode_ms", bench::nowMs() - codedStart, "ms");
    }

    // The preview of the whole sheet, until its first page is on the screen.
    const double heapBefore = bench::heapMb();
    const double previewStart = bench::nowMs();
    {
        QPrinter printer(QPrinter::HighResolution);
        const SheetRenderer renderer(sheet);
        printer.setPageLayout(renderer.defaultPageLayout());
        PrintPreviewDialog preview(printer, renderer.pages(), [](QPrinter&) { return false; });
        preview.show();
        QApplication::processEvents();
        preview.grab(); // the first page drawn, as the screen shows it
        const double opened = bench::nowMs() - previewStart;
        bench::report("cards", "preview_ms", opened, "ms");
        bench::report("cards", "preview_mb", bench::heapMb() - heapBefore, "MB");
    }
    bench::report("cards", "memory_mb", bench::peakRssMb(), "MB");
}

} // namespace

BENCH_SCENARIO("cards", cardsScenario);
