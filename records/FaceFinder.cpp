// SPDX-License-Identifier: GPL-3.0-or-later
#include "records/FaceFinder.h"

#include <QFile>
#include <QImage>

#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include <algorithm>
#include <utility>

FaceFinder::FaceFinder(QString cascadeFile)
    : m_cascadeFile(std::move(cascadeFile))
{
}

FaceFinder::~FaceFinder() = default;

QString FaceFinder::defaultCascadeFile() { return QStringLiteral(QINGHE_FACE_CASCADE); }

bool FaceFinder::load()
{
    if (!m_loadTried) {
        m_loadTried = true;
        auto cascade = std::make_unique<cv::CascadeClassifier>();
        // OpenCV prints to stderr and may throw on a broken file; a missing one is just empty.
        try {
            if (QFile::exists(m_cascadeFile) && cascade->load(QFile::encodeName(m_cascadeFile).toStdString()))
                m_cascade = std::move(cascade);
        } catch (const cv::Exception&) {
        }
    }
    return m_cascade != nullptr;
}

bool FaceFinder::usable()
{
    const std::lock_guard lock(m_mutex);
    return load();
}

QList<QRect> FaceFinder::find(const QImage& picture, int smallest, double scaleStep)
{
    const std::lock_guard lock(m_mutex);
    if (picture.isNull() || !load())
        return {};
    QImage grey = picture.convertToFormat(QImage::Format_Grayscale8);
    cv::Mat pixels(grey.height(), grey.width(), CV_8UC1, grey.bits(), size_t(grey.bytesPerLine()));
    // Evens out a face in a dim room or against a window, which the cascade would miss.
    cv::equalizeHist(pixels, pixels);
    std::vector<cv::Rect> found;
    std::vector<int> sightings;
    // A face is seen at many neighbouring places and scales; a patch of hair, a shirt's
    // fold or a cup's rim that happens to look like one, at a few.
    constexpr int fewestSightings = 5;
    try {
        m_cascade->detectMultiScale(pixels, found, sightings, scaleStep, fewestSightings, 0,
                                    cv::Size(smallest, smallest));
    } catch (const cv::Exception&) {
        return {};
    }
    std::vector<size_t> order(found.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(),
              [&sightings](size_t a, size_t b) { return sightings[a] > sightings[b]; });
    QList<QRect> faces;
    for (const size_t i : order)
        faces.append(QRect(found[i].x, found[i].y, found[i].width, found[i].height));
    return faces;
}
