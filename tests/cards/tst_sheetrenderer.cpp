// SPDX-License-Identifier: GPL-3.0-or-later
// The sheet on paper, with no window: this program links no widget library and runs under a
// QGuiApplication, as `qinghe cards` does.
#include "cards/pages/CardSheet.h"
#include "cards/pages/CardsPdf.h"
#include "cards/pages/SheetRenderer.h"
#include "formats/graphics/Fonts.h"
#include "tests/cards/PdfReader.h"
#include "tests/support/TestFolder.h"

#include <QFile>
#include <QGuiApplication>
#include <QPageRanges>
#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryDir>
#include <QTest>

#include <numeric>

using Bands = std::vector<std::pair<int, int>>;
Q_DECLARE_METATYPE(std::vector<int>)
Q_DECLARE_METATYPE(Bands)

namespace {

// A sheet with two card columns of the given width and `rows` spacer-high rows.
CardSheet cardColumns(int rows, int width = 350)
{
    CardSheet sheet;
    sheet.setRows(rows);
    for (int column : {1, 3}) {
        sheet.setColumnWidth(column, width);
        sheet.setPictureColumn(column, true);
    }
    return sheet;
}

// A PDF writer at a printer's resolution, on the paper a file starts on.
void pageOf(QPdfWriter& writer, const SheetRenderer& renderer)
{
    writer.setResolution(1200);
    writer.setPageLayout(renderer.defaultPageLayout());
}

} // namespace

class SheetRendererTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { installFontSubstitutes(); }
    void needsNoWidget();
    void layOut_data();
    void layOut();
    void paperTurnsForWideSheets();
    void printsRowsWholeAtScreenSize();
    void cutMarksBesideEveryCorner();
    void drawingsPrintAtThePrintersResolution();
    void printsTextCells();
    void emptySheetPrintsOneEmptyPage();
    void unwritableFilePrintsNothing();
    void writesTheCardsOfOneClass();
};

void SheetRendererTest::needsNoWidget()
{
    QVERIFY(qobject_cast<QGuiApplication*>(QCoreApplication::instance()));
    QVERIFY(!QCoreApplication::instance()->inherits("QApplication"));
    // Not even loaded: nothing the page library links pulls Qt Widgets in.
    QFile maps("/proc/self/maps");
    QVERIFY(maps.open(QIODevice::ReadOnly));
    const QByteArray mapped = maps.readAll();
    QVERIFY(mapped.contains("libQt6Gui"));
    QVERIFY2(!mapped.contains("libQt6Widgets"), "the card pages load Qt Widgets");
    QVERIFY(!mapped.contains("libQt6PrintSupport"));
}

void SheetRendererTest::layOut_data()
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

void SheetRendererTest::layOut()
{
    QFETCH(std::vector<int>, widths);
    QFETCH(std::vector<int>, heights);
    QFETCH(std::vector<int>, emptyRows);
    QFETCH(QSizeF, area);
    QFETCH(double, scale);
    QFETCH(Bands, pages);
    CardSheet sheet(int(widths.size()));
    sheet.setRows(int(heights.size()));
    for (int column = 0; column < int(widths.size()); ++column)
        sheet.setColumnWidth(column, widths[size_t(column)]);
    for (int column : {1, 3})
        sheet.setPictureColumn(column, true);
    for (int row = 0; row < int(heights.size()); ++row) {
        sheet.setRowHeight(row, heights[size_t(row)]);
        if (std::find(emptyRows.begin(), emptyRows.end(), row) == emptyRows.end())
            sheet.setCell(row, 1, GridCell::fromText("x"));
    }
    const SheetRenderer::PageLayout layout = SheetRenderer(sheet).layOut(area);
    QVERIFY2(std::abs(layout.scale - scale) < 1e-9, qPrintable(QString::number(layout.scale)));
    QCOMPARE(layout.rows, pages);
    // Centred across: as much room on the left of the card columns as on their right; the
    // empty spacer column before them is not printed.
    const double across = area.width() * 96 / layout.scale;
    const double width = std::accumulate(widths.begin() + 1, widths.end(), 0.0);
    QVERIFY(std::abs(layout.left + widths[0] - (across - width) / 2) < 1e-9);
}

void SheetRendererTest::paperTurnsForWideSheets()
{
    CardSheet sheet = cardColumns(1);
    const SheetRenderer renderer(sheet);
    // 730 pixels with the cut marks beside them fit across A4.
    QCOMPARE(renderer.defaultPageLayout().orientation(), QPageLayout::Portrait);
    QCOMPARE(renderer.defaultPageLayout().pageSize().id(), QPageSize::A4);
    sheet.setColumnWidth(3, 400);
    QCOMPARE(renderer.defaultPageLayout().orientation(), QPageLayout::Landscape);
    sheet.setColumnWidth(3, 2000); // fits neither way: scaled down upright
    QCOMPARE(renderer.defaultPageLayout().orientation(), QPageLayout::Portrait);
}

void SheetRendererTest::printsRowsWholeAtScreenSize()
{
    // Five card rows of 300 pixels: 300 + 40 + 300 + 40 + 300 fit on A4, the rest goes over.
    CardSheet sheet = cardColumns(9);
    const QByteArray card = jpegBytes(400, 260, Qt::darkGreen);
    for (int row = 0; row < 9; row += 2) {
        sheet.setRowHeight(row, 300);
        sheet.setCell(row, 1, GridCell::fromPicture(card));
    }
    const SheetRenderer renderer(sheet);
    QTemporaryDir dir;
    const QString file = dir.filePath("sheet.pdf");
    {
        QPdfWriter writer(file);
        pageOf(writer, renderer);
        QCOMPARE(renderer.print(writer), 2);
    }
    QCOMPARE(pdf::imagesPerPage(file), QList<int>({3, 2}));
    // Only the second page, when the print dialog asks for it.
    const QString second = dir.filePath("second.pdf");
    {
        QPdfWriter writer(second);
        pageOf(writer, renderer);
        writer.setPageRanges(QPageRanges::fromString("2"));
        QCOMPARE(renderer.print(writer), 1);
    }
    QCOMPARE(pdf::imagesPerPage(second), QList<int>({2}));
    // One grid pixel is 1/96 inch: 400 picture pixels over 350 grid pixels make 110 ppi.
    for (const pdf::Image& image : pdf::images(file))
        QCOMPARE(image.xPpi, 110);

    // On the page at 96 dpi the card columns are centred between the 4 mm margins.
    const QImage page = pdf::page(file, 1, 96);
    const double margin = 4 / 25.4 * 96;
    const int left = qRound(margin + (page.width() - 2 * margin - 730) / 2);
    const int top = qRound(margin) + SheetRenderer::cutMarkReach;
    const auto isCard = [&page](int x, int y) { return page.pixelColor(x, y).green() < 160; };
    QVERIFY(!isCard(left - 3, 100));
    QVERIFY(isCard(left + 3, 100));
    QVERIFY(isCard(left + 346, 100));
    QVERIFY(!isCard(left + 354, 100));
    // 400 × 260 in a 350 × 300 cell: 228 high, centred, so 36 pixels below the row's top.
    QVERIFY(!isCard(100 + left, top + 33));
    QVERIFY(isCard(100 + left, top + 39));
}

void SheetRendererTest::cutMarksBesideEveryCorner()
{
    CardSheet sheet = cardColumns(3);
    const QByteArray card = jpegBytes(350, 230, Qt::white); // white: only the marks are dark
    for (int row : {0, 2}) {
        sheet.setRowHeight(row, 230);
        for (int column : {1, 3})
            sheet.setCell(row, column, GridCell::fromPicture(card));
    }
    QTemporaryDir dir;
    const QString file = dir.filePath("marks.pdf");
    QCOMPARE(SheetRenderer(sheet).writePdf(file), 1);

    // At 192 dpi a grid pixel is two page pixels.
    const QImage page = pdf::page(file, 1, 192);
    const double margin = 4 / 25.4 * 192;
    const double left = margin + (page.width() - 2 * margin - 2 * 730) / 2 - 2 * 30;
    const double top = margin + 2 * SheetRenderer::cutMarkReach;
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

void SheetRendererTest::drawingsPrintAtThePrintersResolution()
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
    CardSheet sheet;
    sheet.setRows(1);
    sheet.setColumnWidth(1, 400);
    sheet.setRowHeight(0, 260);
    sheet.setCell(0, 1, GridCell::fromPicture(jpegBytes(40, 26, Qt::red), drawing));

    QTemporaryDir dir;
    QCOMPARE(SheetRenderer(sheet).writePdf(dir.filePath("drawn.pdf")), 1);
    // Drawn once, at 1200 dpi, not copied from the 40 × 26 screen picture.
    QCOMPARE(drawing->scales, QList<double>({1200.0 / 96}));
    QVERIFY(pdf::images(dir.filePath("drawn.pdf")).isEmpty());
}

void SheetRendererTest::printsTextCells()
{
    CardSheet sheet(3);
    sheet.setRows(2);
    sheet.setCell(0, 0, GridCell::fromText("所属单位"));
    sheet.setCell(1, 2, GridCell::fromText("secret"));
    QTemporaryDir dir;
    const QString file = dir.filePath("table.pdf");
    QCOMPARE(SheetRenderer(sheet).writePdf(file), 1);
    const QString text = pdf::text(file);
    QVERIFY2(text.contains("所属单位") && text.contains("secret"), qPrintable(text));
}

void SheetRendererTest::emptySheetPrintsOneEmptyPage()
{
    const CardSheet sheet;
    QTemporaryDir dir;
    QCOMPARE(SheetRenderer(sheet).writePdf(dir.filePath("empty.pdf")), 1);
    QCOMPARE(pdf::pageCount(dir.filePath("empty.pdf")), 1);
}

void SheetRendererTest::unwritableFilePrintsNothing()
{
    const CardSheet sheet = cardColumns(1);
    QString error;
    QCOMPARE(SheetRenderer(sheet).writePdf("/nonexistent-folder/sheet.pdf", &error), 0);
    QVERIFY(!error.isEmpty());
    QVERIFY(!QFile::exists("/nonexistent-folder/sheet.pdf"));
}

void SheetRendererTest::writesTheCardsOfOneClass()
{
    TestFolder folder;
    folder.addStudents({{"张三", "七(1)班", "201401", jpegBytes(120, 160)},
                        {"李四", "七(2)班", "201402", {}},
                        {"王五", "七(1)班", "201403", QByteArray("not a picture")}});
    QTemporaryDir dir;
    const QString file = dir.filePath("cards.pdf");
    CardsPdf::Written written;
    QString error;
    QVERIFY2(CardsPdf::write(folder.path(), QString("七(1)班"), file, SheetRenderer::Paper::Sheets, &written,
                             &error),
             qPrintable(error));
    QCOMPARE(written.cards, 2);
    QCOMPARE(written.pages, 1);
    QCOMPARE(written.warnings.size(), 1);
    QVERIFY2(written.warnings.front().startsWith("王五（七(1)班）的照片无法显示："),
             qPrintable(written.warnings.front()));
    const QString text = pdf::text(file);
    QVERIFY2(text.contains("张三") && text.contains("王五") && !text.contains("李四"), qPrintable(text));

    // A class without students writes nothing and says so; the file of before stays.
    QVERIFY(!CardsPdf::write(folder.path(), QString("八(3)班"), file, SheetRenderer::Paper::Sheets, &written,
                             &error));
    QCOMPARE(error, QString("班级“八(3)班”没有学生"));
    QVERIFY(pdf::text(file).contains("张三"));
}

QTEST_MAIN(SheetRendererTest)
#include "tst_sheetrenderer.moc"
