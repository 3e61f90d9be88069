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
// The point of a 1280 × 720 frame that the capture canvas shows at `canvasPoint`.
QPointF framePoint(QPointF canvasPoint);

// The crop frame as the main window's capture canvas shows it: where the canvas differs from
// the picture beneath it.
QRect shownFrame(const QWidget& mainWindow);

} // namespace FacePicture
