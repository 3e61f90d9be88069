// SPDX-License-Identifier: GPL-3.0-or-later
#include "records/CaptureArea.h"
#include "records/FaceFinder.h"
#include "tests/support/FacePicture.h"

#include <QPainter>
#include <QSignalSpy>
#include <QTest>

namespace {

// Frame positions in canvas pixels, as the framing must place them for eyes at `eyes`.
constexpr double eyesInFrame = 0.45;
QPointF expectedTopLeft(QPointF eyes)
{
    return {eyes.x() - CaptureArea::cropSize.width() / 2.0,
            eyes.y() - eyesInFrame * CaptureArea::cropSize.height()};
}

// Runs the framing to its end and answers its hint.
QString frameAndWait(CaptureArea& area)
{
    QSignalSpy finished(&area, &CaptureArea::framingFinished);
    area.frameFace();
    if (!finished.wait(20000))
        return QStringLiteral("(no answer)");
    return finished.first().first().toString();
}

QString describe(QRect frame) { return QStringLiteral("frame at %1, %2").arg(frame.x()).arg(frame.y()); }

} // namespace

class FaceFramingTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void frameLandsOnTheFace_data();
    void frameLandsOnTheFace();
    void sizeHints_data();
    void sizeHints();
    void frameStaysOnTheCanvas();
    void noFaceLeavesTheFrame();
    void dragAfterFramingIsKept();
    void dragDuringTheSearchWins();
    void panDuringTheSearchIsFollowed();
    void newPictureDropsTheOldSearch();
};

void FaceFramingTest::initTestCase()
{
    QVERIFY2(!QImage(FacePicture::file("astronaut.png")).isNull(), "tests/records/data/fetch-pictures.sh");
    QVERIFY2(FaceFinder().usable(), qPrintable(FaceFinder::defaultCascadeFile()));
}

void FaceFramingTest::frameLandsOnTheFace_data()
{
    QTest::addColumn<double>("scale");
    QTest::addColumn<QPointF>("eyes"); // on the canvas
    // Two sizes a student stands at, at 20 places the frame can reach in full.
    for (const double scale : {2.3, 3.3})
        for (const int x : {90, 140, 180, 220, 270})
            for (const int y : {100, 110, 120, 130})
                QTest::addRow("scale %.1f, eyes at %d, %d", scale, x, y) << scale << QPointF(x, y);
}

void FaceFramingTest::frameLandsOnTheFace()
{
    QFETCH(double, scale);
    QFETCH(QPointF, eyes);
    CaptureArea area(FacePicture::frameWithAstronaut(scale, FacePicture::framePoint(eyes)));
    QCOMPARE(frameAndWait(area), QString());

    const QPointF expected = expectedTopLeft(eyes);
    const QRect frame = area.cropFrame();
    QCOMPARE(frame.size(), CaptureArea::cropSize);
    QVERIFY2(qAbs(frame.x() - expected.x()) <= 10, qPrintable(describe(frame)));
    QVERIFY2(qAbs(frame.y() - expected.y()) <= 10, qPrintable(describe(frame)));
    // The entry photo follows the frame.
    QVERIFY(area.hasEntryPhoto());
    QCOMPARE(area.cropCanvas().pixel(0, 0), area.bufferCanvas().pixel(frame.topLeft()));
}

void FaceFramingTest::sizeHints_data()
{
    QTest::addColumn<double>("scale");
    QTest::addColumn<QString>("hint");
    // The face's width on the canvas is about 90 × scale × 0.35 pixels; the frame is 170 wide.
    QTest::newRow("far away") << 1.2 << CaptureArea::tooFarHint;
    QTest::newRow("a little far") << 1.6 << CaptureArea::tooFarHint;
    QTest::newRow("just right") << 2.8 << QString();
    QTest::newRow("a little close") << 4.6 << CaptureArea::tooCloseHint;
    QTest::newRow("very close") << 5.2 << CaptureArea::tooCloseHint;
}

void FaceFramingTest::sizeHints()
{
    QFETCH(double, scale);
    QFETCH(QString, hint);
    const QPointF eyes(180, 105);
    CaptureArea area(FacePicture::frameWithAstronaut(scale, FacePicture::framePoint(eyes)));
    QCOMPARE(frameAndWait(area), hint);
    // Framed all the same, so a retake starts near the face.
    QVERIFY2(qAbs(area.cropFrame().center().x() - eyes.x()) <= 10, qPrintable(describe(area.cropFrame())));
}

void FaceFramingTest::frameStaysOnTheCanvas()
{
    // Eyes high up and far left: the frame would reach past the top-left corner.
    CaptureArea area(FacePicture::frameWithAstronaut(2.3, FacePicture::framePoint({55, 60})));
    QCOMPARE(frameAndWait(area), QString());
    QCOMPARE(area.cropFrame(), QRect(QPoint(0, 0), CaptureArea::cropSize));

    // And down at the bottom right.
    area.replaceSourceImage(FacePicture::frameWithAstronaut(2.3, FacePicture::framePoint({310, 150})));
    QCOMPARE(frameAndWait(area), QString());
    QCOMPARE(area.cropFrame().topLeft(), QPoint(190, 40));
}

void FaceFramingTest::noFaceLeavesTheFrame()
{
    QImage frame(1280, 720, QImage::Format_RGB32);
    frame.fill(QColor(128, 128, 128));
    {
        const QImage coffee(FacePicture::file("coffee.png"));
        QVERIFY(!coffee.isNull());
        QPainter painter(&frame);
        painter.drawImage(QRect(100, 0, 1080, 720), coffee);
    }
    CaptureArea area(frame);
    area.mousePressed(Qt::LeftButton, {150, 140});
    area.mouseReleased(Qt::LeftButton, {150, 140});
    const QRect placed = area.cropFrame();
    QCOMPARE(frameAndWait(area), CaptureArea::noFaceHint);
    QCOMPARE(area.cropFrame(), placed);
    QVERIFY(area.hasEntryPhoto());
}

void FaceFramingTest::dragAfterFramingIsKept()
{
    CaptureArea area(FacePicture::frameWithAstronaut(2.8, FacePicture::framePoint({200, 110})));
    QCOMPARE(frameAndWait(area), QString());
    area.mousePressed(Qt::LeftButton, {150, 120});
    area.mouseMoved({160, 130});
    area.mouseReleased(Qt::LeftButton, {160, 130});
    QCOMPARE(area.cropFrame(), QRect(75, 25, 170, 210));
    // A pan of the picture under the frame does not bring the automatic frame back.
    area.mousePressed(Qt::RightButton, {0, 0});
    area.mouseMoved({5, 5});
    area.mouseReleased(Qt::RightButton, {5, 5});
    QTest::qWait(50);
    QCOMPARE(area.cropFrame(), QRect(75, 25, 170, 210));
}

void FaceFramingTest::dragDuringTheSearchWins()
{
    CaptureArea area(FacePicture::frameWithAstronaut(2.8, FacePicture::framePoint({200, 110})));
    QSignalSpy finished(&area, &CaptureArea::framingFinished);
    area.frameFace();
    // The answer can only come through the event loop, so this press is before it.
    area.mousePressed(Qt::LeftButton, {100, 200});
    area.mouseReleased(Qt::LeftButton, {100, 200});
    QTRY_VERIFY_WITH_TIMEOUT(!area.framingInProgress(), 20000);
    QCoreApplication::processEvents();
    QCOMPARE(area.cropFrame(), QRect(15, 95, 170, 210));
    QVERIFY(finished.isEmpty()); // no hint about a frame the operator placed
}

void FaceFramingTest::panDuringTheSearchIsFollowed()
{
    const QPointF eyes(160, 110);
    CaptureArea area(FacePicture::frameWithAstronaut(2.8, FacePicture::framePoint(eyes)));
    QSignalSpy finished(&area, &CaptureArea::framingFinished);
    area.frameFace();
    area.mousePressed(Qt::RightButton, {100, 100});
    area.mouseMoved({130, 100});
    area.mouseReleased(Qt::RightButton, {130, 100});
    QVERIFY(finished.wait(20000));
    QVERIFY2(qAbs(area.cropFrame().x() - (expectedTopLeft(eyes).x() + 30)) <= 10,
             qPrintable(describe(area.cropFrame())));
}

void FaceFramingTest::newPictureDropsTheOldSearch()
{
    CaptureArea area(FacePicture::frameWithAstronaut(2.8, FacePicture::framePoint({250, 110})));
    QSignalSpy finished(&area, &CaptureArea::framingFinished);
    area.frameFace();
    QImage empty(1280, 720, QImage::Format_RGB32);
    empty.fill(Qt::gray);
    area.replaceSourceImage(empty);
    area.frameFace();
    QVERIFY(finished.wait(20000));
    QTRY_VERIFY_WITH_TIMEOUT(!area.framingInProgress(), 20000);
    QCoreApplication::processEvents();
    // Only the answer about the picture on show counts.
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().first().toString(), CaptureArea::noFaceHint);
    QCOMPARE(area.cropFrame(), QRect(100, 30, 170, 210));
}

QTEST_MAIN(FaceFramingTest)
#include "tst_faceframing.moc"
