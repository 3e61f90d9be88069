// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/FacePicture.h"

#include "formats/graphics/Picture.h"
#include "tests/support/Controls.h"
#include "widgets/Canvas.h"

#include <QPainter>

namespace FacePicture {

QString file(const QString& name) { return QStringLiteral(QINGHE_FACE_PICTURES "/") + name; }

QImage frameWithAstronaut(double scale, QPointF eyes)
{
    static const QImage astronaut(file(QStringLiteral("astronaut.png")));
    QImage frame(1280, 720, QImage::Format_RGB32);
    frame.fill(QColor(128, 128, 128));
    QPainter painter(&frame);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QSizeF size = QSizeF(astronaut.size()) * scale;
    painter.drawImage(QRectF(eyes - astronautEyes * scale, size), astronaut);
    return frame;
}

QPointF framePoint(QPointF canvasPoint)
{
    const QRect onCanvas = Picture::coverRect(QSize(1280, 720), QSize(360, 250));
    return QPointF((canvasPoint.x() - onCanvas.x()) * 1280.0 / onCanvas.width(),
                   (canvasPoint.y() - onCanvas.y()) * 720.0 / onCanvas.height());
}

QRect shownFrame(const QWidget& mainWindow)
{
    const QImage display = control<Canvas>(mainWindow, "画板1")->image();
    const QImage buffer = control<Canvas>(mainWindow, "画板2")->image();
    QRect outline;
    for (int y = 0; y < display.height(); ++y)
        for (int x = 0; x < display.width(); ++x)
            if (display.pixel(x, y) != buffer.pixel(x, y))
                outline |= QRect(x, y, 1, 1);
    return outline;
}

} // namespace FacePicture
