// SPDX-License-Identifier: GPL-3.0-or-later
#include "formats/graphics/Fonts.h"
#include "tests/support/TestFolder.h"
#include "widgets/AdvancedGrid.h"

#include <QHeaderView>
#include <QTest>

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

QTEST_MAIN(AdvancedGridTest)
#include "tst_advancedgrid.moc"
