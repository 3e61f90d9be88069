// SPDX-License-Identifier: GPL-3.0-or-later
#include "records/CaptureArea.h"

#include "formats/graphics/Picture.h"
#include "records/FaceFinder.h"

#include <QBuffer>
#include <QFutureWatcher>
#include <QPainter>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cmath>

namespace {
const QColor blank = Qt::white;
// Portraits end up printed on cards: keep the crop sharp.
constexpr int photoQuality = 90;

// A face smaller than this on the canvas is too far away to frame in any case.
constexpr int smallestFace = 24;
// The cascade's box puts the eyes at this fraction of its height.
constexpr double eyesInFace = 0.38;
// Where the eyes belong in a portrait, as a fraction of the frame's height.
constexpr double eyesInFrame = 0.45;
// A face box between these fractions of the frame's width fills a portrait well.
constexpr double smallestFaceShare = 0.4;
constexpr double largestFaceShare = 0.8;
} // namespace

const QString CaptureArea::noFaceHint = QStringLiteral("没有找到人脸，请手动框选");
const QString CaptureArea::tooCloseHint = QStringLiteral("请后退一点");
const QString CaptureArea::tooFarHint = QStringLiteral("请靠近一点");

CaptureArea::CaptureArea(const QImage& sourceImage, QObject* parent)
    : QObject(parent)
    , m_buffer(canvasSize, QImage::Format_RGB32)
    , m_crop(cropSize, QImage::Format_RGB32)
{
    replaceSourceImage(sourceImage);
}

// A search still running keeps its own copy of the canvas and of the finder.
CaptureArea::~CaptureArea() = default;

void CaptureArea::replaceSourceImage(const QImage& image)
{
    m_sourceImage = image;
    m_sourceOnCanvas = Picture::coverRect(image.size(), canvasSize);
    m_scaledSource =
        image.isNull()
            ? QImage()
            : image.scaled(m_sourceOnCanvas.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                  .convertToFormat(QImage::Format_RGB32);
    // A face found in the previous picture says nothing about this one.
    m_validFraming = 0;
    redrawCapture();
}

void CaptureArea::clearEntryPhoto()
{
    m_hasEntryPhoto = false;
    m_entryPhoto.clear();
    emit changed();
}

void CaptureArea::redrawCapture()
{
    m_buffer.fill(blank);
    {
        QPainter painter(&m_buffer);
        painter.drawImage(sourceRect().topLeft(), m_scaledSource);
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
    m_hasEntryPhoto = !m_sourceImage.isNull();
    m_entryPhoto.clear();
    emit changed();
}

QSize CaptureArea::entryPhotoSize() const
{
    if (m_sourceImage.isNull())
        return {};
    // Source pixels per canvas pixel: the photo takes as many as the camera gives, within
    // what a printed card can use, and never fewer than the screen shows.
    const QRect onCanvas = sourceRect();
    const double own = std::min(double(m_sourceImage.width()) / onCanvas.width(),
                                double(m_sourceImage.height()) / onCanvas.height());
    const double scale = std::clamp(own, 1.0, largestPhotoScale);
    return QSize(int(std::lround(cropSize.width() * scale)), int(std::lround(cropSize.height() * scale)));
}

QByteArray CaptureArea::entryPhoto() const
{
    if (!m_hasEntryPhoto)
        return {};
    if (!m_entryPhoto.isEmpty())
        return m_entryPhoto;

    // The same part of the picture as the crop canvas, blank where that is blank, but drawn
    // from the source itself.
    QImage photo(entryPhotoSize(), QImage::Format_RGB32);
    photo.fill(blank);
    {
        QPainter painter(&photo);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.scale(double(photo.width()) / cropSize.width(), double(photo.height()) / cropSize.height());
        painter.translate(-m_cropFrame.topLeft());
        painter.setClipRect(QRect(QPoint(0, 0), canvasSize));
        painter.drawImage(QRectF(sourceRect()), m_sourceImage);
    }
    QBuffer device(&m_entryPhoto);
    device.open(QIODevice::WriteOnly);
    photo.save(&device, "JPEG", photoQuality);
    return m_entryPhoto;
}

void CaptureArea::frameFace()
{
    if (!m_faceFinder)
        m_faceFinder = std::make_shared<FaceFinder>();
    const int request = ++m_framingRequests;
    m_validFraming = request;
    ++m_searchesRunning;
    // The search looks at what the operator sees, which is small enough to search quickly.
    const QImage canvas = m_buffer;
    const QPoint searchedOrigin = sourceRect().topLeft();
    auto* watcher = new QFutureWatcher<QList<QRect>>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, request, searchedOrigin] {
        watcher->deleteLater();
        --m_searchesRunning;
        takeFace(request, watcher->result(), searchedOrigin);
    });
    watcher->setFuture(
        QtConcurrent::run([finder = m_faceFinder, canvas] { return finder->find(canvas, smallestFace); }));
}

void CaptureArea::takeFace(int request, const QList<QRect>& faces, QPoint searchedOrigin)
{
    if (request != m_validFraming)
        return;
    m_validFraming = 0;
    if (faces.isEmpty()) {
        emit framingFinished(noFaceHint);
        return;
    }
    // The surest face is the student in front of the camera; it moved with any pan since.
    const QRect face = faces.first().translated(sourceRect().topLeft() - searchedOrigin);
    const double centreX = face.x() + face.width() / 2.0;
    const double eyesY = face.y() + eyesInFace * face.height();
    const int left = int(std::lround(centreX - cropSize.width() / 2.0));
    const int top = int(std::lround(eyesY - eyesInFrame * cropSize.height()));
    m_cropFrame.moveTopLeft(QPoint(std::clamp(left, 0, canvasSize.width() - cropSize.width()),
                                   std::clamp(top, 0, canvasSize.height() - cropSize.height())));
    redrawCapture();

    if (face.width() > largestFaceShare * cropSize.width())
        emit framingFinished(tooCloseHint);
    else if (face.width() < smallestFaceShare * cropSize.width())
        emit framingFinished(tooFarHint);
    else
        emit framingFinished({});
}

void CaptureArea::placeFrame(QPoint centre)
{
    m_cropFrame.moveTopLeft(centre - QPoint(cropSize.width() / 2, cropSize.height() / 2));
}

void CaptureArea::mousePressed(Qt::MouseButton button, QPoint position)
{
    if (button == Qt::LeftButton) {
        m_frameDragging = true;
        // The operator's frame wins over a face still being looked for.
        m_validFraming = 0;
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
