// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Picture.h"

#include <QBuffer>
#include <QImageReader>

#include <algorithm>
#include <cmath>

namespace Picture {

namespace {

// The smallest size of at least `drawSize` in both directions with the picture's own shape.
QSize decodeSize(QSize own, QSize drawSize)
{
    if (drawSize.isEmpty() || (own.width() <= drawSize.width() && own.height() <= drawSize.height()))
        return own;
    const double factor = std::min(1.0, std::max(double(drawSize.width()) / own.width(),
                                                 double(drawSize.height()) / own.height()));
    return QSize(std::max(1, int(std::ceil(own.width() * factor))), std::max(1, int(std::ceil(own.height() * factor))));
}

bool fail(QString* error, const QString& reason)
{
    if (error)
        *error = reason;
    return false;
}

} // namespace

QRect coverRect(QSize picture, QSize area)
{
    if (picture.isEmpty() || area.isEmpty())
        return {};
    const double scale = std::max(double(area.width()) / picture.width(), double(area.height()) / picture.height());
    const QSize covering(std::max(area.width(), int(std::lround(picture.width() * scale))),
                         std::max(area.height(), int(std::lround(picture.height() * scale))));
    return QRect(QPoint((area.width() - covering.width()) / 2, (area.height() - covering.height()) / 2), covering);
}

QSize sizeOf(const QByteArray& bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer);
    return reader.canRead() ? reader.size() : QSize();
}

QImage decode(const QByteArray& bytes, QSize drawSize, QString* error)
{
    if (bytes.isEmpty()) {
        fail(error, QStringLiteral("不是图片文件"));
        return {};
    }
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer);
    const QSize own = reader.canRead() ? reader.size() : QSize();
    if (!own.isValid() || own.isEmpty()) {
        fail(error, QStringLiteral("不是图片文件"));
        return {};
    }
    const bool jpeg = reader.format() == "jpeg";
    const qint64 pixels = qint64(own.width()) * own.height();
    if (pixels > (jpeg ? maxJpegPixels : maxWholePixels)) {
        fail(error, QStringLiteral("图片太大（%1 × %2 像素），请换一张较小的图片").arg(own.width()).arg(own.height()));
        return {};
    }

    const QSize target = decodeSize(own, drawSize);
    // JPEG decodes straight at a fraction of its size; the rest are decoded whole, then scaled.
    if (jpeg && target != own)
        reader.setScaledSize(target);
    // The limits above are ours; Qt's own (128 MB) would refuse a large photo decoded whole.
    reader.setAllocationLimit(1024);
    QImage image = reader.read();
    if (image.isNull()) {
        fail(error, QStringLiteral("图片文件已损坏，无法读取"));
        return {};
    }
    if (image.size() != target)
        image = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image;
}

} // namespace Picture
