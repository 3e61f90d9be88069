// SPDX-License-Identifier: GPL-3.0-or-later
#include "cards/pages/CardComposer.h"
#include "formats/graphics/Fonts.h"
#include "tests/support/TestFolder.h"

#include <QBuffer>
#include <QPainter>
#include <QTest>

namespace {

// A background whose left half is blue and right half yellow, saved as PNG so its colours
// come back exactly.
QByteArray halvesBackground()
{
    QImage image(100, 50, QImage::Format_RGB32);
    image.fill(Qt::yellow);
    QPainter(&image).fillRect(0, 0, 50, 50, Qt::blue);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

bool near(QRgb pixel, const QColor& colour, int tolerance)
{
    return std::abs(qRed(pixel) - colour.red()) <= tolerance
           && std::abs(qGreen(pixel) - colour.green()) <= tolerance
           && std::abs(qBlue(pixel) - colour.blue()) <= tolerance;
}

// How many pixels of the area have the colour (within a small tolerance, for the edges of
// strokes and JPEG photos).
int count(const QImage& image, const QRect& area, const QColor& colour, int tolerance = 12)
{
    int n = 0;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x)
            n += near(image.pixel(x, y), colour, tolerance) ? 1 : 0;
    }
    return n;
}

CardLayout testLayout()
{
    CardLayout layout;
    layout.background = halvesBackground();
    layout.photo = {20, 30};
    layout.name = {{220, 20}, {"黑体", 20, true, false, Qt::red}};
    layout.className = {{220, 100}, {"", 20, false, true, QColor(0, 160, 0)}};
    layout.number = {{220, 180}, {"宋体", 20, true, false, Qt::magenta}};
    return layout;
}

const CardFields student{QStringLiteral("张三丰"), QStringLiteral("七(1)班"), QStringLiteral("2014001"),
                         jpegBytes(90, 120, Qt::black)};

} // namespace

class CardComposerTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { installFontSubstitutes(); }
    void backgroundStretchedOverTheFace();
    void photoScaledIntoItsFrame();
    void textsInTheirColoursAtTheirPositions();
    void laterDrawingsCoverEarlierOnes();
    void noPhotoShowsTheBackground_data();
    void noPhotoShowsTheBackground();
    void defaultLayoutKeepsTextsApart();
    void unusableBackgroundShowsTheBuiltIn_data();
    void unusableBackgroundShowsTheBuiltIn();
    void cardValueDrawsTheComposedFace();
};

void CardComposerTest::backgroundStretchedOverTheFace()
{
    const QImage card = CardComposer(testLayout()).compose({});
    QCOMPARE(card.size(), QSize(400, 260));
    QCOMPARE(card.pixel(1, 1), QColor(Qt::blue).rgb());
    QCOMPARE(card.pixel(190, 258), QColor(Qt::blue).rgb());
    QCOMPARE(card.pixel(210, 1), QColor(Qt::yellow).rgb());
    QCOMPARE(card.pixel(398, 258), QColor(Qt::yellow).rgb());
}

void CardComposerTest::photoScaledIntoItsFrame()
{
    const QImage card = CardComposer(testLayout()).compose(student);
    const QRect frame(QPoint(20, 30), CardLayout::photoSize);
    QCOMPARE(count(card, frame, Qt::black), frame.width() * frame.height());
    // Just outside the frame, on each side, the background.
    QCOMPARE(card.pixel(19, 100), QColor(Qt::blue).rgb());
    QCOMPARE(card.pixel(148, 100), QColor(Qt::blue).rgb());
    QCOMPARE(card.pixel(80, 29), QColor(Qt::blue).rgb());
    QCOMPARE(card.pixel(80, 190), QColor(Qt::blue).rgb());
}

void CardComposerTest::textsInTheirColoursAtTheirPositions()
{
    const QImage card = CardComposer(testLayout()).compose(student);
    const struct {
        QPoint position;
        QColor colour;
    } texts[] = {{{220, 20}, Qt::red}, {{220, 100}, QColor(0, 160, 0)}, {{220, 180}, Qt::magenta}};
    for (const auto& text : texts) {
        const QRect box(text.position, QSize(100, 30));
        QVERIFY2(count(card, box, text.colour) > 50, qPrintable(text.colour.name()));
        // No box behind the text: the background shows between the strokes.
        QVERIFY(count(card, box, Qt::yellow, 0) > 500);
        // The text starts at its position, not before or above it.
        QCOMPARE(count(card, QRect(text.position - QPoint(20, 0), QSize(19, 30)), text.colour), 0);
        QCOMPARE(count(card, QRect(text.position - QPoint(0, 12), QSize(100, 11)), text.colour), 0);
    }
    // Nothing is written where no text belongs.
    QCOMPARE(
        count(card, QRect(220, 60, 170, 30), Qt::red) + count(card, QRect(220, 60, 170, 30), Qt::magenta), 0);
}

void CardComposerTest::laterDrawingsCoverEarlierOnes()
{
    CardLayout layout = testLayout();
    layout.name.position = {30, 60};   // over the photo
    layout.number.position = {30, 60}; // over the name
    layout.number.style.colour = Qt::white;
    const QImage card = CardComposer(layout).compose(student);
    const QRect frame(QPoint(20, 30), CardLayout::photoSize);
    QVERIFY(count(card, frame, Qt::red) > 50);
    QVERIFY(count(card, frame, Qt::white) > 50);

    CardFields sameTexts = student;
    sameTexts.number = sameTexts.name;
    layout.number.style = layout.name.style;
    layout.number.style.colour = Qt::white;
    // The number covers the name stroke for stroke.
    QCOMPARE(count(CardComposer(layout).compose(sameTexts), frame, Qt::red, 0), 0);
}

void CardComposerTest::noPhotoShowsTheBackground_data()
{
    QTest::addColumn<QByteArray>("photo");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("not a picture") << QByteArray("\xff\xd8 truncated");
    QTest::newRow("text") << QByteArray("照片").repeated(100);
}

void CardComposerTest::noPhotoShowsTheBackground()
{
    QFETCH(QByteArray, photo);
    CardFields fields = student;
    fields.photo = photo;
    const QImage card = CardComposer(testLayout()).compose(fields);
    const QRect frame(QPoint(20, 30), CardLayout::photoSize);
    QCOMPARE(count(card, frame, Qt::blue, 0), frame.width() * frame.height());
}

void CardComposerTest::defaultLayoutKeepsTextsApart()
{
    // No settings and no background file: the built-in picture and the default positions.
    TestFolder folder;
    const QImage card = CardComposer(CardLayout::load(folder.path())).compose(student);
    const auto dark = [&card](const QRect& area) { return count(card, area, Qt::black, 40); };
    for (const QPoint& at : {QPoint(264, 105), QPoint(268, 148), QPoint(248, 187)}) {
        QVERIFY(dark(QRect(at, QSize(60, 22))) > 20);
        QCOMPARE(dark(QRect(at + QPoint(0, 24), QSize(60, 14))), 0); // the gap to the next text
    }
}

void CardComposerTest::unusableBackgroundShowsTheBuiltIn_data()
{
    QTest::addColumn<QByteArray>("background");
    QTest::newRow("not a picture") << QByteArray("背景").repeated(50);
    // A PNG header promising 40000 × 40000 pixels: refused before anything is decoded.
    QByteArray bomb = QByteArray::fromHex("89504e470d0a1a0a0000000d49484452")
                      + QByteArray::fromHex("00009c4000009c40") + QByteArray::fromHex("0802000000");
    QTest::newRow("too large") << bomb;
}

void CardComposerTest::unusableBackgroundShowsTheBuiltIn()
{
    QFETCH(QByteArray, background);
    CardLayout layout = testLayout();
    layout.background = background;
    CardLayout builtIn = testLayout();
    builtIn.background.clear();
    QCOMPARE(CardComposer(layout).compose(student), CardComposer(builtIn).compose(student));
}

void CardComposerTest::cardValueDrawsTheComposedFace()
{
    // The value the grid keeps draws, at the face's own size, what was composed.
    const CardComposer composer(testLayout());
    const auto card = composer.card(student);
    QCOMPARE(card->size(), QSize(400, 260));
    QCOMPARE(card->fields(), student);
    QImage drawn(400, 260, QImage::Format_RGB32);
    drawn.fill(Qt::white);
    QPainter painter(&drawn);
    card->paint(painter, QRectF(0, 0, 400, 260));
    painter.end();
    QCOMPARE(drawn, composer.compose(student));
    // Twice the size: twice the pixels, not the face enlarged.
    QImage large(800, 520, QImage::Format_RGB32);
    large.fill(Qt::white);
    {
        QPainter twice(&large);
        card->paint(twice, QRectF(0, 0, 800, 520));
    }
    QCOMPARE(count(large, QRect(40, 60, 256, 320), Qt::black), 256 * 320); // the photo frame
    QCOMPARE(large.pixel(2, 2), QColor(Qt::blue).rgb());
}

QTEST_MAIN(CardComposerTest)
#include "tst_cardcomposer.moc"
