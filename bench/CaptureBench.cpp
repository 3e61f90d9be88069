// SPDX-License-Identifier: GPL-3.0-or-later
// Dragging in the capture area redraws on every mouse move: each redraw must fit well inside
// one frame of the screen.
#include "bench/Bench.h"

#include "records/CaptureArea.h"

#include <QImage>
#include <QRandomGenerator>

#include <algorithm>
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
    double total = 0;
    for (double t : times)
        total += t;
    std::sort(times.begin(), times.end());
    bench::report("capture", "redraw_ms", total / moves, "ms");
    bench::report("capture", "redraw_p99_ms", times[size_t(moves * 99 / 100)], "ms");
}

} // namespace

BENCH_SCENARIO("capture", captureScenario);
