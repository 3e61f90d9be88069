// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/VideoDevice.h"

#include "formats/graphics/Picture.h"

#include <QCamera>
#include <QMediaCaptureSession>
#include <QMediaDevices>
#include <QPainter>
#include <QPointer>
#include <QVideoSink>

#include <algorithm>
#include <utility>

VideoDevice::VideoDevice(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

VideoDevice::~VideoDevice() { dropCamera(); }

void VideoDevice::switchOn()
{
    const QString stillFile = qEnvironmentVariable("QINGHE_CAMERA_IMAGE");
    if (!stillFile.isEmpty()) {
        if (!m_stillImage.load(stillFile))
            qWarning("QINGHE_CAMERA_IMAGE: cannot read the picture %s", qPrintable(stillFile));
        update();
        return;
    }
    if (m_session)
        return;
    m_session = new QMediaCaptureSession(this);
    m_sink = new QVideoSink(this);
    m_session->setVideoSink(m_sink);
    // The sink is fed from the camera's own thread; the queued connection brings each frame here.
    connect(m_sink, &QVideoSink::videoFrameChanged, this, &VideoDevice::showFrame, Qt::QueuedConnection);
    m_devices = new QMediaDevices(this);
    connect(m_devices, &QMediaDevices::videoInputsChanged, this, &VideoDevice::takeUpCameraChanges);
    startFirstCamera();
}

QImage VideoDevice::grabFrame() const
{
    if (!m_stillImage.isNull())
        return m_stillImage;
    return m_frame.isValid() ? m_frame.toImage() : QImage();
}

void VideoDevice::startFirstCamera()
{
    const QList<QCameraDevice> cameras = QMediaDevices::videoInputs();
    if (cameras.isEmpty())
        return;
    m_camera = new QCamera(cameras.first(), this);
    if (m_camera->error() != QCamera::NoError) {
        qWarning("Camera not available: %s", qPrintable(m_camera->errorString()));
        dropCamera();
        return;
    }
    // Dropped once the camera's own signal has returned, and only if it is still the one in use.
    const QPointer<QCamera> camera = m_camera;
    connect(m_camera, &QCamera::errorOccurred, this, [this, camera](QCamera::Error, const QString& reason) {
        qWarning("Camera stopped: %s", qPrintable(reason));
        QMetaObject::invokeMethod(
            this,
            [this, camera] {
                if (camera && m_camera == camera)
                    dropCamera();
            },
            Qt::QueuedConnection);
    });
    m_session->setCamera(m_camera);
    m_camera->start();
}

void VideoDevice::dropCamera()
{
    if (!m_camera)
        return;
    QCamera* camera = std::exchange(m_camera, nullptr);
    camera->disconnect(this);
    camera->stop();
    m_session->setCamera(nullptr);
    camera->deleteLater();
    m_frame = QVideoFrame();
    update();
}

void VideoDevice::takeUpCameraChanges()
{
    if (m_camera && !QMediaDevices::videoInputs().contains(m_camera->cameraDevice()))
        dropCamera();
    if (!m_camera)
        startFirstCamera();
}

void VideoDevice::showFrame(const QVideoFrame& frame)
{
    // Frames still queued from a camera that has gone are dropped with it.
    if (!m_camera)
        return;
    m_frame = frame;
    update();
}

QString VideoDevice::statusText() const
{
    if (m_stillImage.isNull() && !m_camera)
        return QStringLiteral("没有找到摄像头");
    return {};
}

void VideoDevice::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    const QImage frame = grabFrame();
    if (frame.isNull()) {
        // A black area alone looks like a camera with its cap on.
        painter.setPen(Qt::white);
        QFont font = painter.font();
        font.setPixelSize(std::max(12, height() / 12));
        painter.setFont(font);
        painter.drawText(rect(), Qt::AlignCenter, statusText());
        return;
    }
    // The same proportions as the crop area shows, so the picture is where the operator saw it.
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setClipRect(rect());
    painter.drawImage(Picture::coverRect(frame.size(), size()), frame);
}
