// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QPoint>
#include <QRect>

#include <memory>

class FaceFinder;

// The crop area of the entry station. The source picture fills a 360 × 250 canvas with its
// own proportions (centred, the excess cut off); the operator drags it about with the right
// mouse button and places a 170 × 210 frame on it with the left, or lets the frame be put on
// the face the picture shows. Every change redraws at once. The entry photo a save stores
// is the part of the source under the frame, taken from the source's own pixels at up to
// 2.5 times the frame's size, so it prints sharp; the crop canvas shows the same part at
// screen size. Nothing keeps a dragged frame or the picture on the canvas: what lies outside
// the picture, or outside the canvas, is blank.
class CaptureArea : public QObject {
    Q_OBJECT
public:
    static constexpr QSize canvasSize{360, 250};
    static constexpr QSize cropSize{170, 210};
    static constexpr double largestPhotoScale = 2.5;

    explicit CaptureArea(const QImage& sourceImage, QObject* parent = nullptr);
    ~CaptureArea() override;

    const QImage& sourceImage() const { return m_sourceImage; }
    QPoint imageOffset() const { return m_imageOffset; }
    QRect cropFrame() const { return m_cropFrame; }
    // Where the source lies on the canvas, at its offset.
    QRect sourceRect() const { return m_sourceOnCanvas.translated(m_imageOffset); }

    // The picture at its offset, the same with the frame drawn on it, and the frame's content.
    const QImage& bufferCanvas() const { return m_buffer; }
    const QImage& displayCanvas() const { return m_display; }
    const QImage& cropCanvas() const { return m_crop; }
    // JPEG bytes of the framed part of the source at print size. Empty once a save has taken
    // it, and when there is no picture to crop. Made when first asked for, not at every
    // redraw, so a drag stays smooth.
    bool hasEntryPhoto() const { return m_hasEntryPhoto; }
    QByteArray entryPhoto() const;
    QSize entryPhotoSize() const;

    // A new picture under the frame; the offset and the frame stay where they were.
    void replaceSourceImage(const QImage& image);
    void clearEntryPhoto();
    void redrawCapture();

    // Looks for a face on the canvas, away from the window's thread, and places the frame
    // on it: centred across, the eyes at 45 % of the frame's height, kept on the canvas.
    // A frame the operator places before the search ends, or a new picture, wins.
    // framingFinished tells the outcome.
    void frameFace();
    bool framingInProgress() const { return m_searchesRunning > 0; }

    void mousePressed(Qt::MouseButton button, QPoint position);
    void mouseReleased(Qt::MouseButton button, QPoint position);
    void mouseMoved(QPoint position);

    static const QString noFaceHint;
    static const QString tooCloseHint;
    static const QString tooFarHint;

signals:
    // The canvases or the entry photo changed.
    void changed();
    // Empty when the frame is on a face of a good size; otherwise the word for the operator.
    void framingFinished(const QString& hint);

private:
    void placeFrame(QPoint centre);
    // `face` is relative to where the source lay on the canvas when it was searched.
    void takeFace(int request, const QList<QRect>& faces, QPoint searchedOrigin);

    QImage m_sourceImage;
    QRect m_sourceOnCanvas; // before the offset
    QImage m_scaledSource;  // the source at canvas size once, so a drag only copies
    QPoint m_imageOffset;
    QRect m_cropFrame{QPoint(100, 30), cropSize};
    bool m_frameDragging = false;
    bool m_panning = false;
    QPoint m_lastMouse;

    QImage m_buffer;
    QImage m_display;
    QImage m_crop;
    bool m_hasEntryPhoto = false;
    mutable QByteArray m_entryPhoto;

    std::shared_ptr<FaceFinder> m_faceFinder;
    int m_framingRequests = 0;
    int m_validFraming = 0; // the search whose answer may still place the frame; 0 for none
    int m_searchesRunning = 0;
};
