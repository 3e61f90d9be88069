// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/DatabaseConnection.h"
#include "archive/ProgramFolder.h"
#include "archive/Recordset.h"
#include "archive/StudentTable.h"
#include "cards/pages/CardComposer.h"
#include "cards/pages/CardSheet.h"
#include "cards/pages/SheetRenderer.h"
#include "formats/IniFile.h"
#include "formats/graphics/Fonts.h"
#include "tests/cards/PdfReader.h"
#include "tests/support/TestFolder.h"

#include <QBuffer>
#include <QFileInfo>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <limits>
#include <optional>

namespace {

QByteArray pictureBytes(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QByteArray solid(QSize size, const QColor& colour, const char* format = "PNG")
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return pictureBytes(image, format);
}

// A photo of noise, different for every seed, so each is embedded on its own.
QByteArray noisyPhoto(quint32 seed)
{
    QImage image(120, 160, QImage::Format_RGB32);
    QRandomGenerator random(seed);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, 0xff000000u | (random.generate() & 0xffffff));
    }
    return pictureBytes(image, "JPEG");
}

// Up to the end of the frame header: a JPEG whose size is known and of which nothing decodes.
QByteArray headerOnly(const QByteArray& jpeg)
{
    const qsizetype frame = jpeg.indexOf("\xff\xc0");
    return jpeg.left(frame + 2 + (uchar(jpeg[frame + 2]) << 8 | uchar(jpeg[frame + 3])));
}

bool isBlue(QRgb p) { return qBlue(p) > 160 && qRed(p) < 100 && qGreen(p) < 100; }
bool isRed(QRgb p) { return qRed(p) > 128 && qBlue(p) < 128 && qGreen(p) < 100; }

// The first row, from the top, holding a pixel that passes `test`; -1 when there is none.
int firstRow(const QImage& image, bool (*test)(QRgb), int fromX = 0, int toX = -1)
{
    const int right = toX < 0 ? image.width() : std::min(toX, image.width());
    for (int y = 0; y < image.height(); ++y) {
        for (int x = std::max(fromX, 0); x < right; ++x) {
            if (test(image.pixel(x, y)))
                return y;
        }
    }
    return -1;
}

int firstColumn(const QImage& image, bool (*test)(QRgb))
{
    for (int x = 0; x < image.width(); ++x) {
        for (int y = 0; y < image.height(); ++y) {
            if (test(image.pixel(x, y)))
                return x;
        }
    }
    return -1;
}

int lastColumn(const QImage& image, bool (*test)(QRgb))
{
    for (int x = image.width() - 1; x >= 0; --x) {
        for (int y = 0; y < image.height(); ++y) {
            if (test(image.pixel(x, y)))
                return x;
        }
    }
    return -1;
}

QPageLayout a4(double margin, QPageLayout::Orientation orientation = QPageLayout::Portrait)
{
    return {QPageSize(QPageSize::A4), orientation, QMarginsF(margin, margin, margin, margin),
            QPageLayout::Millimeter};
}

// The sheet of every student of the folder printed on paper of that layout (the default one
// when none); answers the number of pages.
int sheetPdf(const QString& folder, const QString& file, std::optional<QPageLayout> page = {},
             CardSheet::CardSize size = {})
{
    DatabaseConnection connection;
    connection.openDatabaseFile(ProgramFolder::databaseFile(folder));
    Recordset records;
    records.attach(connection);
    records.open(StudentTable::selectAll);
    CardSheet sheet;
    sheet.fill(records, CardComposer(CardLayout::load(folder)), size);
    const SheetRenderer renderer(sheet);
    if (!page)
        return renderer.writePdf(file);
    QPdfWriter writer(file);
    writer.setResolution(1200);
    writer.setPageLayout(*page);
    return renderer.print(writer, file);
}

// A program folder with a layout of a plain blue background and red texts, so a card and its
// texts are found on a page by their colours.
class PrintFolder {
public:
    PrintFolder()
    {
        CardLayout::saveBackground(m_folder.path(), solid({400, 260}, Qt::blue));
        for (CardElement text : {CardElement::Name, CardElement::Class, CardElement::Number})
            CardLayout::saveTextStyle(m_folder.path(), text, {"", 12, false, false, Qt::red});
    }

    TestFolder& folder() { return m_folder; }
    QString path() const { return m_folder.path(); }

    void addStudents(int count, const QByteArray& photo = {})
    {
        QList<TestFolder::Student> list;
        for (int i = 1; i <= count; ++i)
            list.append({QStringLiteral("学生%1").arg(i), QStringLiteral("七(1)班"),
                         QStringLiteral("2014%1").arg(i), photo});
        m_folder.addStudents(list);
    }

    // The sheet of every student printed on paper of that layout (the default one when none);
    // answers the number of pages.
    int print(const QString& file, std::optional<QPageLayout> page = {}, CardSheet::CardSize size = {})
    {
        return sheetPdf(path(), file, page, size);
    }

private:
    TestFolder m_folder;
};

} // namespace

class CardPrintTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { installFontSubstitutes(); }
    void textsAreTextInAnEmbeddedCjkFace();
    void picturesAtTheirOwnPixels_data();
    void picturesAtTheirOwnPixels();
    void backgroundEmbeddedOnce();
    void ideographTopAtTheStoredPosition_data();
    void ideographTopAtTheStoredPosition();
    void wideDriverMarginsKeepBothColumns();
    void sheetTooWideIsScaledToFit();
    void noPageStartsWithASpacerRow();
    void extremeValuesDrawSafely_data();
    void extremeValuesDrawSafely();
    void elementsPastTheEdgeAreCut();
    void sheetCentredWithMarksInside_data();
    void sheetCentredWithMarksInside();
    void fontNamesCarrySubsetTags();
    void canvasPictureOfEarlierDesignersPrints();
    void codesReadBackFromThePage_data();
    void codesReadBackFromThePage();
    void settingsWithoutCodesPrintNone_data();
    void settingsWithoutCodesPrintNone();
    void everyCodeReadFromTheWholePage_data();
    void everyCodeReadFromTheWholePage();
    void foldersWithoutCodesPrintAsBefore();
    void damagedPhotosNeverReachTheFile();

private:
    QTemporaryDir m_dir;
};

void CardPrintTest::textsAreTextInAnEmbeddedCjkFace()
{
    PrintFolder folder;
    folder.folder().addStudents({{"张三丰", "七(1)班", "2014001", jpegBytes(60, 75)}});
    const QString file = m_dir.filePath("text.pdf");
    QCOMPARE(folder.print(file), 1);
    const QString text = pdf::text(file);
    for (const char* expected : {"张三丰", "七(1)班", "2014001"})
        QVERIFY2(text.contains(QString::fromUtf8(expected)), qPrintable(text));
    // The CJK face embedded as a subset of the glyphs used.
    bool cjk = false;
    QStringList names;
    for (const pdf::Font& font : pdf::fonts(file)) {
        names << font.name;
        cjk |= font.name.contains("CJK", Qt::CaseInsensitive) && font.embedded;
    }
    QVERIFY2(cjk, qPrintable(names.join(", ")));
    // A whole CJK face is over ten megabytes.
    QVERIFY(QFileInfo(file).size() < 1024 * 1024);
}

void CardPrintTest::picturesAtTheirOwnPixels_data()
{
    QTest::addColumn<QSize>("photo");
    QTest::newRow("small photo") << QSize(90, 120);
    QTest::newRow("camera crop") << QSize(480, 600);
}

void CardPrintTest::picturesAtTheirOwnPixels()
{
    QFETCH(QSize, photo);
    PrintFolder folder;
    const QByteArray background = solid({1024, 707}, Qt::blue, "JPEG");
    const QByteArray jpeg = solid(photo, Qt::green, "JPEG");
    CardLayout::saveBackground(folder.path(), background);
    folder.addStudents(1, jpeg);
    const QString file = m_dir.filePath("pictures.pdf");
    QCOMPARE(folder.print(file), 1);
    QList<QSize> sizes;
    for (const pdf::Image& image : pdf::images(file))
        sizes << QSize(image.width, image.height);
    QCOMPARE(sizes, QList<QSize>({QSize(1024, 707), photo}));
    // Byte for byte as stored: never compressed a second time.
    QCOMPARE(pdf::jpegs(file), QList<QByteArray>({background, jpeg}));
}

void CardPrintTest::backgroundEmbeddedOnce()
{
    PrintFolder folder;
    CardLayout::saveBackground(folder.path(), solid({1024, 707}, Qt::blue, "JPEG"));
    folder.addStudents(10, jpegBytes(90, 120, Qt::green));
    const QString file = m_dir.filePath("ten.pdf");
    QCOMPARE(folder.print(file), 2);
    QSet<int> backgrounds;
    int shown = 0;
    for (const pdf::Image& image : pdf::images(file)) {
        if (image.width == 1024) {
            backgrounds << image.object;
            ++shown;
        }
    }
    QCOMPARE(shown, 10);
    QCOMPARE(backgrounds.size(), 1);
}

void CardPrintTest::ideographTopAtTheStoredPosition_data()
{
    QTest::addColumn<int>("points");
    QTest::addColumn<int>("top");
    QTest::newRow("12 pt") << 12 << 105;
    QTest::newRow("24 pt") << 24 << 60;
}

void CardPrintTest::ideographTopAtTheStoredPosition()
{
    QFETCH(int, points);
    QFETCH(int, top);
    PrintFolder folder;
    CardLayout::savePosition(folder.path(), CardElement::Name, {150, top});
    CardLayout::saveTextStyle(folder.path(), CardElement::Name, {"", points, false, false, Qt::red});
    // Only the name, so the first red row is the top of its ideographs.
    folder.folder().addStudents({{"中国", "", "", {}}});

    const QImage card = CardComposer(CardLayout::load(folder.path())).compose({"中国", "", "", {}});
    QVERIFY2(std::abs(firstRow(card, isRed) - top) <= 1, qPrintable(QString::number(firstRow(card, isRed))));

    // On paper the card is 400 × 260 grid pixels, each 1/96 inch: 300 dpi makes 3.125 page
    // pixels of one.
    const QString file = m_dir.filePath("top.pdf");
    QCOMPARE(folder.print(file, a4(4, QPageLayout::Landscape), {400, 260}), 1);
    const QImage page = pdf::page(file, 1, 300);
    const double perPixel = 300.0 / 96;
    const int cardTop = firstRow(page, isBlue);
    QVERIFY(cardTop > 0);
    const double textTop = (firstRow(page, isRed) - cardTop) / perPixel;
    QVERIFY2(std::abs(textTop - top) <= 1, qPrintable(QString::number(textTop)));
}

void CardPrintTest::wideDriverMarginsKeepBothColumns()
{
    // A printer that cannot print the outer 6.35 mm leaves 197 mm across, less than the
    // 201 mm of two 350-pixel cards and their spacers.
    PrintFolder folder;
    folder.addStudents(4);
    const QString file = m_dir.filePath("margins.pdf");
    QCOMPARE(folder.print(file, a4(6.35)), 1);
    const QString text = pdf::text(file);
    for (int i = 1; i <= 4; ++i)
        QVERIFY2(text.contains(QString("学生%1").arg(i)), qPrintable(text));
    // Within the printable area with room for the cut marks, centred.
    const QImage page = pdf::page(file, 1, 96);
    const double margin = 6.35 / 25.4 * 96;
    QVERIFY(firstColumn(page, isBlue) >= margin + 9);
    QVERIFY(lastColumn(page, isBlue) <= page.width() - margin - 9);
    QVERIFY(std::abs(firstColumn(page, isBlue) - (page.width() - 1 - lastColumn(page, isBlue))) <= 2);
}

void CardPrintTest::sheetTooWideIsScaledToFit()
{
    PrintFolder folder;
    folder.addStudents(2);
    const QString file = m_dir.filePath("wide.pdf");
    QCOMPARE(folder.print(file, {}, {2000, 230}), 1);
    QVERIFY(pdf::text(file).contains("学生2"));
    const QImage page = pdf::page(file, 1, 96);
    const double margin = 4 / 25.4 * 96;
    const double across = page.width() - 2 * margin;
    // Both cards whole on the page, scaled evenly: each 354 × 230 card centred in its 2000-pixel
    // cell, 2384 grid pixels from the left card's left edge to the right card's right edge.
    const int left = firstColumn(page, isBlue);
    const int right = lastColumn(page, isBlue);
    QVERIFY(left > margin && right < page.width() - margin);
    QVERIFY2(std::abs((right - left) - across * 2384 / 4060) < 3, qPrintable(QString::number(right - left)));
}

void CardPrintTest::noPageStartsWithASpacerRow()
{
    PrintFolder folder;
    folder.addStudents(13);
    IniFile::write(folder.folder().settingsFile(), u"sys", u"证件高度", u"235");
    const QString file = m_dir.filePath("thirteen.pdf");
    QCOMPARE(folder.print(file, {}, CardSheet::loadCardSize(folder.path())), 2);
    QCOMPARE(pdf::text(file, 1).count("学生"), 8);
    QCOMPARE(pdf::text(file, 2).count("学生"), 5);
    // The second page starts with a card row at the top of its paint area, like the first.
    // A card of 400 × 260 in a 350 × 235 cell is 227.5 high, 3.75 pixels below the row's top.
    for (int number : {1, 2}) {
        const QImage page = pdf::page(file, number, 96);
        const double expected = 4 / 25.4 * 96 + SheetRenderer::cutMarkReach + 3.75;
        QVERIFY2(std::abs(firstRow(page, isBlue) - expected) <= 1.5,
                 qPrintable(QString::number(firstRow(page, isBlue))));
    }
}

void CardPrintTest::extremeValuesDrawSafely_data()
{
    constexpr int most = std::numeric_limits<int>::max();
    constexpr int least = std::numeric_limits<int>::min();
    QTest::addColumn<QPoint>("position");
    QTest::addColumn<int>("points");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("far right and down") << QPoint(most, most) << 12 << 350 << 230;
    QTest::newRow("far left and up") << QPoint(-most, least) << 12 << 350 << 230;
    QTest::newRow("huge text") << QPoint(10, 10) << most << 350 << 230;
    QTest::newRow("huge cards") << QPoint(10, 10) << 12 << most << most;
    QTest::newRow("negative cards") << QPoint(10, 10) << 12 << least << least;
}

void CardPrintTest::extremeValuesDrawSafely()
{
    QFETCH(QPoint, position);
    QFETCH(int, points);
    QFETCH(int, width);
    QFETCH(int, height);
    PrintFolder folder;
    for (CardElement element :
         {CardElement::Photo, CardElement::Name, CardElement::Class, CardElement::Number})
        CardLayout::savePosition(folder.path(), element, position);
    CardLayout::saveTextStyle(folder.path(), CardElement::Name, {"", points, false, false, Qt::red});
    folder.addStudents(3, jpegBytes(60, 75));

    const CardLayout layout = CardLayout::load(folder.path());
    const QImage card = CardComposer(layout).compose({"学生", "七(1)班", "1", jpegBytes(60, 75)});
    QCOMPARE(card.size(), QSize(400, 260));
    const QString file = m_dir.filePath("extreme.pdf");
    QVERIFY(folder.print(file, {}, {width, height}) >= 1);
    // What is stored stays as entered.
    QCOMPARE(CardLayout::load(folder.path()), layout);
    QCOMPARE(layout.photo, position);
}

// A long name at the right of the card and a photo over its bottom edge: on paper and in the
// file they end at the card's edge, as the screen shows them, and never reach the next card.
void CardPrintTest::elementsPastTheEdgeAreCut()
{
    PrintFolder folder;
    CardLayout::savePosition(folder.path(), CardElement::Name, {264, 105});
    CardLayout::saveTextStyle(folder.path(), CardElement::Name, {"", 16, false, false, Qt::red});
    CardLayout::savePosition(folder.path(), CardElement::Photo, {16, 200});
    folder.folder().addStudents({{"阿卜杜热合曼·买买提江", "", "", pngBytes(128, 160, Qt::green)},
                                 {"阿卜杜热合曼·买买提江", "", "", pngBytes(128, 160, Qt::green)},
                                 {"阿卜杜热合曼·买买提江", "", "", pngBytes(128, 160, Qt::green)}});
    const QString file = m_dir.filePath("edge.pdf");
    QCOMPARE(folder.print(file, a4(4, QPageLayout::Landscape), {400, 260}), 1);
    const auto isGreen = [](QRgb p) { return qGreen(p) > 160 && qRed(p) < 100 && qBlue(p) < 100; };

    // Cards of 400 × 260 in cells of the same size, 30 pixels apart across and 40 down.
    const auto check = [&](const QImage& page, double perPixel, const char* surface) {
        QVERIFY2(!page.isNull(), surface);
        QVERIFY2(firstRow(page, isRed) >= 0, surface);
        // The right edge of the left card: nothing red from its name in the gap beyond it.
        const int right = lastColumn(page.copy(0, 0, page.width() / 2, page.height()), isBlue);
        int spilt = 0;
        for (int y = 0; y < page.height(); ++y) {
            for (int x = right + 2; x < right + int(30 * perPixel) - 2; ++x)
                spilt += isRed(page.pixel(x, y)) || isGreen(page.pixel(x, y)) ? 1 : 0;
        }
        QVERIFY2(spilt == 0, qPrintable(QString("%1: %2 pixels past the edge").arg(surface).arg(spilt)));
        // Below the first row of cards, in the spacer row: no photo.
        const int bottom = firstRow(page, isBlue) + int(260 * perPixel);
        int below = 0;
        for (int y = bottom + 2; y < bottom + int(40 * perPixel) - 2; ++y) {
            for (int x = 0; x < page.width(); ++x)
                below += isGreen(page.pixel(x, y)) ? 1 : 0;
        }
        QVERIFY2(below == 0,
                 qPrintable(QString("%1: %2 photo pixels below the card").arg(surface).arg(below)));
    };
    check(pdf::page(file, 1, 150), 150.0 / 96, "PDF");

    // Paper and the print preview get the pages the same way: drawn by the renderer's pages.
    DatabaseConnection connection;
    connection.openDatabaseFile(folder.folder().databaseFile());
    Recordset records;
    records.attach(connection);
    records.open(StudentTable::selectAll);
    CardSheet sheet;
    sheet.fill(records, CardComposer(CardLayout::load(folder.path())), {400, 260});
    const QPageLayout page = a4(4, QPageLayout::Landscape);
    QImage paper(page.fullRectPixels(150).size(), QImage::Format_RGB32);
    paper.fill(Qt::white);
    QPainter painter(&paper);
    painter.translate(page.paintRectPixels(150).topLeft());
    SheetRenderer(sheet).pages().paint(painter, page, 0, 150, nullptr);
    painter.end();
    check(paper, 150.0 / 96, "paper");
}

void CardPrintTest::sheetCentredWithMarksInside_data()
{
    QTest::addColumn<QPageSize::PageSizeId>("paper");
    QTest::addColumn<int>("cardWidth");
    QTest::newRow("A4") << QPageSize::A4 << 350;
    QTest::newRow("Letter") << QPageSize::Letter << 350;
    QTest::newRow("A4, narrow cards") << QPageSize::A4 << 300;
}

// Equal white at the left and the right of the cards, and every cut mark within the area the
// printer can print.
void CardPrintTest::sheetCentredWithMarksInside()
{
    QFETCH(QPageSize::PageSizeId, paper);
    QFETCH(int, cardWidth);
    PrintFolder folder;
    folder.addStudents(4);
    const QString file = m_dir.filePath("centred.pdf");
    const double margin = 4;
    const QPageLayout layout(QPageSize(paper), QPageLayout::Portrait,
                             QMarginsF(margin, margin, margin, margin), QPageLayout::Millimeter);
    QCOMPARE(folder.print(file, layout, {cardWidth, 230}), 1);
    const int dpi = 300;
    const QImage page = pdf::page(file, 1, dpi);
    const double perMm = dpi / 25.4;
    const double left = firstColumn(page, isBlue) / perMm;
    const double right = (page.width() - 1 - lastColumn(page, isBlue)) / perMm;
    QVERIFY2(std::abs(left - right) <= 0.5,
             qPrintable(QString("left %1 mm, right %2 mm").arg(left).arg(right)));
    const auto isInk = [](QRgb p) { return qGray(p) < 128; };
    int leftMark = -1;
    int rightMark = -1;
    for (int x = 0; x < page.width() && leftMark < 0; ++x) {
        for (int y = 0; y < page.height() && leftMark < 0; ++y)
            leftMark = isInk(page.pixel(x, y)) ? x : -1;
    }
    for (int x = page.width() - 1; x >= 0 && rightMark < 0; --x) {
        for (int y = 0; y < page.height() && rightMark < 0; ++y)
            rightMark = isInk(page.pixel(x, y)) ? x : -1;
    }
    QVERIFY(leftMark >= 0 && rightMark >= 0);
    QVERIFY2(leftMark / perMm >= margin, qPrintable(QString::number(leftMark / perMm)));
    QVERIFY2((page.width() - 1 - rightMark) / perMm >= margin,
             qPrintable(QString::number((page.width() - 1 - rightMark) / perMm)));
}

// Preflight tools expect an embedded subset to be named as one: six capitals and a plus sign.
void CardPrintTest::fontNamesCarrySubsetTags()
{
    PrintFolder folder;
    CardLayout::saveTextStyle(folder.path(), CardElement::Class, {"黑体", 12, true, false, Qt::red});
    folder.addStudents(3);
    const QString file = m_dir.filePath("tags.pdf");
    QCOMPARE(folder.print(file), 1);
    const QList<pdf::Font> fonts = pdf::fonts(file);
    QVERIFY(!fonts.isEmpty());
    for (const pdf::Font& font : fonts) {
        QVERIFY2(font.embedded && font.subset, qPrintable(font.name));
        QVERIFY2(QRegularExpression("^[A-Z]{6}\\+").match(font.name).hasMatch(), qPrintable(font.name));
    }
    // The file is still one a reader takes: its text reads back.
    QVERIFY(pdf::text(file).contains("学生3"));
}

// Designers before the print-size background stored the 416 × 264 canvas picture as it was.
void CardPrintTest::canvasPictureOfEarlierDesignersPrints()
{
    PrintFolder folder;
    CardLayout::saveBackground(folder.path(), solid({416, 264}, Qt::blue));
    folder.addStudents(2);
    const QString file = m_dir.filePath("old.pdf");
    QCOMPARE(folder.print(file), 1);
    QList<QSize> sizes;
    for (const pdf::Image& image : pdf::images(file))
        sizes << QSize(image.width, image.height);
    QCOMPARE(sizes, QList<QSize>({QSize(416, 264), QSize(416, 264)}));
    const QImage page = pdf::page(file, 1, 96);
    QVERIFY(firstColumn(page, isBlue) > 0 && firstRow(page, isRed) > firstRow(page, isBlue));
}

void CardPrintTest::codesReadBackFromThePage_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QRect>("box");
    QTest::addColumn<QString>("symbology");
    QTest::newRow("Code 128") << "Code128" << QRect(240, 205, 150, 40) << "CODE-128";
    QTest::newRow("QR") << "QR" << QRect(320, 16, 70, 70) << "QR-Code";
    QTest::newRow("QR, small") << "QR" << QRect(340, 200, 48, 48) << "QR-Code";
}

// Every card with a number carries its number as the code, read back by a scanner's decoder
// from the page as a 300 dpi printer prints it; a student without a number gets no code.
void CardPrintTest::codesReadBackFromThePage()
{
    QFETCH(QString, type);
    QFETCH(QRect, box);
    QFETCH(QString, symbology);
    PrintFolder folder;
    QVERIFY(CardLayout::saveBarcode(folder.path(), {CardBarcode::typeNamed(type), box}));
    QList<TestFolder::Student> students;
    QList<QStringList> expected;
    for (int i = 1; i <= 9; ++i) {
        const QString number = i == 5 ? QString() : QString("2014%1").arg(i, 4, 10, QChar('0'));
        students.append({QString("学生%1").arg(i), "七(1)班", number, {}});
        if (i <= 8)
            expected.append(number.isEmpty() ? QStringList() : QStringList{symbology + ":" + number});
    }
    folder.folder().addStudents(students);
    const QString file = m_dir.filePath("codes.pdf");
    QCOMPARE(folder.print(file), 2);
    QCOMPARE(pdf::barcodes(file, 1), expected);
    QCOMPARE(pdf::barcodes(file, 2), QList<QStringList>({{symbology + ":20140009"}}));
    // Drawn as shapes: no picture beyond the backgrounds.
    QCOMPARE(pdf::images(file).size(), 9);
}

void CardPrintTest::settingsWithoutCodesPrintNone_data()
{
    QTest::addColumn<QString>("type"); // empty: no section at all
    QTest::newRow("no section") << "";
    QTest::newRow("无") << "无";
    QTest::newRow("unknown type") << "code128";
}

void CardPrintTest::settingsWithoutCodesPrintNone()
{
    QFETCH(QString, type);
    PrintFolder folder;
    if (!type.isEmpty()) {
        IniFile::write(folder.folder().settingsFile(), u"条码设置", u"类型", type);
        IniFile::write(folder.folder().settingsFile(), u"条码设置", u"左边", u"240");
    }
    folder.addStudents(4);
    QCOMPARE(CardLayout::load(folder.path()).barcode.type, BarcodeType::None);
    const QString file = m_dir.filePath("nocodes.pdf");
    QCOMPARE(folder.print(file), 1);
    QCOMPARE(pdf::barcodes(file, 1), QList<QStringList>(4));
    QCOMPARE(pdf::text(file).count("学生"), 4);
}

void CardPrintTest::everyCodeReadFromTheWholePage_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("symbology");
    QTest::newRow("QR") << "QR"
                        << "QR-Code";
    QTest::newRow("Code 128") << "Code128"
                              << "CODE-128";
}

// A full page of cards, each code with the quiet zone its standard asks, read by one pass of
// the decoder over the whole page as printers of three resolutions print it.
void CardPrintTest::everyCodeReadFromTheWholePage()
{
    QFETCH(QString, type);
    QFETCH(QString, symbology);
    // The built-in card with a real portrait on every card, the code where the designer puts
    // a code of this type chosen on a new card.
    TestFolder folder;
    QVERIFY(CardLayout::saveBarcode(folder.path(), CardBarcode().ofType(CardBarcode::typeNamed(type))));
    QFile portrait(QStringLiteral(QINGHE_FACE_PICTURES "/astronaut.png"));
    QVERIFY(portrait.open(QIODevice::ReadOnly));
    const QByteArray photo = portrait.readAll();
    QList<TestFolder::Student> students;
    QStringList expected;
    for (int i = 1; i <= 6; ++i) {
        const QString number = QString("2014%1").arg(i * 37, 4, 10, QChar('0'));
        students.append({QString("学生%1").arg(i), "七(1)班", number, photo});
        expected.append(symbology + ":" + number);
    }
    expected.sort();
    folder.addStudents(students);
    const QString file = m_dir.filePath("page-" + type + ".pdf");
    QCOMPARE(sheetPdf(folder.path(), file), 1);
    for (const int dpi : {200, 300, 600})
        QVERIFY2(pdf::pageBarcodes(file, 1, dpi) == expected,
                 qPrintable(QString("%1 dpi: %2").arg(dpi).arg(pdf::pageBarcodes(file, 1, dpi).join(", "))));
}

namespace {

// One card on a page of its own, as every surface draws it; the date the file was written
// taken out, which is all that differs between two runs.
QByteArray cardPdf(const QString& folder, const CardFields& fields)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(1200);
        writer.setPageLayout(QPageLayout(QPageSize(QSizeF(85.6, 53.98), QPageSize::Millimeter),
                                         QPageLayout::Landscape, {}, QPageLayout::Millimeter));
        QPainter painter(&writer);
        CardComposer(CardLayout::load(folder))
            .card(fields)
            ->paint(painter, QRectF(0, 0, writer.width(), writer.height()));
    }
    return QString::fromLatin1(bytes)
        .replace(QRegularExpression("/CreationDate \\(D:[^)]*\\)"), "/CreationDate ()")
        .toLatin1();
}

} // namespace

// A folder laid out before cards carried codes (no 条码设置 section) prints exactly what it
// printed then, recorded in the reference file.
void CardPrintTest::foldersWithoutCodesPrintAsBefore()
{
    PrintFolder folder;
    IniFile::write(folder.folder().settingsFile(), u"编号设置", {{"左边", "230"}, {"顶边", "200"}});
    const QByteArray printed = cardPdf(folder.path(), {"王小禾", "七(1)班", "20140001", noisyPhoto(7)});
    QFile reference(QINGHE_TEST_DATA "/card-without-code.pdf");
    if (qEnvironmentVariableIsSet("QINGHE_WRITE_REFERENCE")) {
        QVERIFY(reference.open(QIODevice::WriteOnly));
        reference.write(printed);
        QSKIP("reference written");
    }
    QVERIFY(reference.open(QIODevice::ReadOnly));
    QVERIFY(printed == reference.readAll());
}

QTEST_MAIN(CardPrintTest)
#include "tst_cardprint.moc"

void CardPrintTest::damagedPhotosNeverReachTheFile()
{
    // Two hundred cards whose photos come in turn whole, cut off part way (what decodes is
    // drawn, grey below) and cut off after their header (nothing decodes: the background shows).
    PrintFolder folder;
    QList<TestFolder::Student> students;
    QList<QByteArray> whole;
    QList<QByteArray> damaged;
    for (int i = 0; i < 200; ++i) {
        QByteArray photo = noisyPhoto(quint32(i));
        if (i % 3 == 0)
            whole << photo;
        else
            damaged << (photo = i % 3 == 1 ? photo.left(photo.size() * 3 / 5) : headerOnly(photo));
        students.append(
            {QStringLiteral("学生%1").arg(i), QStringLiteral("七(1)班"), QString::number(i), photo});
    }
    folder.folder().addStudents(students);
    const QString file = m_dir.filePath("damaged.pdf");
    QVERIFY(folder.print(file) > 0);

    // A print shop's reader meets nothing to complain of.
    QProcess poppler;
    poppler.start("pdftoppm", {"-r", "20", "-png", file, m_dir.filePath("damaged")});
    QVERIFY(poppler.waitForFinished(120000));
    QCOMPARE(poppler.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(poppler.readAllStandardError()), QString());
    const QList<QByteArray> embedded = pdf::jpegs(file);
    QCOMPARE(embedded.size(), whole.size());
    for (const QByteArray& photo : whole)
        QVERIFY(embedded.contains(photo));
    for (const QByteArray& photo : damaged)
        QVERIFY(!embedded.contains(photo));
    // Qt's decoder passes on what libjpeg says of damaged data: nothing, of what was embedded.
    static QStringList complaints;
    complaints.clear();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& message) { complaints << message; });
    for (const QByteArray& jpeg : embedded)
        QVERIFY(!QImage::fromData(jpeg, "JPEG").isNull());
    qInstallMessageHandler(previous);
    QCOMPARE(complaints, QStringList());

    // On paper: a photo where one decodes, the background where none does.
    const QImage page = pdf::page(file, 1, 100);
    const QList<QRect> cards = pdf::cardsOn(page);
    QVERIFY(cards.size() >= 3);
    const auto photoCentre = [&](const QRect& card) {
        const QPointF centre =
            CardLayout().photo + QPointF(CardLayout::photoSize.width(), CardLayout::photoSize.height()) / 2;
        return page.pixel(card.left() + int(centre.x() * card.width() / 400),
                          card.top() + int(centre.y() * card.height() / 260));
    };
    QVERIFY(!isBlue(photoCentre(cards[0])));
    QVERIFY(!isBlue(photoCentre(cards[1])));
    QVERIFY2(isBlue(photoCentre(cards[2])), qPrintable(QString::number(photoCentre(cards[2]), 16)));
}
