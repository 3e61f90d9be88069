// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QPoint>
#include <QRect>

// The crop area of the entry station. The source picture is drawn over a 360 × 250 canvas;
// the operator drags it about with the right mouse button and places a 170 × 210 frame on it
// with the left. Every change redraws at once, and the part of the picture inside the frame,
// as JPEG bytes, is the entry photo a save stores. Nothing keeps the frame or the
// picture on the canvas: what lies outside the picture is blank.
class CaptureArea : public QObject {
    Q_OBJECT
public:
    static constexpr QSize canvasSize{360, 250};
    static constexpr QSize cropSize{170, 210};

    explicit CaptureArea(const QImage& sourceImage, QObject* parent = nullptr);

    const QImage& sourceImage() const { return m_sourceImage; }
    QPoint imageOffset() const { return m_imageOffset; }
    QRect cropFrame() const { return m_cropFrame; }

    // The picture at its offset, the same with the frame drawn on it, and the frame's content.
    const QImage& bufferCanvas() const { return m_buffer; }
    const QImage& displayCanvas() const { return m_display; }
    const QImage& cropCanvas() const { return m_crop; }
    // Empty once a save has taken it, and when there is no picture to crop.
    const QByteArray& entryPhoto() const { return m_entryPhoto; }

    // A new picture under the frame; the offset and the frame stay where they were.
    void replaceSourceImage(const QImage& image);
    void clearEntryPhoto();
    void redrawCapture();

    void mousePressed(Qt::MouseButton button, QPoint position);
    void mouseReleased(Qt::MouseButton button, QPoint position);
    void mouseMoved(QPoint position);

signals:
    // The canvases or the entry photo changed.
    void changed();

private:
    void placeFrame(QPoint centre);

    QImage m_sourceImage;
    QImage m_scaledSource; // the source stretched to the canvas once, so a drag only copies
    QPoint m_imageOffset;
    QRect m_cropFrame{QPoint(100, 30), cropSize};
    bool m_frameDragging = false;
    bool m_panning = false;
    QPoint m_lastMouse;

    QImage m_buffer;
    QImage m_display;
    QImage m_crop;
    QByteArray m_entryPhoto;
};
