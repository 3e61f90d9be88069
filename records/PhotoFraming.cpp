// SPDX-License-Identifier: GPL-3.0-or-later
#include "records/PhotoFraming.h"

#include "records/FaceFinder.h"
#include "records/Head.h"

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <map>

namespace PhotoFraming {

namespace {

// The finder's time grows with the pixels it looks at, and a portrait's face needs few of
// them: a quick look for a face of a fifth of the picture or more first, and a closer one for
// smaller faces only when that finds nothing, so a face too small is told as such.
// Sizes are tried 10 % apart where the camera's framing tries 15 %: a framed head then
// measures within several per cent of where it was put, inside the bands of every standard.
struct Search {
    int side;
    int smallestShare; // the smallest face looked for, as a part of the shorter side
    double scaleStep;
};
constexpr Search quickSearch{160, 5, 1.1};
constexpr Search closeSearch{320, 16, 1.1};
constexpr int fewestFacePixels = 18;
constexpr int lowestQuality = 60;
constexpr int highestQuality = 100;
// Where the entry station puts a face, as shares of the frame.
constexpr double archiveFaceShare = 0.42;
constexpr double archiveEyesShare = 0.45;

QString problemText(Problem problem, const PhotoStandard& standard, double needed = 0)
{
    switch (problem) {
    case Problem::NoFace:
        return QStringLiteral("照片里没有找到人脸");
    case Problem::FaceTooSmall:
        return QStringLiteral("脸太小：要放大 %1 倍才够%2规格，最多只能放大 %3 倍")
            .arg(needed, 0, 'f', 2)
            .arg(standard.name)
            .arg(largestUpscale);
    case Problem::FaceTooLarge:
        return QStringLiteral("脸太大或离边太近：照片里头部周围留的地方不够%1规格").arg(standard.name);
    case Problem::BackgroundNotPlain:
        return QStringLiteral("背景不是纯色（颜色差异 %1，超过 %2）")
            .arg(needed, 0, 'f', 0)
            .arg(plainBackgroundSpread);
    case Problem::SizeUnreachable:
        break;
    }
    return QStringLiteral("文件大小达不到 %1-%2KB").arg(standard.smallestKB).arg(standard.largestKB);
}

// The part `crop` of the picture (in its pixels, reaching past its edges where it must, blank
// there) at `size`.
QImage cut(const QImage& picture, QRectF crop, QSize size)
{
    const QRect whole = crop.toAlignedRect();
    QImage part;
    if (picture.rect().contains(whole)) {
        part = picture.copy(whole);
    } else {
        part = QImage(whole.size(), QImage::Format_RGB32);
        part.fill(Qt::white);
        QPainter painter(&part);
        painter.drawImage(-whole.topLeft(), picture);
    }
    // The scale is that of the aligned part; its sub-pixel offset is below what a face shows.
    return part.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_RGB32);
}

// How far the colours spread over the strips above and beside the head of a framed photo.
double backgroundSpread(const QImage& picture, const Head& head)
{
    const int w = picture.width();
    const int topStrip = std::clamp(int(head.hairTop() * 0.6), 0, picture.height());
    // Beside the head on both sides, whichever is nearer to it when the head is off the middle.
    const double besideHead = std::min(head.centreX, w - head.centreX) - 0.75 * head.faceWidth;
    const int side = std::clamp(int(std::min(0.12 * w, besideHead)), 0, w / 2);
    const int sideRows = std::clamp(int(head.eyes), 0, picture.height());
    double sum[3] = {}, squares[3] = {};
    qint64 count = 0;
    const auto take = [&](int x, int y) {
        const QRgb c = picture.pixel(x, y);
        const int v[3] = {qRed(c), qGreen(c), qBlue(c)};
        for (int i = 0; i < 3; ++i) {
            sum[i] += v[i];
            squares[i] += double(v[i]) * v[i];
        }
        ++count;
    };
    for (int y = 0; y < topStrip; y += 2)
        for (int x = 0; x < w; x += 2)
            take(x, y);
    for (int y = topStrip; y < sideRows; y += 2)
        for (int x = 0; x < side; x += 2) {
            take(x, y);
            take(w - 1 - x, y);
        }
    if (count < 50)
        return 0;
    double spread = 0;
    for (int i = 0; i < 3; ++i) {
        const double mean = sum[i] / double(count);
        spread = std::max(spread, std::sqrt(std::max(0.0, squares[i] / double(count) - mean * mean)));
    }
    return spread;
}

struct Frame {
    QRectF crop;
    double scale = 0;
};

// The crop that puts the head where the standard asks, keeping inside the photo: the face's
// width is tried from the middle of its band outwards, and the eyes go as near the middle of
// what the bands allow as the photo's edges let them.
std::optional<Frame> placeHead(const Head& head, QSize photo, const PhotoStandard& standard, Problem* why)
{
    const PhotoStandard::Placement p = standard.placement();
    const QSizeF out = standard.pixels;
    std::vector<double> widths;
    constexpr int steps = 24;
    for (int i = 0; i <= steps; ++i)
        widths.push_back(p.faceWidth.low + (p.faceWidth.high - p.faceWidth.low) * i / steps);
    std::stable_sort(widths.begin(), widths.end(), [&](double a, double b) {
        return qAbs(a - p.faceWidth.middle()) < qAbs(b - p.faceWidth.middle());
    });
    *why = Problem::FaceTooLarge;
    if (p.faceWidth.low / head.faceWidth > largestUpscale)
        *why = Problem::FaceTooSmall;
    for (const double width : widths) {
        const double s = width / head.faceWidth;
        if (s > largestUpscale)
            continue;
        const QSizeF crop = out / s;
        if (crop.width() > photo.width() + 0.5 || crop.height() > photo.height() + 0.5)
            continue;
        // Eyes rows (in the standard's pixels) that satisfy both the eyes and the hair bands...
        const double eyesToHair = Head::hairAboveEyes * width;
        const double low = std::max(p.eyes.low, p.hairTop.low + eyesToHair);
        const double high = std::min(p.eyes.high, p.hairTop.high + eyesToHair);
        // ...and keep the crop inside the photo.
        const double inLow = std::max(low, (head.eyes - (photo.height() - crop.height())) * s);
        const double inHigh = std::min(high, head.eyes * s);
        if (low > high || inLow > inHigh)
            continue;
        const double eyes = std::clamp((low + high) / 2, inLow, inHigh);
        const double left =
            std::clamp(head.centreX - crop.width() / 2, 0.0, std::max(0.0, photo.width() - crop.width()));
        // A face pushed off the middle by the photo's edge still has to be whole in the frame.
        if (head.centreX - head.faceWidth / 2 < left
            || head.centreX + head.faceWidth / 2 > left + crop.width())
            continue;
        return Frame{QRectF(QPointF(left, head.eyes - eyes / s), crop), s};
    }
    return std::nullopt;
}

// The best that can be done when the standard cannot be met: the middle of every band, at
// no more than the largest enlargement.
Frame middleFrame(const Head& head, const PhotoStandard& standard)
{
    const PhotoStandard::Placement p = standard.placement();
    const double s = std::min(p.faceWidth.middle() / head.faceWidth, largestUpscale);
    const QSizeF crop = QSizeF(standard.pixels) / s;
    const double eyes = (std::max(p.eyes.low, p.hairTop.low + Head::hairAboveEyes * p.faceWidth.middle())
                         + std::min(p.eyes.high, p.hairTop.high + Head::hairAboveEyes * p.faceWidth.middle()))
                        / 2;
    return {QRectF(QPointF(head.centreX - crop.width() / 2, head.eyes - eyes / s), crop), s};
}

} // namespace

FaceFinder& threadFinder()
{
    thread_local FaceFinder finder;
    return finder;
}

std::optional<QRect> findFace(FaceFinder& finder, const QImage& picture)
{
    if (picture.isNull())
        return std::nullopt;
    for (const Search& search : {quickSearch, closeSearch}) {
        const double reduce =
            std::min(1.0, double(search.side) / std::max(picture.width(), picture.height()));
        const QImage searched = reduce < 1 ? picture.scaled(picture.size() * reduce, Qt::KeepAspectRatio,
                                                            Qt::SmoothTransformation)
                                           : picture;
        const int smallest =
            std::max(fewestFacePixels, std::min(searched.width(), searched.height()) / search.smallestShare);
        const QList<QRect> faces = finder.find(searched, smallest, search.scaleStep);
        if (!faces.isEmpty()) {
            const QRect f = faces.first();
            return QRectF(f.x() / reduce, f.y() / reduce, f.width() / reduce, f.height() / reduce).toRect();
        }
    }
    return std::nullopt;
}

QImage upright(const QImage& picture, const QByteArray& bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QImageIOHandler::Transformations turn = reader.transformation();
    if (turn == QImageIOHandler::TransformationNone)
        return picture;
    // Mirrored first, then turned a quarter clockwise: the order EXIF's eight cases unfold in.
    QImage image = picture.mirrored(turn & QImageIOHandler::TransformationMirror,
                                    turn & QImageIOHandler::TransformationFlip);
    if (turn & QImageIOHandler::TransformationRotate90)
        image = image.transformed(QTransform().rotate(90));
    return image;
}

QByteArray jpeg(const QImage& picture, int quality, int dpi)
{
    QImage image = picture;
    // Qt writes the JFIF density in dots per inch from the picture's dots per metre.
    image.setDotsPerMeterX(qRound(dpi / 0.0254));
    image.setDotsPerMeterY(qRound(dpi / 0.0254));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    writer.write(image);
    return bytes;
}

StandardPhoto toStandard(FaceFinder& finder, const QImage& photo, const PhotoStandard& standard, bool force)
{
    StandardPhoto result;
    const auto fail = [&](Problem problem, double figure = 0) {
        result.problems << problem;
        result.reasons << problemText(problem, standard, figure);
    };
    const std::optional<QRect> face = findFace(finder, photo);
    Head head;
    Frame frame;
    if (!face) {
        fail(Problem::NoFace);
        if (!force)
            return result;
        // Nothing to frame by: the middle of the photo, cut to the standard's shape.
        const QSizeF crop = QSizeF(standard.pixels).scaled(QSizeF(photo.size()), Qt::KeepAspectRatio);
        frame = {
            QRectF(QPointF((photo.width() - crop.width()) / 2, (photo.height() - crop.height()) / 2), crop),
            standard.pixels.width() / crop.width()};
    } else {
        head = Head::of(*face);
        Problem why = Problem::FaceTooLarge;
        if (const std::optional<Frame> placed = placeHead(head, photo.size(), standard, &why)) {
            frame = *placed;
        } else {
            fail(why, standard.placement().faceWidth.low / head.faceWidth);
            if (!force)
                return result;
            frame = middleFrame(head, standard);
        }
    }
    result.picture = cut(photo, frame.crop, standard.pixels);

    if (face) {
        const Head framed{(head.centreX - frame.crop.left()) * frame.scale,
                          (head.eyes - frame.crop.top()) * frame.scale, head.faceWidth * frame.scale};
        result.backgroundSpread = backgroundSpread(result.picture, framed);
        if (result.backgroundSpread > plainBackgroundSpread) {
            fail(Problem::BackgroundNotPlain, result.backgroundSpread);
            if (!force)
                return result;
        }
    }

    // The highest quality whose file fits under the largest size; sizes grow with quality.
    std::map<int, QByteArray> encoded;
    const auto at = [&](int quality) -> const QByteArray& {
        auto [it, added] = encoded.try_emplace(quality);
        if (added)
            it->second = jpeg(result.picture, quality, standard.dpi);
        return it->second;
    };
    int quality = lowestQuality;
    if (at(lowestQuality).size() <= standard.largestBytes()) {
        int low = lowestQuality;
        int high = highestQuality;
        while (low < high) {
            const int middle = (low + high + 1) / 2;
            if (at(middle).size() <= standard.largestBytes())
                low = middle;
            else
                high = middle - 1;
        }
        quality = low;
    }
    const QByteArray& bytes = at(quality);
    if (bytes.size() > standard.largestBytes() || bytes.size() < standard.smallestBytes()) {
        fail(Problem::SizeUnreachable);
        result.reasons.back() +=
            QStringLiteral("（质量 %1 时是 %2KB）").arg(quality).arg(bytes.size() / 1024.0, 0, 'f', 1);
        if (!force)
            return result;
    }
    result.quality = quality;
    result.jpeg = bytes;
    return result;
}

QImage forArchive(FaceFinder& finder, const QImage& picture)
{
    const std::optional<QRect> face = findFace(finder, picture);
    if (!face)
        return {};
    const Head head = Head::of(*face);
    const QSizeF out = archivePhotoSize;
    const double s = archiveFaceShare * out.width() / head.faceWidth;
    const QSizeF crop = out / s;
    QPointF topLeft(head.centreX - crop.width() / 2, head.eyes - archiveEyesShare * crop.height());
    // Within the picture where it is large enough, so no blank edge shows; the face moves a
    // little off the middle instead.
    if (crop.width() <= picture.width())
        topLeft.setX(std::clamp(topLeft.x(), 0.0, picture.width() - crop.width()));
    if (crop.height() <= picture.height())
        topLeft.setY(std::clamp(topLeft.y(), 0.0, picture.height() - crop.height()));
    return cut(picture, QRectF(topLeft, crop), archivePhotoSize);
}

} // namespace PhotoFraming
