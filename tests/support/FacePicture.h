// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QPointF>
#include <QString>

class QWidget;

// Real photographs for the face framing: the astronaut portrait and a cup of coffee from
// Debian's python3-skimage, kept in tests/records/data.
namespace FacePicture {

QString file(const QString& name);

// Where the astronaut's eyes are (their midpoint) in her own picture, and how wide her face
// is from cheek to cheek, measured by eye.
constexpr QPointF astronautEyes{225, 102};
constexpr double astronautFaceWidth = 90;

// A 1280 × 720 camera frame, grey, with the astronaut scaled by `scale` so that her eyes
// are at `eyes` (frame pixels).
QImage frameWithAstronaut(double scale, QPointF eyes);
// A portrait of `size` showing the astronaut with her face `faceWidth` pixels across and her
// eyes at `eyes`, on a backdrop of her studio's grey where her picture ends. A patterned one
// has bold stripes everywhere but an oval around her head, as a classroom wall behind a
// pupil would.
QImage portrait(QSize size, double faceWidth, QPointF eyes, bool patterned = false);
// The JPEG a camera held sideways writes: the pixels stored turned a quarter to the left, and
// EXIF orientation 6 saying they must be turned back to stand upright.
QByteArray sidewaysJpeg(const QImage& upright);
// The JFIF header's density as (x, y) dots per inch; (0, 0) when the bytes carry none.
QSize jfifDensity(const QByteArray& jpeg);

// The point of a 1280 × 720 frame that the capture canvas shows at `canvasPoint`.
QPointF framePoint(QPointF canvasPoint);

// The crop frame as the main window's capture canvas shows it: where the canvas differs from
// the picture beneath it.
QRect shownFrame(const QWidget& mainWindow);

} // namespace FacePicture
