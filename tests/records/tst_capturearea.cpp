// SPDX-License-Identifier: GPL-3.0-or-later
#include "records/CaptureArea.h"

#include "formats/graphics/Picture.h"

#include <QPainter>
#include <QTest>

namespace {

QRgb placeColour(int x, int y) { return qRgb(x % 256, y, x / 256 * 200); }

// Every pixel names its own place, so a pixel of a canvas tells where in the picture it came from.
QImage placeMap()
{
    QImage image(CaptureArea::canvasSize, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, placeColour(x, y));
    return image;
}

const QRgb blank = qRgb(255, 255, 255);
const QRgb outline = qRgb(0, 0, 0);

struct MouseStep {
    enum Kind { Press, Release, Move } kind;
    Qt::MouseButton button;
    QPoint at;
};
MouseStep press(Qt::MouseButton b, int x, int y) { return {MouseStep::Press, b, {x, y}}; }
MouseStep release(Qt::MouseButton b, int x, int y) { return {MouseStep::Release, b, {x, y}}; }
MouseStep move(int x, int y) { return {MouseStep::Move, Qt::NoButton, {x, y}}; }

void play(CaptureArea& area, const QList<MouseStep>& steps)
{
    for (const MouseStep& step : steps) {
        if (step.kind == MouseStep::Press)
            area.mousePressed(step.button, step.at);
        else if (step.kind == MouseStep::Release)
            area.mouseReleased(step.button, step.at);
        else
            area.mouseMoved(step.at);
    }
}

// The longest run of dark pixels along a row or a column through the middle of the canvas.
int darkRun(const QImage& image, bool alongRow)
{
    const int length = alongRow ? image.width() : image.height();
    int best = 0, run = 0;
    for (int i = 0; i < length; ++i) {
        const QPoint p = alongRow ? QPoint(i, image.height() / 2) : QPoint(image.width() / 2, i);
        run = qGray(image.pixel(p)) < 128 ? run + 1 : 0;
        best = qMax(best, run);
    }
    return best;
}

} // namespace

Q_DECLARE_METATYPE(QList<MouseStep>)

class CaptureAreaTest : public QObject {
    Q_OBJECT

private slots:
    void startsWithTheFrameOnThePicture();
    void mouseBindings_data();
    void mouseBindings();
    void cropIsTheFramedAreaWithoutOutline();
    void panMovesPictureUnderFrame();
    void frameBeyondTheCanvasCropsBlank();
    void newPictureKeepsFrameAndOffset();
    void pictureKeepsItsProportions_data();
    void pictureKeepsItsProportions();
    void circleStaysRound();
    void photoTakesTheCamerasPixels_data();
    void photoTakesTheCamerasPixels();
    void photoIsSharperThanTheScreen();
    void noPictureGivesNoPhoto();
};

void CaptureAreaTest::startsWithTheFrameOnThePicture()
{
    CaptureArea area(placeMap());
    QCOMPARE(area.cropFrame(), QRect(100, 30, 170, 210)); // right 270, bottom 240
    QCOMPARE(area.imageOffset(), QPoint(0, 0));
    QCOMPARE(area.cropCanvas().pixel(0, 0), placeColour(100, 30));
    QVERIFY(!area.entryPhoto().isEmpty());
}

void CaptureAreaTest::mouseBindings_data()
{
    QTest::addColumn<QList<MouseStep>>("steps");
    QTest::addColumn<QRect>("frame");
    QTest::addColumn<QPoint>("offset");

    const auto L = Qt::LeftButton;
    const auto R = Qt::RightButton;
    QTest::newRow("left press centres the frame on the pointer")
        << QList{press(L, 200, 150)} << QRect(115, 45, 170, 210) << QPoint(0, 0);
    QTest::newRow("left drag carries the frame") << QList{press(L, 200, 150), move(210, 160), move(230, 100)}
                                                 << QRect(145, -5, 170, 210) << QPoint(0, 0);
    QTest::newRow("left release ends the drag")
        << QList{press(L, 200, 150), release(L, 200, 150), move(10, 10)} << QRect(115, 45, 170, 210)
        << QPoint(0, 0);
    QTest::newRow("right press alone moves nothing")
        << QList{press(R, 200, 150)} << QRect(100, 30, 170, 210) << QPoint(0, 0);
    QTest::newRow("right drag pans the picture")
        << QList{press(R, 100, 100), move(120, 90)} << QRect(100, 30, 170, 210) << QPoint(20, -10);
    QTest::newRow("right drag pans step by step, unclamped")
        << QList{press(R, 0, 0), move(5, 5), move(-300, -400)} << QRect(100, 30, 170, 210)
        << QPoint(-300, -400);
    QTest::newRow("right release ends the pan")
        << QList{press(R, 100, 100), move(120, 90), release(R, 120, 90), move(300, 300)}
        << QRect(100, 30, 170, 210) << QPoint(20, -10);
    QTest::newRow("both buttons pan and carry the frame")
        << QList{press(R, 100, 100), press(L, 100, 100), move(110, 120)} << QRect(25, 15, 170, 210)
        << QPoint(10, 20);
    QTest::newRow("a move with no button held does nothing")
        << QList{move(50, 50), release(L, 60, 60), move(70, 70)} << QRect(100, 30, 170, 210) << QPoint(0, 0);
    QTest::newRow("the frame may leave the canvas")
        << QList{press(L, 5, 400)} << QRect(-80, 295, 170, 210) << QPoint(0, 0);
}

void CaptureAreaTest::mouseBindings()
{
    QFETCH(QList<MouseStep>, steps);
    QFETCH(QRect, frame);
    QFETCH(QPoint, offset);
    CaptureArea area(placeMap());
    play(area, steps);
    QCOMPARE(area.cropFrame(), frame);
    QCOMPARE(area.imageOffset(), offset);
}

void CaptureAreaTest::cropIsTheFramedAreaWithoutOutline()
{
    CaptureArea area(placeMap());
    area.mousePressed(Qt::LeftButton, {200, 150}); // frame 115, 45, 285, 255

    const QImage& crop = area.cropCanvas();
    QCOMPARE(crop.size(), QSize(170, 210));
    QCOMPARE(crop.pixel(0, 0), placeColour(115, 45));
    QCOMPARE(crop.pixel(0, 100), placeColour(115, 145));
    QCOMPARE(crop.pixel(169, 204), placeColour(284, 249));
    QCOMPARE(crop.pixel(169, 205), blank); // below the canvas

    const QImage& display = area.displayCanvas();
    QCOMPARE(display.pixel(115, 100), outline);
    QCOMPARE(display.pixel(284, 100), outline);
    QCOMPARE(display.pixel(200, 45), outline);
    QCOMPARE(display.pixel(116, 100), placeColour(116, 100));
    QCOMPARE(display.pixel(114, 100), placeColour(114, 100));
    QCOMPARE(display.pixel(285, 100), placeColour(285, 100));

    // The photo is the crop, as a real JPEG; compression leaves colours close, not exact.
    const QImage photo = QImage::fromData(area.entryPhoto(), "JPEG");
    QCOMPARE(photo.size(), QSize(170, 210));
    for (const QPoint p : {QPoint(20, 20), QPoint(85, 105), QPoint(150, 180)}) {
        const QRgb expected = placeColour(115 + p.x(), 45 + p.y());
        QVERIFY2(qAbs(qGreen(photo.pixel(p)) - qGreen(expected)) < 12, qPrintable(QString::number(p.y())));
        QVERIFY(qAbs(qRed(photo.pixel(p)) - qRed(expected)) < 12);
    }
}

void CaptureAreaTest::panMovesPictureUnderFrame()
{
    CaptureArea area(placeMap());
    area.mousePressed(Qt::RightButton, {100, 100});
    area.mouseMoved({120, 90});

    QCOMPARE(area.cropFrame(), QRect(100, 30, 170, 210));
    QCOMPARE(area.cropCanvas().pixel(0, 0), placeColour(80, 40));
    QCOMPARE(area.cropCanvas().pixel(100, 100), placeColour(180, 140));
    const QImage& buffer = area.bufferCanvas();
    QCOMPARE(buffer.pixel(20, 100), placeColour(0, 110));
    QCOMPARE(buffer.pixel(19, 100), blank);  // uncovered on the left
    QCOMPARE(buffer.pixel(100, 240), blank); // uncovered at the bottom
    QCOMPARE(area.displayCanvas().pixel(19, 100), blank);
}

void CaptureAreaTest::frameBeyondTheCanvasCropsBlank()
{
    CaptureArea area(placeMap());
    area.mousePressed(Qt::LeftButton, {10, 10}); // frame -75, -95, 95, 115
    QCOMPARE(area.cropCanvas().pixel(74, 94), blank);
    QCOMPARE(area.cropCanvas().pixel(75, 95), placeColour(0, 0));
    QCOMPARE(area.cropCanvas().pixel(169, 209), placeColour(94, 114));
    QVERIFY(!area.entryPhoto().isEmpty());
}

void CaptureAreaTest::newPictureKeepsFrameAndOffset()
{
    CaptureArea area(placeMap());
    area.mousePressed(Qt::RightButton, {0, 0});
    area.mouseMoved({-10, 0});
    area.mouseReleased(Qt::RightButton, {-10, 0});
    area.mousePressed(Qt::LeftButton, {185, 125}); // frame 100, 20

    // Twice the canvas: each half covers half of it.
    QImage frame(720, 500, QImage::Format_RGB32);
    frame.fill(Qt::red);
    QPainter(&frame).fillRect(360, 0, 360, 500, Qt::blue);
    area.replaceSourceImage(frame);

    QCOMPARE(area.cropFrame(), QRect(100, 20, 170, 210));
    QCOMPARE(area.imageOffset(), QPoint(-10, 0));
    const QImage& buffer = area.bufferCanvas();
    QCOMPARE(buffer.pixel(50, 100), qRgb(255, 0, 0));
    QCOMPARE(buffer.pixel(200, 100), qRgb(0, 0, 255));
    QCOMPARE(buffer.pixel(355, 100), blank); // panned 10 to the left
    // The halves meet at 180 − 10 on the canvas, at 70 in the crop.
    QCOMPARE(area.cropCanvas().pixel(60, 50), qRgb(255, 0, 0));
    QCOMPARE(area.cropCanvas().pixel(80, 50), qRgb(0, 0, 255));
}

void CaptureAreaTest::pictureKeepsItsProportions_data()
{
    QTest::addColumn<QSize>("pictureSize");
    QTest::newRow("16:9 webcam") << QSize(1280, 720);
    QTest::newRow("4:3 webcam") << QSize(640, 480);
    QTest::newRow("portrait phone") << QSize(480, 640);
    QTest::newRow("smaller than the canvas") << QSize(180, 100);
    QTest::newRow("the canvas's own shape") << QSize(720, 500);
}

void CaptureAreaTest::pictureKeepsItsProportions()
{
    // A square in the middle of the picture stays a square in the middle of the canvas, and
    // the picture covers the whole canvas.
    QFETCH(QSize, pictureSize);
    QImage frame(pictureSize, QImage::Format_RGB32);
    frame.fill(Qt::white);
    const int side = std::min(pictureSize.width(), pictureSize.height()) / 6 * 2; // even, so truly centred
    QPainter(&frame).fillRect(
        QRect(QPoint(0, 0), QSize(side, side))
            .translated((pictureSize.width() - side) / 2, (pictureSize.height() - side) / 2),
        Qt::black);
    CaptureArea area(frame);
    area.mousePressed(Qt::LeftButton, {180, 125});

    const QImage& buffer = area.bufferCanvas();
    const int across = darkRun(buffer, true);
    const int down = darkRun(buffer, false);
    QVERIFY2(across > 20, qPrintable(QString::number(across)));
    QVERIFY2(qAbs(across - down) <= 1, qPrintable(QStringLiteral("%1 × %2").arg(across).arg(down)));
    // Centred: as much white on either side.
    const auto firstDark = [&buffer](int from, int step) {
        int x = from;
        while (qGray(buffer.pixel(x, 125)) >= 128)
            x += step;
        return x;
    };
    const int left = firstDark(0, 1);
    const int right = firstDark(CaptureArea::canvasSize.width() - 1, -1);
    QVERIFY2(qAbs(left - (CaptureArea::canvasSize.width() - 1 - right)) <= 1,
             qPrintable(QStringLiteral("%1 to %2").arg(left).arg(right)));
    // The corners are the picture's white, not the blank beside a squeezed picture.
    const QRect onCanvas = area.sourceRect();
    QVERIFY(onCanvas.contains(QRect(QPoint(0, 0), CaptureArea::canvasSize)));

    // The stored photo, made from the picture's own pixels, shows the same square.
    const QImage photo = QImage::fromData(area.entryPhoto(), "JPEG");
    const int photoAcross = darkRun(photo, true);
    const int photoDown = darkRun(photo, false);
    QVERIFY2(qAbs(photoAcross - photoDown) <= std::max(2, photoAcross / 50),
             qPrintable(QStringLiteral("%1 × %2").arg(photoAcross).arg(photoDown)));
    const double scale = double(photo.width()) / CaptureArea::cropSize.width();
    QVERIFY(qAbs(photoAcross - across * scale) <= 2 * scale + 1);
}

void CaptureAreaTest::circleStaysRound()
{
    // A 16:9 frame with a round plate held up in front of the camera, under the frame.
    QImage frame(1280, 720, QImage::Format_RGB32);
    frame.fill(Qt::white);
    const QRect onCanvas = Picture::coverRect(frame.size(), CaptureArea::canvasSize);
    const QPointF frameCentre((185.0 - onCanvas.x()) * 1280 / onCanvas.width(),
                              (135.0 - onCanvas.y()) * 720 / onCanvas.height());
    {
        QPainter painter(&frame);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::black);
        painter.drawEllipse(frameCentre, 150, 150);
    }
    CaptureArea area(frame);
    for (const QImage& image : {area.cropCanvas(), QImage::fromData(area.entryPhoto(), "JPEG")}) {
        const double across = darkRun(image, true);
        const double down = darkRun(image, false);
        QVERIFY2(across > 80, qPrintable(QString::number(across)));
        QVERIFY2(qAbs(across / down - 1) < 0.02, qPrintable(QStringLiteral("%1 × %2").arg(across).arg(down)));
    }
}

void CaptureAreaTest::photoTakesTheCamerasPixels_data()
{
    QTest::addColumn<QSize>("pictureSize");
    QTest::addColumn<QSize>("photoSize");
    QTest::newRow("720p: two and a half times the frame") << QSize(1280, 720) << QSize(425, 525);
    QTest::newRow("1080p: no more than print needs") << QSize(1920, 1080) << QSize(425, 525);
    QTest::newRow("VGA: what the camera has") << QSize(640, 480) << QSize(302, 373);
    QTest::newRow("canvas size: the screen crop") << QSize(360, 250) << QSize(170, 210);
    QTest::newRow("the placeholder: never below the screen crop") << QSize(372, 238) << QSize(170, 210);
}

void CaptureAreaTest::photoTakesTheCamerasPixels()
{
    QFETCH(QSize, pictureSize);
    QFETCH(QSize, photoSize);
    QImage frame(pictureSize, QImage::Format_RGB32);
    frame.fill(Qt::darkCyan);
    CaptureArea area(frame);
    QCOMPARE(area.entryPhotoSize(), photoSize);
    const QByteArray photo = area.entryPhoto();
    QCOMPARE(QImage::fromData(photo, "JPEG").size(), photoSize);
    // Asked again without a change, the photo is the same bytes: what was shown is stored.
    QCOMPARE(area.entryPhoto(), photo);
}

void CaptureAreaTest::photoIsSharperThanTheScreen()
{
    // Fine stripes two camera pixels wide: the screen blurs them to grey, the photo keeps
    // far more of them than the screen crop could.
    QImage frame(1280, 720, QImage::Format_RGB32);
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x)
            frame.setPixel(x, y, (x / 2) % 2 ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
    CaptureArea area(frame);
    const QImage photo = QImage::fromData(area.entryPhoto(), "JPEG");
    const auto contrast = [](const QImage& image) {
        int changes = 0;
        for (int x = 1; x < image.width(); ++x)
            changes += qAbs(qGray(image.pixel(x, image.height() / 2))
                            - qGray(image.pixel(x - 1, image.height() / 2)))
                       > 64;
        return changes;
    };
    QVERIFY2(contrast(photo) > 2 * contrast(area.cropCanvas()),
             qPrintable(QStringLiteral("%1 and %2").arg(contrast(photo)).arg(contrast(area.cropCanvas()))));
}

void CaptureAreaTest::noPictureGivesNoPhoto()
{
    CaptureArea area(placeMap());
    area.replaceSourceImage(QImage());
    QVERIFY(area.entryPhoto().isEmpty());
    QCOMPARE(area.cropCanvas().pixel(85, 105), blank);
    QCOMPARE(area.displayCanvas().pixel(100, 100), outline);
    area.mousePressed(Qt::LeftButton, {200, 150});
    QVERIFY(area.entryPhoto().isEmpty());
}

QTEST_MAIN(CaptureAreaTest)
#include "tst_capturearea.moc"
