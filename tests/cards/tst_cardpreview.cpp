// SPDX-License-Identifier: GPL-3.0-or-later
#include "cards/CardPreviewWindow.h"
#include "cards/SheetGrid.h"
#include "cards/pages/CardComposer.h"
#include "cards/pages/CardSheet.h"
#include "formats/IniFile.h"
#include "formats/graphics/Fonts.h"
#include "tests/cards/PdfReader.h"
#include "tests/support/Controls.h"
#include "tests/support/TestFolder.h"
#include "tests/support/TestServices.h"
#include "widgets/AdvancedGrid.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using Cells = QList<QPoint>; // x = column, y = row
Q_DECLARE_METATYPE(Cells)

namespace {

QList<TestFolder::Student> students(int count, const QString& className = QStringLiteral("七(1)班"))
{
    QList<TestFolder::Student> list;
    for (int i = 1; i <= count; ++i)
        list.append({QStringLiteral("学生%1").arg(i), className, QStringLiteral("20140%1").arg(i),
                     jpegBytes(60, 75, i % 2 ? Qt::red : Qt::blue)});
    return list;
}

// The cells holding a card, row by row.
Cells cardCells(const AdvancedGrid& grid)
{
    Cells cells;
    for (int row = 0; row < grid.rowCount(); ++row) {
        for (int column = 0; column < grid.columnCount(); ++column) {
            const GridCell cell = grid.getCell(row, column);
            if (cell.kind == GridCell::Kind::Picture && !cell.picture.isEmpty())
                cells.append({column, row});
        }
    }
    return cells;
}

// The card of a student exactly as the sheet holds it.
QByteArray expectedCard(const QString& folder, const TestFolder::Student& s)
{
    return CardSheet::encode(
        CardComposer(CardLayout::load(folder)).compose({s.name, s.className, s.number, s.photo}));
}

} // namespace

class CardPreviewTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { installFontSubstitutes(); }
    void init();
    void cleanup();

    void windowAsDefined();
    void opensOnTheFirstClass();
    void sheetForCounts_data();
    void sheetForCounts();
    void cardsInRecordOrder();
    void searchMatchesNumberOrName();
    void classWithoutStudentsShowsEmptySheet();
    void newSelectionLeavesNoStaleCard();
    void savedCardSize_data();
    void savedCardSize();
    void storedSizeAboveTheBoundIsUsed();
    void storedSizeAtTheIntegerLimitIsKeptButShownBounded();
    void newSelectionStartsAtTheTop();
    void copyCloseReopenPaste();
    void copyingWithoutACardKeepsTheCopiedCard();
    void printsTheSheetToPdf();
    void cancelledPrintWritesNothing();
    void printPreviewShowsTheSameSheet();
    void cardPrinterPrintsACardAPage_data();
    void cardPrinterPrintsACardAPage();
    void undecodablePhotoNamesTheStudent();
    void gridGivesBackTheSheetItShows();

private:
    std::unique_ptr<CardPreviewWindow> openWindow();
    AdvancedGrid* grid() const { return control<AdvancedGrid>(*m_window, "高级表格1"); }
    void click(const char* button) const { control<QPushButton>(*m_window, button)->click(); }
    QString title() const { return control<QLabel>(*m_window, "标签1")->text(); }

    std::unique_ptr<TestFolder> m_folder;
    std::unique_ptr<TestServices> m_services;
    std::unique_ptr<CardPreviewWindow> m_window;
};

void CardPreviewTest::init()
{
    m_folder = std::make_unique<TestFolder>();
    m_services = std::make_unique<TestServices>();
    m_services->context.appFolder = m_folder->path();
}

void CardPreviewTest::cleanup()
{
    m_window.reset();
    m_services.reset();
    m_folder.reset();
}

std::unique_ptr<CardPreviewWindow> CardPreviewTest::openWindow()
{
    return std::make_unique<CardPreviewWindow>(m_services->context);
}

void CardPreviewTest::windowAsDefined()
{
    m_window = openWindow();
    QCOMPARE(m_window->windowTitle(), QString("证件预览"));
    QCOMPARE(m_window->size(), QSize(969, 702));
    QCOMPARE(control<QWidget>(*m_window, "标签1")->geometry(), QRect(251, 96, 416, 32));
    QCOMPARE(control<QWidget>(*m_window, "按钮8")->geometry(), QRect(880, 8, 56, 24));
    QCOMPARE(grid()->geometry(), QRect(48, 64, 808, 480));
    QCOMPARE(grid()->parentWidget()->objectName(), QString("外形框2"));
    QCOMPARE(grid()->columnCount(), 4);
    QCOMPARE(control<QLabel>(*m_window, "标签5")->text(), QString("≤400"));
    QVERIFY(control<QLabel>(*m_window, "标签1")->font().bold());
}

void CardPreviewTest::opensOnTheFirstClass()
{
    m_folder->addStudents(students(1, "七(2)班") + students(2, "七(1)班"));
    m_services->context.classList = {"七(1)班", "七(2)班"};
    m_window = openWindow();
    QComboBox* classes = control<QComboBox>(*m_window, "组合框1");
    QCOMPARE(comboItems(classes), QStringList({"七(1)班", "七(2)班"}));
    QCOMPARE(classes->currentIndex(), 0);
    QCOMPARE(title(), QString("七(1)班的证件"));
    QCOMPARE(cardCells(*grid()), Cells({{1, 0}, {3, 0}}));
    QCOMPARE(control<QLineEdit>(*m_window, "编辑框2")->text(), QString("350"));
    QCOMPARE(control<QLineEdit>(*m_window, "编辑框3")->text(), QString("230"));

    classes->setCurrentIndex(1);
    click("按钮7");
    QCOMPARE(title(), QString("七(2)班的证件"));
    QCOMPARE(cardCells(*grid()), Cells({{1, 0}}));
    click("按钮1");
    QCOMPARE(title(), QString("全部证件"));
    QCOMPARE(cardCells(*grid()).size(), 3);
}

void CardPreviewTest::sheetForCounts_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("rows");
    QTest::addColumn<Cells>("cards");
    QTest::newRow("0") << 0 << 0 << Cells{};
    QTest::newRow("1") << 1 << 1 << Cells{{1, 0}};
    QTest::newRow("3") << 3 << 3 << Cells{{1, 0}, {3, 0}, {1, 2}};
    QTest::newRow("4") << 4 << 3 << Cells{{1, 0}, {3, 0}, {1, 2}, {3, 2}};
    QTest::newRow("5") << 5 << 5 << Cells{{1, 0}, {3, 0}, {1, 2}, {3, 2}, {1, 4}};
}

void CardPreviewTest::sheetForCounts()
{
    QFETCH(int, count);
    QFETCH(int, rows);
    QFETCH(Cells, cards);
    m_folder->addStudents(students(count));
    m_window = openWindow();
    click("按钮1");
    AdvancedGrid& sheet = *grid();
    QCOMPARE(sheet.rowCount(), rows);
    QCOMPARE(cardCells(sheet), cards);
    // Every other cell, spacer or card cell, is empty.
    for (int row = 0; row < rows; ++row) {
        QCOMPARE(sheet.rowHeight(row), row % 2 ? 40 : 230);
        for (int column = 0; column < 4; ++column) {
            if (!cards.contains(QPoint(column, row)))
                QCOMPARE(sheet.getCell(row, column).picture, QByteArray());
        }
    }
    QCOMPARE(sheet.columnWidth(0), 30);
    QCOMPARE(sheet.columnWidth(1), 350);
    QCOMPARE(sheet.columnWidth(2), 30);
    QCOMPARE(sheet.columnWidth(3), 350);
}

void CardPreviewTest::cardsInRecordOrder()
{
    const auto list = students(3);
    m_folder->addStudents(list);
    m_window = openWindow();
    click("按钮1");
    QCOMPARE(grid()->getCell(0, 1).picture, expectedCard(m_folder->path(), list[0]));
    QCOMPARE(grid()->getCell(0, 3).picture, expectedCard(m_folder->path(), list[1]));
    QCOMPARE(grid()->getCell(2, 1).picture, expectedCard(m_folder->path(), list[2]));
}

void CardPreviewTest::searchMatchesNumberOrName()
{
    const QList<TestFolder::Student> list{{"王五", "七(1)班", "007", {}},
                                          {"赵六", "七(1)班", "008", {}},
                                          {"007", "七(2)班", "009", jpegBytes(30, 40)}};
    m_folder->addStudents(list);
    m_window = openWindow();
    control<QLineEdit>(*m_window, "编辑框1")->setText("007");
    click("按钮4");
    QCOMPARE(title(), QString("个人证件"));
    QCOMPARE(cardCells(*grid()), Cells({{1, 0}, {3, 0}}));
    QCOMPARE(grid()->getCell(0, 1).picture, expectedCard(m_folder->path(), list[0]));
    QCOMPARE(grid()->getCell(0, 3).picture, expectedCard(m_folder->path(), list[2]));

    // A quote is looked up, not an error.
    control<QLineEdit>(*m_window, "编辑框1")->setText("O'Neil");
    click("按钮4");
    QCOMPARE(grid()->rowCount(), 0);
}

void CardPreviewTest::classWithoutStudentsShowsEmptySheet()
{
    m_folder->addStudents(students(2, "七(1)班"));
    m_services->context.classList = {"七(2)班", "七(1)班"};
    m_window = openWindow();
    QCOMPARE(title(), QString("七(2)班的证件"));
    QCOMPARE(grid()->rowCount(), 0);
}

void CardPreviewTest::newSelectionLeavesNoStaleCard()
{
    m_folder->addStudents(students(5, "七(1)班") + students(3, "七(2)班"));
    m_services->context.classList = {"七(1)班", "七(2)班"};
    m_window = openWindow();
    grid()->setCurrentCell(0, 1);
    click("按钮5");
    grid()->setCurrentCell(1, 2);
    click("按钮6");
    QCOMPARE(cardCells(*grid()).size(), 6);

    control<QComboBox>(*m_window, "组合框1")->setCurrentIndex(1);
    click("按钮7");
    QCOMPARE(grid()->rowCount(), 3);
    QCOMPARE(cardCells(*grid()), Cells({{1, 0}, {3, 0}, {1, 2}}));
    QCOMPARE(grid()->rowHeight(1), 40);
}

void CardPreviewTest::savedCardSize_data()
{
    QTest::addColumn<QString>("width");
    QTest::addColumn<QString>("height");
    QTest::addColumn<int>("cardWidth");
    QTest::addColumn<int>("cardHeight");
    QTest::newRow("above the bounds") << "450"
                                      << "320" << 400 << 300;
    QTest::newRow("at the bounds") << "400"
                                   << "300" << 400 << 300;
    QTest::newRow("fractions cut") << "320.9"
                                   << "200.5" << 320 << 200;
    QTest::newRow("not numbers") << "宽"
                                 << "" << 0 << 0;
    QTest::newRow("negative") << "-5"
                              << "-1" << -5 << -1;
}

void CardPreviewTest::savedCardSize()
{
    QFETCH(QString, width);
    QFETCH(QString, height);
    QFETCH(int, cardWidth);
    QFETCH(int, cardHeight);
    m_folder->addStudents(students(3, "七(1)班") + students(1, "七(2)班"));
    m_services->context.classList = {"七(1)班", "七(2)班"};
    m_window = openWindow();
    control<QComboBox>(*m_window, "组合框1")->setCurrentIndex(1);
    click("按钮7");

    control<QLineEdit>(*m_window, "编辑框2")->setText(width);
    control<QLineEdit>(*m_window, "编辑框3")->setText(height);
    click("按钮8");
    click("按钮8");
    QCOMPARE(control<QLineEdit>(*m_window, "编辑框2")->text(), QString::number(cardWidth));
    QCOMPARE(control<QLineEdit>(*m_window, "编辑框3")->text(), QString::number(cardHeight));
    QCOMPARE(IniFile::read(m_folder->settingsFile(), u"sys", u"证件宽度"), QString::number(cardWidth));
    QCOMPARE(IniFile::read(m_folder->settingsFile(), u"sys", u"证件高度"), QString::number(cardHeight));
    // Rebuilt for the first class at the new size, its selector not doubled.
    QCOMPARE(title(), QString("七(1)班的证件"));
    QCOMPARE(comboItems(control<QComboBox>(*m_window, "组合框1")), QStringList({"七(1)班", "七(2)班"}));
    QCOMPARE(cardCells(*grid()).size(), 3);
    QCOMPARE(grid()->columnWidth(1), std::max(cardWidth, 0));
    QCOMPARE(grid()->columnWidth(3), std::max(cardWidth, 0));
    QCOMPARE(grid()->rowHeight(2), std::max(cardHeight, 0));
    QCOMPARE(grid()->rowHeight(1), 40);
}

void CardPreviewTest::storedSizeAboveTheBoundIsUsed()
{
    IniFile::write(m_folder->settingsFile(), u"sys", u"证件宽度", u"500");
    m_folder->addStudents(students(1, ""));
    m_window = openWindow(); // no classes: the students without a class
    QCOMPARE(control<QLineEdit>(*m_window, "编辑框2")->text(), QString("500"));
    QCOMPARE(title(), QString("的证件"));
    QCOMPARE(grid()->columnWidth(1), 500);
    QCOMPARE(cardCells(*grid()), Cells({{1, 0}}));
}

void CardPreviewTest::storedSizeAtTheIntegerLimitIsKeptButShownBounded()
{
    IniFile::write(m_folder->settingsFile(), u"sys", u"证件宽度", u"2147483647");
    IniFile::write(m_folder->settingsFile(), u"sys", u"证件高度", u"99999999999");
    m_folder->addStudents(students(3));
    m_window = openWindow();
    click("按钮1");
    QCOMPARE(control<QLineEdit>(*m_window, "编辑框2")->text(), QString("2147483647"));
    QCOMPARE(grid()->columnWidth(1), CardSheet::largestShownSize);
    QCOMPARE(grid()->rowHeight(0), CardSheet::largestShownSize);
    QTemporaryDir dir;
    m_services->dialogs.printToFile = dir.filePath("huge.pdf");
    m_services->dialogs.printerAnswers.enqueue(true);
    click("按钮3");
    // Scaled to fit across: the three cards on one page.
    QCOMPARE(pdf::pageCount(dir.filePath("huge.pdf")), 1);
    QCOMPARE(pdf::text(dir.filePath("huge.pdf")).count("学生"), 3);
    QCOMPARE(IniFile::read(m_folder->settingsFile(), u"sys", u"证件宽度"), QString("2147483647"));
}

void CardPreviewTest::newSelectionStartsAtTheTop()
{
    m_folder->addStudents(students(20));
    m_window = openWindow();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    click("按钮1");
    QScrollBar* scroll = grid()->verticalScrollBar();
    QTRY_VERIFY(scroll->maximum() > 0); // the grid lays its rows out a moment later
    scroll->setValue(scroll->maximum());
    QVERIFY(scroll->value() > 0);
    click("按钮1");
    QCOMPARE(scroll->value(), 0);
}

void CardPreviewTest::copyCloseReopenPaste()
{
    m_folder->addStudents(students(3));
    m_window = openWindow();
    click("按钮1");
    const GridCell third = grid()->getCell(2, 1);
    grid()->setCurrentCell(2, 1);
    click("按钮5");
    QCOMPARE(m_services->context.copiedCard, third);
    m_window.reset();

    m_window = openWindow();
    click("按钮1");
    grid()->setCurrentCell(1, 2); // a spacer cell
    click("按钮6");
    QCOMPARE(grid()->getCell(1, 2), third);
    grid()->setCurrentCell(0, 3); // over another card
    click("按钮6");
    QCOMPARE(grid()->getCell(0, 3), third);
}

void CardPreviewTest::copyingWithoutACardKeepsTheCopiedCard()
{
    m_folder->addStudents(students(1));
    m_window = openWindow();
    click("按钮1");
    const GridCell card = grid()->getCell(0, 1);
    // Nothing copied yet: pasting puts an empty picture, which shows nothing.
    grid()->setCurrentCell(0, 3);
    click("按钮6");
    QCOMPARE(grid()->getCell(0, 3), GridCell::fromPicture(QByteArray()));

    grid()->setCurrentCell(0, 1);
    click("按钮5");
    grid()->setCurrentCell(0, 3); // the empty right-hand cell
    click("按钮5");
    grid()->setCurrentCell(0, 0); // a spacer
    click("按钮5");
    QCOMPARE(m_services->context.copiedCard, card);
}

void CardPreviewTest::printsTheSheetToPdf()
{
    m_folder->addStudents(students(5));
    m_window = openWindow();
    click("按钮1");
    grid()->setCurrentCell(0, 1);
    click("按钮5");
    grid()->setCurrentCell(0, 2); // between the two card columns
    click("按钮6");

    QTemporaryDir dir;
    m_services->dialogs.printToFile = dir.filePath("cards.pdf");
    m_services->dialogs.printerAnswers.enqueue(true);
    click("按钮3");
    QCOMPARE(m_services->dialogs.last().kind, QString("printer"));
    // Three card rows (2, 2 and 1 cards) and the pasted card on one A4 page.
    QCOMPARE(pdf::pageCount(dir.filePath("cards.pdf")), 1);
    QCOMPARE(pdf::text(dir.filePath("cards.pdf")).count("学生"), 6);
    // The pasted card is drawn again from its fields: its name is text, like the original's.
    QCOMPARE(pdf::text(dir.filePath("cards.pdf")).count("学生1"), 2);

    // Nine cards make a fifth card row, which goes whole onto a second page.
    m_folder->addStudents(students(4));
    click("按钮1");
    m_services->dialogs.printToFile = dir.filePath("nine.pdf");
    m_services->dialogs.printerAnswers.enqueue(true);
    click("按钮3");
    QCOMPARE(pdf::text(dir.filePath("nine.pdf"), 1).count("学生"), 8);
    QCOMPARE(pdf::text(dir.filePath("nine.pdf"), 2).count("学生"), 1);
}

void CardPreviewTest::cancelledPrintWritesNothing()
{
    m_folder->addStudents(students(2));
    m_window = openWindow();
    QTemporaryDir dir;
    m_services->dialogs.printToFile = dir.filePath("cards.pdf");
    m_services->dialogs.printerAnswers.enqueue(false);
    click("按钮3");
    QVERIFY(!QFile::exists(dir.filePath("cards.pdf")));
    QVERIFY(m_services->dialogs.messages().isEmpty());
}

void CardPreviewTest::printPreviewShowsTheSameSheet()
{
    m_folder->addStudents(students(3));
    m_window = openWindow();
    click("按钮1");
    QTemporaryDir dir;
    m_services->dialogs.printToFile = dir.filePath("preview.pdf");
    click("按钮2");
    QCOMPARE(m_services->dialogs.previewCount, 1);
    QCOMPARE(pdf::text(dir.filePath("preview.pdf")).count("学生"), 3);
}

void CardPreviewTest::cardPrinterPrintsACardAPage_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("打印") << "按钮3";
    QTest::newRow("打印预览") << "按钮2";
}

// With the box ticked, printing and its preview give a card a page, the pasted card among
// them in its place, each page the card of the sheet and its bleed.
void CardPreviewTest::cardPrinterPrintsACardAPage()
{
    QFETCH(QString, button);
    IniFile::write(m_folder->settingsFile(), u"sys", {{"证件宽度", "324"}, {"证件高度", "204"}});
    m_folder->addStudents(students(2));
    m_window = openWindow();
    click("按钮1");
    grid()->setCurrentCell(0, 3);
    click("按钮5");
    grid()->setCurrentCell(0, 2);
    click("按钮6");
    control<QCheckBox>(*m_window, "选择框1")->setChecked(true);

    QTemporaryDir dir;
    const QString file = dir.filePath("cards.pdf");
    m_services->dialogs.printToFile = file;
    m_services->dialogs.printerAnswers.enqueue(true);
    click(qPrintable(button));
    QCOMPARE(pdf::pageCount(file), 3);
    const QStringList names{"学生1", "学生2", "学生2"};
    for (int page = 1; page <= 3; ++page)
        QVERIFY2(pdf::text(file, page).contains(names[page - 1]), qPrintable(pdf::text(file, page)));
    for (const QSizeF& size : pdf::pageSizes(file))
        QVERIFY2(std::abs(size.width() - 87.60) <= 0.35 && std::abs(size.height() - 55.98) <= 0.35,
                 qPrintable(QString("%1 × %2 mm").arg(size.width()).arg(size.height())));
}

void CardPreviewTest::undecodablePhotoNamesTheStudent()
{
    m_folder->addStudents({{"甲", "七(1)班", "1", QByteArray("\xFF\xD8\xFF\xE0 not the rest of a photo")},
                           {"乙", "七(1)班", "2", jpegBytes(30, 40)},
                           {"丙", "七(1)班", "3", QByteArray("GIF89a broken")}});
    m_services->context.classList = {"七(1)班"};
    m_window = openWindow();
    QVERIFY2(title().startsWith("七(1)班的证件"), qPrintable(title()));
    QVERIFY2(title().contains("2 名学生的照片无法显示，如甲（七(1)班）的照片无法显示："),
             qPrintable(title()));
    const QString all = control<QLabel>(*m_window, "标签1")->toolTip();
    QVERIFY(all.contains("丙（七(1)班）的照片无法显示"));
    QVERIFY(!all.contains("乙"));
    // Every card is on the sheet all the same.
    QCOMPARE(cardCells(*grid()).size(), 3);

    control<QLineEdit>(*m_window, "编辑框1")->setText("乙");
    click("按钮4");
    QCOMPARE(title(), QString("个人证件"));
}

void CardPreviewTest::gridGivesBackTheSheetItShows()
{
    // Paper is drawn from what the grid holds: every size, kind and card must come back,
    // the card's drawing with it, so paper redraws the card instead of its screen picture.
    CardSheet sheet;
    sheet.setRows(3);
    sheet.setColumnWidth(1, 333);
    sheet.setPictureColumn(1, true);
    sheet.setCentred(1, true);
    sheet.setRowHeight(0, 222);
    const CardComposer composer{CardLayout()};
    const CardFields fields{"张三", "七(1)班", "201401", {}};
    const GridCell card =
        GridCell::fromPicture(CardSheet::encode(composer.compose(fields)), composer.card(fields));
    sheet.setCell(0, 1, card);
    sheet.setCell(1, 2, card); // pasted into a spacer cell
    sheet.setCell(2, 0, GridCell::fromText("备注"));

    AdvancedGrid shown;
    SheetGrid::define(shown);
    shown.setCell(5, 3, GridCell::fromText("earlier")); // an earlier sheet leaves nothing behind
    SheetGrid::show(sheet, shown);
    const CardSheet back = SheetGrid::read(shown);
    QCOMPARE(back.rows(), 3);
    QCOMPARE(back.columnCount(), CardSheet::columns);
    for (int column = 0; column < CardSheet::columns; ++column) {
        QCOMPARE(back.columnWidth(column), sheet.columnWidth(column));
        QCOMPARE(back.isPictureColumn(column), sheet.isPictureColumn(column));
        QCOMPARE(back.isCentred(column), sheet.isCentred(column));
    }
    for (int row = 0; row < 3; ++row) {
        QCOMPARE(back.rowHeight(row), sheet.rowHeight(row));
        for (int column = 0; column < CardSheet::columns; ++column)
            QCOMPARE(back.cell(row, column), sheet.cell(row, column));
    }
    QVERIFY(back.cell(1, 2).drawing);
}

QTEST_MAIN(CardPreviewTest)
#include "tst_cardpreview.moc"
