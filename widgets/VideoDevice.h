// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QVideoFrame>
#include <QWidget>

class QCamera;
class QMediaCaptureSession;
class QMediaDevices;
class QVideoSink;

// The live picture of the first camera, and its current frame on request. When the
// environment names a picture file in QINGHE_CAMERA_IMAGE, that picture stands in for the
// camera, so the program can be tried and tested on machines without one.
//
// A camera that fails or is unplugged leaves the words "没有找到摄像头" and the program carries on;
// one plugged in later is taken up. Nothing here waits for a camera: frames arrive as the
// camera delivers them.
class VideoDevice : public QWidget {
    Q_OBJECT
public:
    explicit VideoDevice(QWidget* parent = nullptr);
    ~VideoDevice() override;

    void switchOn();
    // The picture on show now; a null image when there is none.
    QImage grabFrame() const;
    // What the area says instead of a picture: that there is no camera, or nothing.
    QString statusText() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void startFirstCamera();
    void dropCamera();
    void takeUpCameraChanges();
    void showFrame(const QVideoFrame& frame);

    QImage m_stillImage;
    QMediaDevices* m_devices = nullptr;
    QMediaCaptureSession* m_session = nullptr;
    QVideoSink* m_sink = nullptr;
    QCamera* m_camera = nullptr;
    QVideoFrame m_frame;
};
