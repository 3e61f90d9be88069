// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QList>
#include <QRect>
#include <QString>

#include <memory>
#include <mutex>

namespace cv {
class CascadeClassifier;
}

// Frontal faces in a picture, found by OpenCV's cascade detector with the trained cascade
// Debian ships in opencv-data. The cascade is loaded at the first search, not before, so
// opening the window costs nothing; one finder may be shared between threads, which then
// take turns.
class FaceFinder {
public:
    explicit FaceFinder(QString cascadeFile = defaultCascadeFile());
    ~FaceFinder();
    FaceFinder(const FaceFinder&) = delete;
    FaceFinder& operator=(const FaceFinder&) = delete;

    static QString defaultCascadeFile();

    // Faces of at least `smallest` pixels across, in the picture's own pixels, the surest
    // first. Empty, with `usable()` false afterwards, when the cascade cannot be loaded.
    // Sizes are tried `scaleStep` apart: a finer step measures a face more closely, and
    // costs more.
    QList<QRect> find(const QImage& picture, int smallest, double scaleStep = 1.15);
    bool usable();

private:
    bool load();

    const QString m_cascadeFile;
    std::mutex m_mutex;
    std::unique_ptr<cv::CascadeClassifier> m_cascade;
    bool m_loadTried = false;
};
