// SPDX-License-Identifier: GPL-3.0-or-later
#include "cards/CardComposer.h"

#include "platform/Picture.h"
#include "platform/Recordset.h"

#include <QFontMetricsF>
#include <QHash>
#include <QMutex>
#include <QPainter>

namespace {

// A photo of any size, decoded straight to its frame; a null image when the bytes are no
// picture or too large to decode.
QImage framedPhoto(const QByteArray& bytes)
{
    QImage photo = Picture::decode(bytes, CardLayout::photoSize);
    if (!photo.isNull() && photo.size() != CardLayout::photoSize)
        photo = photo.scaled(CardLayout::photoSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return photo;
}

// How far below its top an ideograph's baseline lies, as a share of the font's size, measured
// on the face itself at a size where hinting does not round it.
qreal ideographAscent(const QFont& font)
{
    // Cards are composed on several threads, each with the same few styles.
    static QMutex mutex;
    static QHash<QString, qreal> known;
    QFont large(font);
    large.setPixelSize(1000);
    const QString key = large.key();
    {
        const QMutexLocker lock(&mutex);
        if (const auto it = known.constFind(key); it != known.cend())
            return *it;
    }
    const QFontMetricsF metrics(large);
    const QRectF ink = metrics.tightBoundingRect(QStringLiteral("中"));
    const qreal ascent = (ink.isEmpty() ? metrics.ascent() : -ink.top()) / 1000;
    const QMutexLocker lock(&mutex);
    known.insert(key, ascent);
    return ascent;
}

} // namespace

void drawCardText(QPainter& painter, const CardText& text, const QString& value)
{
    if (value.isEmpty())
        return;
    const QFont font = text.style.font();
    painter.setFont(font);
    painter.setPen(text.style.colour);
    painter.drawText(QPointF(text.position.x(), text.position.y() + ideographAscent(font) * font.pixelSize()),
                     value);
}

CardFields CardFields::fromRecord(const Recordset& records)
{
    return {records.readText(u"姓名"), records.readText(u"班级"), records.readText(u"编号"),
            records.readBytes(u"照片")};
}

CardComposer::CardComposer(const CardLayout& layout)
    : m_layout(layout)
    , m_background(layout.backgroundPicture(faceSize).scaled(faceSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation))
{
    m_layout.background.clear(); // the picture above is all that is needed of it
}

QImage CardComposer::compose(const CardFields& fields) const
{
    QImage face(faceSize, QImage::Format_RGB32);
    face.fill(Qt::white);
    QPainter painter(&face);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.drawImage(0, 0, m_background);
    const QImage photo = framedPhoto(fields.photo);
    if (!photo.isNull())
        painter.drawImage(m_layout.photo, photo);
    drawCardText(painter, m_layout.name, fields.name);
    drawCardText(painter, m_layout.className, fields.className);
    drawCardText(painter, m_layout.number, fields.number);
    return face;
}
