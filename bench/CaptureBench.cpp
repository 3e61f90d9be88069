// SPDX-License-Identifier: GPL-3.0-or-later
// Dragging in the capture area redraws on every mouse move: each redraw must fit well inside
// one frame of the screen. After 拍照 the frame must be on the face before the operator
// reaches for the mouse, and the photo at print size is made once, when it is taken.
#include "bench/Bench.h"

#include "records/CaptureArea.h"
#include "records/FaceFinder.h"

#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>

#include <algorithm>
#include <ctime>
#include <vector>

namespace {

// A 720p camera frame with the fine grain of a real one, which is what makes JPEG work hard.
QImage cameraFrame()
{
    QImage frame(1280, 720, QImage::Format_RGB32);
    QRandomGenerator noise(7);
    for (int y = 0; y < frame.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(frame.scanLine(y));
        for (int x = 0; x < frame.width(); ++x) {
            const int grain = int(noise.bounded(24));
            line[x] = qRgb(qMin(255, x / 6 + grain), qMin(255, y / 3 + grain), qMin(255, 120 + grain));
        }
    }
    return frame;
}

double processCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// The astronaut portrait in a grey 720p frame, her face as large as a student's in front of
// the entry station's camera.
QImage frameWithFace()
{
    const QImage astronaut(QStringLiteral(QINGHE_BENCH_FACE_PICTURE));
    if (astronaut.isNull())
        qFatal("cannot read %s", QINGHE_BENCH_FACE_PICTURE);
    QImage frame(1280, 720, QImage::Format_RGB32);
    frame.fill(QColor(128, 128, 128));
    QPainter painter(&frame);
    painter.drawImage(QRectF(640 - 225 * 2.8, 320 - 102 * 2.8, 512 * 2.8, 512 * 2.8), astronaut);
    return frame;
}

// From 拍照 to the frame on the face, as the operator waits for it.
void faceScenario()
{
    const QImage frame = frameWithFace();
    double start = bench::nowMs();
    if (!FaceFinder().usable())
        qFatal("no face cascade at %s", qPrintable(FaceFinder::defaultCascadeFile()));
    bench::report("capture", "face_load_ms", bench::nowMs() - start, "ms");

    CaptureArea area(frame);
    QString hint = QStringLiteral("-");
    QObject::connect(&area, &CaptureArea::framingFinished, [&hint](const QString& h) { hint = h; });
    const auto frameOnce = [&] {
        hint = QStringLiteral("-");
        area.frameFace();
        while (area.framingInProgress())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (!hint.isEmpty())
            qFatal("the face was not framed: %s", qPrintable(hint));
    };
    frameOnce(); // loads the cascade
    constexpr int searches = 20;
    start = bench::nowMs();
    const double startCpu = processCpuMs();
    for (int i = 0; i < searches; ++i)
        frameOnce();
    bench::report("capture", "face_ms", (bench::nowMs() - start) / searches, "ms");
    // What the search costs the processor, all threads together: on a busy machine the wall
    // clock above also counts the waiting for a turn.
    bench::report("capture", "face_cpu_ms", (processCpuMs() - startCpu) / searches, "ms");

    constexpr int photos = 20;
    start = bench::nowMs();
    for (int i = 0; i < photos; ++i) {
        area.redrawCapture();
        if (area.entryPhoto().isEmpty())
            qFatal("no photo");
    }
    bench::report("capture", "photo_ms", (bench::nowMs() - start) / photos, "ms");
}

void captureScenario()
{
    const QImage frame = cameraFrame();
    CaptureArea area(frame);

    double start = bench::nowMs();
    constexpr int grabs = 20;
    for (int i = 0; i < grabs; ++i)
        area.replaceSourceImage(frame);
    bench::report("capture", "grab_ms", (bench::nowMs() - start) / grabs, "ms");

    // A drag of the frame, then a pan of the picture, back and forth over the canvas.
    constexpr int moves = 2000;
    std::vector<double> times;
    times.reserve(moves);
    area.mousePressed(Qt::LeftButton, {180, 125});
    for (int i = 0; i < moves; ++i) {
        if (i == moves / 2) {
            area.mouseReleased(Qt::LeftButton, {180, 125});
            area.mousePressed(Qt::RightButton, {180, 125});
        }
        const QPoint at(180 + (i % 100) - 50, 125 + (i % 60) - 30);
        start = bench::nowMs();
        area.mouseMoved(at);
        times.push_back(bench::nowMs() - start);
    }
    if (area.entryPhoto().isEmpty())
        qFatal("the capture area made no photo");
    if (area.entryPhotoSize() != QSize(425, 525))
        qFatal("the photo is not at print size");
    double total = 0;
    for (double t : times)
        total += t;
    std::sort(times.begin(), times.end());
    bench::report("capture", "redraw_ms", total / moves, "ms");
    bench::report("capture", "redraw_p99_ms", times[size_t(moves * 99 / 100)], "ms");

    faceScenario();
}

} // namespace

BENCH_SCENARIO("capture", captureScenario);
