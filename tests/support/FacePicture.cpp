// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/FacePicture.h"

#include "formats/graphics/Picture.h"
#include "tests/support/Controls.h"
#include "widgets/Canvas.h"

#include <QBuffer>
#include <QImageWriter>
#include <QPainter>
#include <QPainterPath>
#include <QtEndian>

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

QImage portrait(QSize size, double faceWidth, QPointF eyes, bool patterned)
{
    static const QImage astronaut(file(QStringLiteral("astronaut.png")));
    // The backdrop just above her hair, so her picture's edge leaves no seam in it.
    static const QColor backdrop = [] {
        qint64 r = 0, g = 0, b = 0, n = 0;
        for (int y = 0; y < 12; ++y)
            for (int x = 140; x < 310; ++x, ++n) {
                const QRgb c = astronaut.pixel(x, y);
                r += qRed(c), g += qGreen(c), b += qBlue(c);
            }
        return QColor(int(r / n), int(g / n), int(b / n));
    }();
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(backdrop);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const double scale = faceWidth / astronautFaceWidth;
    painter.drawImage(QRectF(eyes - astronautEyes * scale, QSizeF(astronaut.size()) * scale), astronaut);
    if (patterned) {
        QPainterPath wall;
        wall.addRect(QRectF(QPointF(0, 0), QSizeF(size)));
        QPainterPath head;
        head.addEllipse(QRectF(eyes.x() - 0.95 * faceWidth, eyes.y() - 1.3 * faceWidth, 1.9 * faceWidth,
                               2.4 * faceWidth));
        painter.setClipPath(wall.subtracted(head));
        const double stripe = std::max(4.0, faceWidth / 8);
        for (int i = 0; i * stripe < size.width() + size.height(); ++i)
            painter.fillRect(QRectF(i * stripe, 0, stripe / 2, size.height()),
                             i % 2 ? QColor(200, 30, 40) : QColor(20, 60, 160));
    }
    return picture;
}

QByteArray sidewaysJpeg(const QImage& upright)
{
    QByteArray stored;
    QBuffer buffer(&stored);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "jpeg").write(upright.transformed(QTransform().rotate(-90)));
    // APP1 "Exif": a big-endian TIFF header and one IFD entry, Orientation (0x0112) = 6.
    const QByteArray tiff = QByteArray::fromHex("4d4d002a00000008"
                                                "0001"
                                                "011200030000000100060000"
                                                "00000000");
    QByteArray app1 = QByteArray::fromHex("ffe1");
    const quint16 length = quint16(2 + 6 + tiff.size());
    app1 += char(length >> 8);
    app1 += char(length & 0xff);
    app1 += QByteArray("Exif\0\0", 6) + tiff;
    return stored.left(2) + app1 + stored.mid(2);
}

QSize jfifDensity(const QByteArray& jpeg)
{
    // SOI, then APP0: length, "JFIF\0", version (2), units (1), x density (2), y density (2).
    if (jpeg.size() < 18 || !jpeg.startsWith("\xff\xd8\xff\xe0") || jpeg.mid(6, 5) != QByteArray("JFIF\0", 5)
        || jpeg[13] != 1)
        return {};
    const auto* d = reinterpret_cast<const uchar*>(jpeg.constData());
    return {qFromBigEndian<quint16>(d + 14), qFromBigEndian<quint16>(d + 16)};
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
