// SPDX-License-Identifier: GPL-3.0-or-later
#include "records/CaptureArea.h"

#include <QBuffer>
#include <QPainter>

namespace {
const QColor blank = Qt::white;
// Portraits end up printed on cards: keep the crop sharp.
constexpr int photoQuality = 90;
} // namespace

CaptureArea::CaptureArea(const QImage& sourceImage, QObject* parent)
    : QObject(parent)
    , m_buffer(canvasSize, QImage::Format_RGB32)
    , m_crop(cropSize, QImage::Format_RGB32)
{
    replaceSourceImage(sourceImage);
}

void CaptureArea::replaceSourceImage(const QImage& image)
{
    m_sourceImage = image;
    // Whatever its own size, the picture covers the canvas, as the video area shows it.
    m_scaledSource = image.isNull() ? QImage()
                                    : image.scaled(canvasSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                          .convertToFormat(QImage::Format_RGB32);
    redrawCapture();
}

void CaptureArea::clearEntryPhoto()
{
    m_entryPhoto.clear();
    emit changed();
}

void CaptureArea::redrawCapture()
{
    m_buffer.fill(blank);
    {
        QPainter painter(&m_buffer);
        painter.drawImage(m_imageOffset, m_scaledSource);
    }

    // Outside the picture the buffer is blank, so the display is the buffer plus the frame.
    m_display = m_buffer;
    {
        QPainter painter(&m_display);
        painter.drawRect(m_cropFrame.adjusted(0, 0, -1, -1));
    }

    m_crop.fill(blank);
    {
        QPainter painter(&m_crop);
        painter.drawImage(QPoint(0, 0), m_buffer, m_cropFrame);
    }

    // A blank crop is no photo: with nothing to frame, a save must be refused rather than
    // store an empty white picture as the student's face.
    m_entryPhoto.clear();
    if (!m_sourceImage.isNull()) {
        QBuffer device(&m_entryPhoto);
        device.open(QIODevice::WriteOnly);
        m_crop.save(&device, "JPEG", photoQuality);
    }
    emit changed();
}

void CaptureArea::placeFrame(QPoint centre)
{
    m_cropFrame.moveTopLeft(centre - QPoint(cropSize.width() / 2, cropSize.height() / 2));
}

void CaptureArea::mousePressed(Qt::MouseButton button, QPoint position)
{
    if (button == Qt::LeftButton) {
        m_frameDragging = true;
        placeFrame(position);
        redrawCapture();
    } else if (button == Qt::RightButton) {
        m_panning = true;
        m_lastMouse = position;
    }
}

void CaptureArea::mouseReleased(Qt::MouseButton button, QPoint)
{
    if (button == Qt::LeftButton)
        m_frameDragging = false;
    else if (button == Qt::RightButton)
        m_panning = false;
}

void CaptureArea::mouseMoved(QPoint position)
{
    if (!m_panning && !m_frameDragging)
        return;
    if (m_panning) {
        m_imageOffset += position - m_lastMouse;
        m_lastMouse = position;
    }
    if (m_frameDragging)
        placeFrame(position);
    redrawCapture();
}
