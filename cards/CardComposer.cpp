// SPDX-License-Identifier: GPL-3.0-or-later
#include "cards/CardComposer.h"

#include "platform/Picture.h"
#include "platform/Recordset.h"

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

void writeText(QPainter& painter, const CardText& text, const QString& value)
{
    if (value.isEmpty())
        return;
    painter.setFont(text.style.font());
    painter.setPen(text.style.colour);
    painter.drawText(QRect(text.position, QSize(1, 1)),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextDontClip, value);
}

} // namespace

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
    writeText(painter, m_layout.name, fields.name);
    writeText(painter, m_layout.className, fields.className);
    writeText(painter, m_layout.number, fields.number);
    return face;
}
