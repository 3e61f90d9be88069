// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/DatabaseConnection.h"
#include "archive/Recordset.h"
#include "archive/StudentTable.h"
#include "cards/pages/CardComposer.h"
#include "cards/pages/CardSheet.h"
#include "cards/pages/SheetRenderer.h"
#include "formats/graphics/Fonts.h"
#include "tests/cards/PdfReader.h"
#include "tests/support/CupsQueue.h"
#include "tests/support/TestFolder.h"

#include <QPrinter>
#include <QPrinterInfo>
#include <QRegularExpression>
#include <QTest>

#include <memory>

namespace {

// The cards of these students on dark backgrounds, which a page read back shows as such.
bool fillSheet(CardSheet& sheet, const QList<TestFolder::Student>& students, CardSheet::CardSize size)
{
    TestFolder folder;
    if (!CardLayout::saveBackground(folder.path(), pngBytes(400, 260, Qt::darkBlue)))
        return false;
    folder.addStudents(students);
    DatabaseConnection connection;
    Recordset records;
    records.attach(connection);
    if (!connection.openDatabaseFile(folder.databaseFile()) || !records.open(StudentTable::selectAll))
        return false;
    return sheet.fill(records, CardComposer(CardLayout::load(folder.path())), size) == students.size();
}

} // namespace

// Printing through a real print queue: the application, Qt's CUPS support, the scheduler
// and its filters, and a printer that writes PDF files.
class CupsPrintTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void sheetThroughTheQueue();
    void cardPrinterThroughTheQueue_data();
    void cardPrinterThroughTheQueue();

private:
    std::unique_ptr<CupsQueue> m_queue;
};

void CupsPrintTest::initTestCase()
{
    installFontSubstitutes();
    // A card printer: its driver's default paper is a card of the ID-1 shape.
    m_queue = std::make_unique<CupsQueue>(QSizeF(85.60, 53.98));
    QVERIFY2(m_queue->isRunning(), qPrintable(m_queue->error()));
    // Read by the CUPS library when Qt first asks for printers, which is after this.
    qputenv("CUPS_SERVER", m_queue->server().toUtf8());
}

// The card sheet as the preview prints it, on A4, comes out of the queue with its pages
// whole and of the paper's size, within the point CUPS rounds to.
void CupsPrintTest::sheetThroughTheQueue()
{
    QList<TestFolder::Student> students;
    for (int i = 1; i <= 9; ++i)
        students.append(
            {QString("学生%1").arg(i), "七(1)班", QString("2014%1").arg(i, 4, 10, QChar('0')), {}});
    CardSheet sheet;
    QVERIFY(fillSheet(sheet, students, {}));
    const SheetRenderer renderer(sheet);

    QVERIFY2(QPrinterInfo::availablePrinterNames().contains(m_queue->name()),
             qPrintable(QPrinterInfo::availablePrinterNames().join(", ")));
    QPrinter printer(QPrinter::HighResolution);
    printer.setPrinterName(m_queue->name());
    QVERIFY(printer.isValid());
    QCOMPARE(printer.outputFormat(), QPrinter::NativeFormat);
    printer.setPageLayout(renderer.defaultPageLayout());
    const int pages = renderer.print(printer);
    QCOMPARE(pages, 2);

    const QStringList files = m_queue->waitForPdfs(1);
    QCOMPARE(files.size(), 1);
    QCOMPARE(pdf::pageCount(files[0]), pages);
    const QSizeF a4 = QPageSize(QPageSize::A4).size(QPageSize::Millimeter);
    for (const QSizeF& size : pdf::pageSizes(files[0])) {
        QVERIFY2(std::abs(size.width() - a4.width()) <= 0.35 && std::abs(size.height() - a4.height()) <= 0.35,
                 qPrintable(QString("%1 × %2 mm").arg(size.width()).arg(size.height())));
    }
    // Every card came through: eight on the first page, the ninth on the second.
    QCOMPARE(pdf::cardsOn(pdf::page(files[0], 1, 50)).size(), 8);
    QCOMPARE(pdf::cardsOn(pdf::page(files[0], 2, 50)).size(), 1);
}

void CupsPrintTest::cardPrinterThroughTheQueue_data()
{
    QTest::addColumn<bool>("suggested");
    QTest::addColumn<QSizeF>("paper"); // in millimetres
    QTest::newRow("the printer's card") << false << QSizeF(85.60, 53.98);
    QTest::newRow("the card and its bleed") << true << QSizeF(87.60, 55.98);
}

// Cards for a card printer come out of the queue a card a page, on the printer's own card or
// on the card and its bleed that the preview suggests, the background reaching every edge.
void CupsPrintTest::cardPrinterThroughTheQueue()
{
    QFETCH(bool, suggested);
    QFETCH(QSizeF, paper);
    CardSheet sheet;
    // 324 × 204 pixels of the sheet: 85.7 × 53.97 mm.
    QVERIFY(fillSheet(sheet,
                      {{"甲一", "七(1)班", "1", jpegBytes(30, 40)},
                       {"乙二", "七(1)班", "2", {}},
                       {"丙三", "七(1)班", "3", jpegBytes(30, 40)}},
                      {324, 204}));
    const SheetRenderer renderer(sheet, SheetRenderer::Paper::CardPrinter);

    QPrinter printer(QPrinter::HighResolution);
    printer.setPrinterName(m_queue->name());
    QVERIFY(printer.isValid());
    // The paper the preview suggests, or the card of the printer's driver, as chosen in the
    // print dialog.
    if (suggested)
        printer.setPageLayout(renderer.defaultPageLayout());
    else
        printer.setPageSize(QPrinterInfo(printer).defaultPageSize());
    const QStringList before = m_queue->waitForPdfs(0, 0);
    QCOMPARE(renderer.print(printer), 3);

    QStringList files = m_queue->waitForPdfs(int(before.size()) + 1);
    for (const QString& old : before)
        files.removeAll(old);
    QCOMPARE(files.size(), 1);
    const QString file = files[0];
    // The filters write the text again without its characters: the order is the command line's test.
    const QList<QSizeF> sizes = pdf::pageSizes(file);
    QCOMPARE(sizes.size(), 3);
    for (int page = 1; page <= 3; ++page) {
        const QSizeF size = sizes[page - 1];
        QVERIFY2(std::abs(size.width() - paper.width()) <= 0.35
                     && std::abs(size.height() - paper.height()) <= 0.35,
                 qPrintable(QString("page %1: %2 × %3 mm").arg(page).arg(size.width()).arg(size.height())));
        const QImage image = pdf::page(file, page, 150);
        const int r = image.width() - 2;
        const int b = image.height() - 2;
        for (const QPoint at :
             {QPoint(1, 1), QPoint(r, b), QPoint(image.width() / 2, 1), QPoint(1, image.height() / 2)})
            QVERIFY2(qGray(image.pixel(at)) < 100,
                     qPrintable(QString("page %1 (%2, %3)").arg(page).arg(at.x()).arg(at.y())));
    }
}

QTEST_MAIN(CupsPrintTest)
#include "tst_cupsprint.moc"
