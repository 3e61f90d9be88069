// SPDX-License-Identifier: GPL-3.0-or-later
#include "formats/graphics/Fonts.h"
#include "tests/cards/PdfReader.h"
#include "tests/support/TestFolder.h"
#include "widgets/AdvancedGrid.h"

#include <QHeaderView>
#include <QPainter>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTest>

#include <numeric>

using Bands = std::vector<std::pair<int, int>>;
Q_DECLARE_METATYPE(std::vector<int>)
Q_DECLARE_METATYPE(Bands)

namespace {

// A grid as the windows define theirs: no rows yet, small default cells.
void define(AdvancedGrid& grid, int columns, int rows)
{
    grid.setColumnCount(columns);
    grid.setRowCount(rows);
    grid.horizontalHeader()->setDefaultSectionSize(30);
    grid.verticalHeader()->setDefaultSectionSize(40);
}

// A printer that writes the PDF file, on the page a file starts on unless told otherwise.
void printTo(QPrinter& printer, const QString& file, const QPageLayout& page)
{
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(file);
    printer.setPageLayout(page);
}

} // namespace

class AdvancedGridTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { installFontSubstitutes(); }
    void rowCountKeepsTheRowsThatStay();
    void cellsKeepTheirKind();
    void insertAndDeleteRows();
    void cursorIsTheClickedCell();
    void pictureCentredAndScaledKeepingProportions();
    void layOut_data();
    void layOut();
    void paperTurnsForWideGrids();
    void printsRowsWholeAtScreenSize();
    void cutMarksBesideEveryCorner();
    void drawingsPrintAtThePrintersResolution();
    void printsTextCells();
    void emptyGridPrintsOneEmptyPage();
    void unwritableFilePrintsNothing();
};

void AdvancedGridTest::rowCountKeepsTheRowsThatStay()
{
    AdvancedGrid grid;
    define(grid, 4, 3);
    const QByteArray picture = jpegBytes(40, 26, Qt::red);
    grid.setCell(0, 1, GridCell::fromPicture(picture));
    grid.setCell(1, 0, GridCell::fromText("一班"));
    grid.setCell(2, 3, GridCell::fromText("gone"));
    grid.setRowHeight(0, 230);

    grid.setRowCount(2);
    QCOMPARE(grid.rowCount(), 2);
    grid.setRowCount(4);
    QCOMPARE(grid.rowCount(), 4);
    QCOMPARE(grid.getCell(0, 1), GridCell::fromPicture(picture));
    QCOMPARE(grid.getCell(1, 0), GridCell::fromText("一班"));
    QCOMPARE(grid.rowHeight(0), 230);
    // The rows added at the end are new and empty.
    QCOMPARE(grid.getCell(2, 3), GridCell::fromText({}));
    QCOMPARE(grid.rowHeight(2), 40);
    QCOMPARE(grid.rowHeight(3), 40);
}

void AdvancedGridTest::cellsKeepTheirKind()
{
    AdvancedGrid grid;
    define(grid, 2, 2);
    QCOMPARE(grid.getCell(1, 1), GridCell::fromText({})); // never set
    QCOMPARE(grid.getCell(5, 9), GridCell::fromText({})); // outside the grid
    grid.setCell(0, 0, GridCell::fromPicture({}));
    QCOMPARE(grid.getCell(0, 0).kind, GridCell::Kind::Picture);
    grid.setCell(0, 0, GridCell::fromText("文字"));
    QCOMPARE(grid.getCell(0, 0), GridCell::fromText("文字"));
    grid.setCell(7, 0, GridCell::fromText("nowhere")); // ignored, not grown
    QCOMPARE(grid.rowCount(), 2);
    // Texts are edited in place; pictures and picture columns are not.
    grid.setColumnKind(1, GridCell::Kind::Picture);
    grid.setCell(0, 1, GridCell::fromText("x"));
    grid.setCell(1, 0, GridCell::fromPicture(jpegBytes(4, 4)));
    QVERIFY(grid.item(0, 0)->flags() & Qt::ItemIsEditable);
    QVERIFY(!(grid.item(0, 1)->flags() & Qt::ItemIsEditable));
    QVERIFY(!(grid.item(1, 0)->flags() & Qt::ItemIsEditable));
}

void AdvancedGridTest::insertAndDeleteRows()
{
    AdvancedGrid grid;
    define(grid, 3, 3);
    for (int row = 0; row < 3; ++row)
        grid.setCell(row, 0, GridCell::fromText(QString::number(row)));
    grid.insertRow(0);
    QCOMPARE(grid.rowCount(), 4);
    QCOMPARE(grid.getCell(0, 0), GridCell::fromText({}));
    QCOMPARE(grid.getCell(1, 0), GridCell::fromText("0"));
    QCOMPARE(grid.getCell(3, 0), GridCell::fromText("2"));
    grid.deleteRow(2);
    QCOMPARE(grid.rowCount(), 3);
    QCOMPARE(grid.getCell(2, 0), GridCell::fromText("2"));
}

void AdvancedGridTest::cursorIsTheClickedCell()
{
    AdvancedGrid grid;
    define(grid, 4, 3);
    grid.resize(400, 300);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {},
                      grid.visualRect(grid.model()->index(2, 1)).center());
    QCOMPARE(grid.cursorRow(), 2);
    QCOMPARE(grid.cursorColumn(), 1);
}

void AdvancedGridTest::pictureCentredAndScaledKeepingProportions()
{
    AdvancedGrid grid;
    define(grid, 2, 1);
    grid.setShowGrid(false);
    grid.setColumnWidth(0, 300);
    grid.setRowHeight(0, 100);
    grid.setCell(0, 0, GridCell::fromPicture(jpegBytes(50, 50, Qt::red)));
    grid.resize(500, 200);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    const QImage shown = grid.viewport()->grab().toImage();
    const auto isRed = [&shown](int x, int y) {
        const QColor c = shown.pixelColor(x, y);
        return c.red() > 200 && c.green() < 60 && c.blue() < 60;
    };
    // 50 × 50 grows to 100 × 100 in the middle of the 300 × 100 cell.
    QVERIFY(isRed(150, 50));
    QVERIFY(isRed(102, 2));
    QVERIFY(isRed(197, 97));
    QVERIFY(!isRed(97, 50));
    QVERIFY(!isRed(203, 50));
}

void AdvancedGridTest::layOut_data()
{
    QTest::addColumn<std::vector<int>>("widths");
    QTest::addColumn<std::vector<int>>("heights");
    QTest::addColumn<std::vector<int>>("emptyRows");
    QTest::addColumn<QSizeF>("area"); // inches
    QTest::addColumn<double>("scale");
    QTest::addColumn<Bands>("pages");
    // The card columns with the spacer between them are 730 pixels, 750 with the cut marks
    // beside them: 7.81 inches.
    const std::vector<int> sheet{30, 350, 30, 350};
    QTest::newRow("fits at screen size") << sheet << std::vector<int>{230, 40, 230} << std::vector<int>{1}
                                         << QSizeF(8.0, 11) << 1.0 << Bands{{0, 2}};
    // A4 less 6.35 mm on each side is 7.77 inches: both columns stay, a little smaller.
    QTest::newRow("wide driver margins")
        << sheet << std::vector<int>{230} << std::vector<int>{} << QSizeF(8.27 - 0.5, 11)
        << (8.27 - 0.5) * 96 / 750 << Bands{{0, 0}};
    QTest::newRow("too wide") << std::vector<int>{30, 2000, 30, 2000} << std::vector<int>{230}
                              << std::vector<int>{} << QSizeF(8.0, 11) << 8.0 * 96 / 4050 << Bands{{0, 0}};
    // 13 cards 235 high: four card rows fill the page, the fourth spacer row starts no page.
    QTest::newRow("spacer row at a page break")
        << sheet << std::vector<int>{235, 40, 235, 40, 235, 40, 235, 40, 235, 40, 235, 40, 235}
        << std::vector<int>{1, 3, 5, 7, 9, 11} << QSizeF(7.95, 11.38) << 1.0 << Bands{{0, 6}, {8, 12}};
    QTest::newRow("row taller than the page") << sheet << std::vector<int>{2000} << std::vector<int>{}
                                              << QSizeF(8.0, 11) << (11 * 96.0 - 20) / 2000 << Bands{{0, 0}};
    QTest::newRow("leading empty rows") << sheet << std::vector<int>{40, 0, 230} << std::vector<int>{0, 1}
                                        << QSizeF(8.0, 11) << 1.0 << Bands{{2, 2}};
    QTest::newRow("nothing") << sheet << std::vector<int>{} << std::vector<int>{} << QSizeF(8.0, 11) << 1.0
                             << Bands{{0, -1}};
}

void AdvancedGridTest::layOut()
{
    QFETCH(std::vector<int>, widths);
    QFETCH(std::vector<int>, heights);
    QFETCH(std::vector<int>, emptyRows);
    QFETCH(QSizeF, area);
    QFETCH(double, scale);
    QFETCH(Bands, pages);
    AdvancedGrid grid;
    define(grid, int(widths.size()), int(heights.size()));
    for (int column = 0; column < int(widths.size()); ++column)
        grid.setColumnWidth(column, widths[size_t(column)]);
    for (int column : {1, 3})
        grid.setColumnKind(column, GridCell::Kind::Picture);
    for (int row = 0; row < int(heights.size()); ++row) {
        grid.setRowHeight(row, heights[size_t(row)]);
        if (std::find(emptyRows.begin(), emptyRows.end(), row) == emptyRows.end())
            grid.setCell(row, 1, GridCell::fromText("x"));
    }
    const AdvancedGrid::PageLayout layout = grid.layOut(area);
    QVERIFY2(std::abs(layout.scale - scale) < 1e-9, qPrintable(QString::number(layout.scale)));
    QCOMPARE(layout.rows, pages);
    // Centred across: as much room on the left of the card columns as on their right; the
    // empty spacer column before them is not printed.
    const double across = area.width() * 96 / layout.scale;
    const double width = std::accumulate(widths.begin() + 1, widths.end(), 0.0);
    QVERIFY(std::abs(layout.left + widths[0] - (across - width) / 2) < 1e-9);
}

void AdvancedGridTest::paperTurnsForWideGrids()
{
    AdvancedGrid grid;
    define(grid, 4, 1);
    grid.setColumnWidth(1, 350);
    grid.setColumnWidth(3, 350);
    for (int column : {1, 3})
        grid.setColumnKind(column, GridCell::Kind::Picture);
    // 730 pixels with the cut marks beside them fit across A4.
    QCOMPARE(grid.defaultPageLayout().orientation(), QPageLayout::Portrait);
    QCOMPARE(grid.defaultPageLayout().pageSize().id(), QPageSize::A4);
    grid.setColumnWidth(3, 400);
    QCOMPARE(grid.defaultPageLayout().orientation(), QPageLayout::Landscape);
    grid.setColumnWidth(3, 2000); // fits neither way: scaled down upright
    QCOMPARE(grid.defaultPageLayout().orientation(), QPageLayout::Portrait);
}

void AdvancedGridTest::printsRowsWholeAtScreenSize()
{
    // Five card rows of 300 pixels: 300 + 40 + 300 + 40 + 300 fit on A4, the rest goes over.
    AdvancedGrid grid;
    define(grid, 4, 9);
    grid.setColumnWidth(1, 350);
    grid.setColumnWidth(3, 350);
    for (int column : {1, 3})
        grid.setColumnKind(column, GridCell::Kind::Picture);
    const QByteArray card = jpegBytes(400, 260, Qt::darkGreen);
    for (int row = 0; row < 9; row += 2) {
        grid.setRowHeight(row, 300);
        grid.setCell(row, 1, GridCell::fromPicture(card));
    }
    QTemporaryDir dir;
    const QString file = dir.filePath("sheet.pdf");
    QPrinter printer(QPrinter::HighResolution);
    printTo(printer, file, grid.defaultPageLayout());
    QCOMPARE(grid.paintPages(printer), 2);
    QCOMPARE(pdf::imagesPerPage(file), QList<int>({3, 2}));
    // Only the second page, when the print dialog asks for it.
    const QString second = dir.filePath("second.pdf");
    printer.setOutputFileName(second);
    printer.setPageRanges(QPageRanges::fromString("2"));
    QCOMPARE(grid.paintPages(printer), 1);
    QCOMPARE(pdf::imagesPerPage(second), QList<int>({2}));
    // One grid pixel is 1/96 inch: 400 picture pixels over 350 grid pixels make 110 ppi.
    for (const pdf::Image& image : pdf::images(file))
        QCOMPARE(image.xPpi, 110);

    // On the page at 96 dpi the card columns are centred between the 4 mm margins.
    const QImage page = pdf::page(file, 1, 96);
    const double margin = 4 / 25.4 * 96;
    const int left = qRound(margin + (page.width() - 2 * margin - 730) / 2);
    const int top = qRound(margin) + AdvancedGrid::cutMarkReach;
    const auto isCard = [&page](int x, int y) { return page.pixelColor(x, y).green() < 160; };
    QVERIFY(!isCard(left - 3, 100));
    QVERIFY(isCard(left + 3, 100));
    QVERIFY(isCard(left + 346, 100));
    QVERIFY(!isCard(left + 354, 100));
    // 400 × 260 in a 350 × 300 cell: 228 high, centred, so 36 pixels below the row's top.
    QVERIFY(!isCard(100 + left, top + 33));
    QVERIFY(isCard(100 + left, top + 39));
}

void AdvancedGridTest::cutMarksBesideEveryCorner()
{
    AdvancedGrid grid;
    define(grid, 4, 3);
    grid.setShowGrid(false);
    for (int column : {1, 3}) {
        grid.setColumnWidth(column, 350);
        grid.setColumnKind(column, GridCell::Kind::Picture);
    }
    const QByteArray card = jpegBytes(350, 230, Qt::white); // white: only the marks are dark
    for (int row : {0, 2}) {
        grid.setRowHeight(row, 230);
        for (int column : {1, 3})
            grid.setCell(row, column, GridCell::fromPicture(card));
    }
    QTemporaryDir dir;
    const QString file = dir.filePath("marks.pdf");
    QPrinter printer(QPrinter::HighResolution);
    printTo(printer, file, grid.defaultPageLayout());
    QCOMPARE(grid.paintPages(printer), 1);

    // At 192 dpi a grid pixel is two page pixels.
    const QImage page = pdf::page(file, 1, 192);
    const double margin = 4 / 25.4 * 192;
    const double left = margin + (page.width() - 2 * margin - 2 * 730) / 2 - 2 * 30;
    const double top = margin + 2 * AdvancedGrid::cutMarkReach;
    const auto darkNear = [&page](QPointF at) {
        for (int dy = -2; dy <= 2; ++dy) {
            for (int dx = -2; dx <= 2; ++dx) {
                if (page.pixelColor(qRound(at.x()) + dx, qRound(at.y()) + dy).lightness() < 128)
                    return true;
            }
        }
        return false;
    };
    for (const double x : {30.0, 380.0, 410.0, 760.0}) {
        for (const double y : {0.0, 230.0, 270.0, 500.0}) {
            const QPointF corner(left + 2 * x, top + 2 * y);
            const double outX = (x == 30 || x == 410) ? -1 : 1;
            const double outY = (y == 0 || y == 270) ? -1 : 1;
            // A mark along each edge, starting a little away from the corner.
            QVERIFY2(darkNear(corner + QPointF(outX * 12, 0)), qPrintable(QString("%1,%2").arg(x).arg(y)));
            QVERIFY2(darkNear(corner + QPointF(0, outY * 12)), qPrintable(QString("%1,%2").arg(x).arg(y)));
            QVERIFY(!darkNear(corner + QPointF(outX * 26, 0)));
            // Never on the card.
            QVERIFY(!darkNear(corner + QPointF(-outX * 8, -outY * 8)));
        }
    }
}

void AdvancedGridTest::drawingsPrintAtThePrintersResolution()
{
    // Stands in for a card: remembers the resolution it was drawn at.
    struct Drawing final : GridDrawing {
        mutable QList<double> scales;
        QSize size() const override { return {400, 260}; }
        void paint(QPainter& painter, const QRectF& target, PdfFinisher*) const override
        {
            scales << painter.deviceTransform().mapRect(target).width() / target.width();
            painter.fillRect(target, Qt::blue);
        }
    };
    const auto drawing = std::make_shared<Drawing>();
    AdvancedGrid grid;
    define(grid, 4, 1);
    grid.setColumnWidth(1, 400);
    grid.setRowHeight(0, 260);
    grid.setCell(0, 1, GridCell::fromPicture(jpegBytes(40, 26, Qt::red), drawing));
    QCOMPARE(grid.getCell(0, 1).drawing, drawing);

    QTemporaryDir dir;
    QPrinter printer(QPrinter::HighResolution);
    printTo(printer, dir.filePath("drawn.pdf"), grid.defaultPageLayout());
    QCOMPARE(grid.paintPages(printer), 1);
    // Drawn once, at 1200 dpi, not copied from the 40 × 26 screen picture.
    QCOMPARE(drawing->scales, QList<double>({1200.0 / 96}));
    QVERIFY(pdf::images(dir.filePath("drawn.pdf")).isEmpty());
}

void AdvancedGridTest::printsTextCells()
{
    AdvancedGrid grid;
    define(grid, 3, 2);
    grid.setCell(0, 0, GridCell::fromText("所属单位"));
    grid.setCell(1, 2, GridCell::fromText("secret"));
    QTemporaryDir dir;
    const QString file = dir.filePath("table.pdf");
    QPrinter printer(QPrinter::HighResolution);
    printTo(printer, file, grid.defaultPageLayout());
    QCOMPARE(grid.paintPages(printer), 1);
    const QString text = pdf::text(file);
    QVERIFY2(text.contains("所属单位") && text.contains("secret"), qPrintable(text));
}

void AdvancedGridTest::emptyGridPrintsOneEmptyPage()
{
    AdvancedGrid grid;
    define(grid, 4, 0);
    QTemporaryDir dir;
    QPrinter printer(QPrinter::HighResolution);
    printTo(printer, dir.filePath("empty.pdf"), grid.defaultPageLayout());
    QCOMPARE(grid.paintPages(printer), 1);
    QCOMPARE(pdf::pageCount(dir.filePath("empty.pdf")), 1);
}

void AdvancedGridTest::unwritableFilePrintsNothing()
{
    AdvancedGrid grid;
    define(grid, 4, 1);
    QPrinter printer(QPrinter::HighResolution);
    printTo(printer, "/nonexistent-folder/sheet.pdf", grid.defaultPageLayout());
    QTest::ignoreMessage(QtWarningMsg, "QPainter::begin(): Returned false");
    QCOMPARE(grid.paintPages(printer), 0);
}

QTEST_MAIN(AdvancedGridTest)
#include "tst_advancedgrid.moc"
