// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/PrintPreview.h"

#include <QComboBox>
#include <QLabel>
#include <QPainter>
#include <QPrinter>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A document of numbered pages that remembers which pages were drawn.
struct CountingDocument {
    int pages;
    QList<int> drawn;

    PageSource source()
    {
        return {[this](const QPageLayout&) { return pages; },
                [this](QPainter& painter, const QPageLayout&, int index, double dotsPerInch, PdfFinisher*) {
                    drawn << index;
                    painter.fillRect(QRectF(0, 0, dotsPerInch, dotsPerInch), Qt::black);
                }};
    }
};

QPushButton* button(QWidget& dialog, const QString& text)
{
    for (QPushButton* b : dialog.findChildren<QPushButton*>()) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

} // namespace

class PrintPreviewTest : public QObject {
    Q_OBJECT

private slots:
    void drawsOnlyThePageShown();
    void turnsPagesWithinTheDocument();
    void zoomChangesTheShownSize();
    void printButtonPrintsEveryPage();
    void cancelledPrintKeepsThePreview();
};

void PrintPreviewTest::drawsOnlyThePageShown()
{
    CountingDocument document{125, {}};
    QPrinter printer;
    PrintPreviewDialog dialog(printer, document.source(), [](QPrinter&) { return false; });
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.windowTitle(), QString("打印预览"));
    QCOMPARE(dialog.pageCount(), 125);
    QVERIFY(!dialog.findChildren<QLabel*>().isEmpty());
    bool countShown = false;
    for (QLabel* label : dialog.findChildren<QLabel*>())
        countShown |= label->text() == "共 125 页";
    QVERIFY(countShown);
    QTRY_VERIFY(!document.drawn.isEmpty());
    QVERIFY(!document.drawn.contains(1));
    QCOMPARE(QSet<int>(document.drawn.begin(), document.drawn.end()), QSet<int>({0}));
}

void PrintPreviewTest::turnsPagesWithinTheDocument()
{
    CountingDocument document{3, {}};
    QPrinter printer;
    PrintPreviewDialog dialog(printer, document.source(), [](QPrinter&) { return false; });
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    button(dialog, "下一页")->click();
    QCOMPARE(dialog.currentPage(), 1);
    QTest::keyClick(&dialog, Qt::Key_PageDown);
    QTest::keyClick(&dialog, Qt::Key_PageDown);
    QCOMPARE(dialog.currentPage(), 2); // the last page stays
    QTRY_VERIFY(document.drawn.contains(2));
    button(dialog, "上一页")->click();
    QCOMPARE(dialog.currentPage(), 1);
    dialog.findChild<QSpinBox*>()->setValue(1);
    QCOMPARE(dialog.currentPage(), 0);
}

void PrintPreviewTest::zoomChangesTheShownSize()
{
    CountingDocument document{1, {}};
    QPrinter printer;
    printer.setPageSize(QPageSize(QPageSize::A4));
    PrintPreviewDialog dialog(printer, document.source(), [](QPrinter&) { return false; });
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QComboBox* zoom = dialog.findChild<QComboBox*>();
    zoom->setCurrentText("100%");
    QWidget* view = dialog.findChild<QScrollArea*>()->widget();
    const int full = view->width();
    QVERIFY2(std::abs(full - (qRound(8.27 * 96) + 24)) <= 2, qPrintable(QString::number(full)));
    zoom->setCurrentText("50%");
    QVERIFY(std::abs(view->width() - (full - 24) / 2 - 24) <= 2);
}

void PrintPreviewTest::printButtonPrintsEveryPage()
{
    CountingDocument document{3, {}};
    QTemporaryDir dir;
    const QString file = dir.filePath("preview.pdf");
    QPrinter printer;
    PrintPreviewDialog dialog(printer, document.source(), [&file](QPrinter& p) {
        p.setOutputFormat(QPrinter::PdfFormat);
        p.setOutputFileName(file);
        return true;
    });
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    document.drawn.clear();
    button(dialog, "打印…")->click();
    QCOMPARE(document.drawn, QList<int>({0, 1, 2}));
    QVERIFY(QFile::exists(file));
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

void PrintPreviewTest::cancelledPrintKeepsThePreview()
{
    CountingDocument document{2, {}};
    QPrinter printer;
    int asked = 0;
    PrintPreviewDialog dialog(printer, document.source(), [&asked](QPrinter&) {
        ++asked;
        return false;
    });
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    button(dialog, "打印…")->click();
    QCOMPARE(asked, 1);
    QVERIFY(dialog.isVisible());
}

QTEST_MAIN(PrintPreviewTest)
#include "tst_printpreview.moc"
