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

// Page sizes in millimetres, one per page, as poppler reads the file.
QList<QSizeF> pageSizes(const QString& file)
{
    QList<QSizeF> sizes;
    const QString info = pdf::run("pdfinfo", {"-f", "1", "-l", "9999", file});
    const QRegularExpression size("^Page\\s+\\d+ size:\\s+([\\d.]+) x ([\\d.]+) pts",
                                  QRegularExpression::MultilineOption);
    for (auto it = size.globalMatch(info); it.hasNext();) {
        const auto match = it.next();
        constexpr double mmPerPoint = 25.4 / 72;
        sizes.append({match.captured(1).toDouble() * mmPerPoint, match.captured(2).toDouble() * mmPerPoint});
    }
    return sizes;
}

} // namespace

// Printing through a real print queue: the application, Qt's CUPS support, the scheduler
// and its filters, and a printer that writes PDF files.
class CupsPrintTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void sheetThroughTheQueue();

private:
    std::unique_ptr<CupsQueue> m_queue;
};

void CupsPrintTest::initTestCase()
{
    installFontSubstitutes();
    m_queue = std::make_unique<CupsQueue>();
    QVERIFY2(m_queue->isRunning(), qPrintable(m_queue->error()));
    // Read by the CUPS library when Qt first asks for printers, which is after this.
    qputenv("CUPS_SERVER", m_queue->server().toUtf8());
}

// The card sheet as the preview prints it, on A4, comes out of the queue with its pages
// whole and of the paper's size, within the point CUPS rounds to.
void CupsPrintTest::sheetThroughTheQueue()
{
    TestFolder folder;
    // Dark cards, which a page read back shows as such.
    QVERIFY(CardLayout::saveBackground(folder.path(), pngBytes(400, 260, Qt::darkBlue)));
    QList<TestFolder::Student> students;
    for (int i = 1; i <= 9; ++i)
        students.append(
            {QString("学生%1").arg(i), "七(1)班", QString("2014%1").arg(i, 4, 10, QChar('0')), {}});
    folder.addStudents(students);
    DatabaseConnection connection;
    QVERIFY(connection.openDatabaseFile(folder.databaseFile()));
    Recordset records;
    records.attach(connection);
    QVERIFY(records.open(StudentTable::selectAll));
    CardSheet sheet;
    sheet.fill(records, CardComposer(CardLayout::load(folder.path())), {});
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
    for (const QSizeF& size : pageSizes(files[0])) {
        QVERIFY2(std::abs(size.width() - a4.width()) <= 0.35 && std::abs(size.height() - a4.height()) <= 0.35,
                 qPrintable(QString("%1 × %2 mm").arg(size.width()).arg(size.height())));
    }
    // Every card came through: eight on the first page, the ninth on the second.
    QCOMPARE(pdf::cardsOn(pdf::page(files[0], 1, 50)).size(), 8);
    QCOMPARE(pdf::cardsOn(pdf::page(files[0], 2, 50)).size(), 1);
}

QTEST_MAIN(CupsPrintTest)
#include "tst_cupsprint.moc"
