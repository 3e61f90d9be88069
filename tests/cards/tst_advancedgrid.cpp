// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Fonts.h"
#include "platform/widgets/AdvancedGrid.h"
#include "tests/cards/PdfReader.h"
#include "tests/support/TestFolder.h"

#include <QHeaderView>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTest>

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
    void pageBands_data();
    void pageBands();
    void paperTurnsForWideGrids();
    void printsRowsWholeAtScreenSize();
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
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, grid.visualRect(grid.model()->index(2, 1)).center());
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

void AdvancedGridTest::pageBands_data()
{
    QTest::addColumn<std::vector<int>>("sizes");
    QTest::addColumn<int>("available");
    QTest::addColumn<Bands>("expected");
    QTest::newRow("nothing") << std::vector<int>{} << 100 << Bands{};
    QTest::newRow("all fit") << std::vector<int>{30, 40, 30} << 100 << Bands{{0, 2}};
    QTest::newRow("exactly full") << std::vector<int>{50, 50, 10} << 100 << Bands{{0, 1}, {2, 2}};
    QTest::newRow("card rows") << std::vector<int>{230, 40, 230, 40, 230} << 540 << Bands{{0, 3}, {4, 4}};
    QTest::newRow("too large for a page") << std::vector<int>{10, 500, 10} << 100
                                          << Bands{{0, 0}, {1, 1}, {2, 2}};
    QTest::newRow("hidden sections ride along") << std::vector<int>{100, 0, 0, 100} << 100
                                                << Bands{{0, 2}, {3, 3}};
}

void AdvancedGridTest::pageBands()
{
    QFETCH(std::vector<int>, sizes);
    QFETCH(int, available);
    QFETCH(Bands, expected);
    QCOMPARE(AdvancedGrid::pageBands(sizes, available), expected);
}

void AdvancedGridTest::paperTurnsForWideGrids()
{
    AdvancedGrid grid;
    define(grid, 4, 1);
    grid.setColumnWidth(1, 350);
    grid.setColumnWidth(3, 350);
    QCOMPARE(grid.defaultPageLayout().orientation(), QPageLayout::Portrait); // 760 pixels fit across A4
    QCOMPARE(grid.defaultPageLayout().pageSize().id(), QPageSize::A4);
    grid.setColumnWidth(3, 400);
    QCOMPARE(grid.defaultPageLayout().orientation(), QPageLayout::Landscape);
    grid.setColumnWidth(3, 2000); // fits neither way: spread over pages upright
    QCOMPARE(grid.defaultPageLayout().orientation(), QPageLayout::Portrait);
}

void AdvancedGridTest::printsRowsWholeAtScreenSize()
{
    // Five card rows of 300 pixels: 300 + 40 + 300 + 40 + 300 fit on A4, the rest goes over.
    AdvancedGrid grid;
    define(grid, 4, 9);
    grid.setColumnWidth(1, 350);
    grid.setColumnWidth(3, 350);
    const QByteArray card = jpegBytes(400, 260, Qt::darkGreen);
    for (int row = 0; row < 9; row += 2) {
        grid.setRowHeight(row, 300);
        grid.setCell(row, 1, GridCell::fromPicture(card));
    }
    QTemporaryDir dir;
    const QString file = dir.filePath("sheet.pdf");
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(file);
    printer.setPageLayout(grid.defaultPageLayout());
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

    // On the page at 96 dpi the first card starts 4 mm in, 30 pixels of spacer further.
    const QImage page = pdf::page(file, 1, 96);
    const int left = qRound(4 / 25.4 * 96) + 30;
    const auto isCard = [&page](int x, int y) { return page.pixelColor(x, y).green() < 160; };
    QVERIFY(!isCard(left - 3, 100));
    QVERIFY(isCard(left + 3, 100));
    QVERIFY(isCard(left + 346, 100));
    QVERIFY(!isCard(left + 354, 100));
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
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(file);
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
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(dir.filePath("empty.pdf"));
    QCOMPARE(grid.paintPages(printer), 1);
    QCOMPARE(pdf::pageCount(dir.filePath("empty.pdf")), 1);
}

void AdvancedGridTest::unwritableFilePrintsNothing()
{
    AdvancedGrid grid;
    define(grid, 4, 1);
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName("/nonexistent-folder/sheet.pdf");
    QTest::ignoreMessage(QtWarningMsg, "QPainter::begin(): Returned false");
    QCOMPARE(grid.paintPages(printer), 0);
}

QTEST_MAIN(AdvancedGridTest)
#include "tst_advancedgrid.moc"
