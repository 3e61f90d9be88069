// SPDX-License-Identifier: GPL-3.0-or-later
#include "cards/pages/CardComposer.h"

#include "archive/Recordset.h"
#include "cards/pages/BarcodeSymbol.h"
#include "formats/graphics/PdfFinisher.h"
#include "formats/graphics/Picture.h"

#include <QFontMetricsF>
#include <QHash>
#include <QMutex>
#include <QPainter>

#include <cmath>
#include <deque>

namespace {

// Stored positions are not bounded, but QRect and the text layout overflow near the integer
// limits. Anything this far off the face is out of sight anyway; the stored value is kept.
constexpr int drawLimit = 10000;

QPointF drawable(QPoint position)
{
    return {double(std::clamp(position.x(), -drawLimit, drawLimit)),
            double(std::clamp(position.y(), -drawLimit, drawLimit))};
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

// The device pixels a rectangle of the painter's coordinates covers.
QSize devicePixels(const QPainter& painter, const QRectF& rect)
{
    const QRectF covered = painter.deviceTransform().mapRect(rect);
    const auto side = [](double length) { return int(std::clamp(std::ceil(length), 1.0, 1e6)); };
    return {side(covered.width()), side(covered.height())};
}

// A picture decoded for `device` pixels, never beyond its own: paper gets the pixels the
// picture has, the screen no more than it shows. A larger decoding is brought down to the
// device exactly, so the screen draws it without scaling.
QImage decodeFor(const QByteArray& bytes, QSize device, QString* error = nullptr)
{
    QImage image = Picture::decode(bytes, device, error);
    if (!image.isNull() && image.size() != device && image.width() >= device.width()
        && image.height() >= device.height())
        image = image.scaled(device, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image;
}

} // namespace

void drawCardText(QPainter& painter, const CardText& text, const QString& value)
{
    if (value.isEmpty())
        return;
    const QFont font = text.style.font();
    painter.setFont(font);
    painter.setPen(text.style.colour);
    const QPointF at = drawable(text.position);
    painter.drawText(QPointF(at.x(), at.y() + ideographAscent(font) * font.pixelSize()), value);
}

void drawCardBarcode(QPainter& painter, const CardBarcode& barcode, const QString& number)
{
    if (barcode.type == BarcodeType::None || number.isEmpty())
        return;
    const QSizeF size(std::clamp(barcode.box.width(), 0, drawLimit),
                      std::clamp(barcode.box.height(), 0, drawLimit));
    BarcodeSymbol::encode(barcode.type, number).paint(painter, QRectF(drawable(barcode.box.topLeft()), size));
}

CardFields CardFields::fromRecord(const Recordset& records)
{
    return {records.readText(u"姓名"), records.readText(u"班级"), records.readText(u"编号"),
            records.readBytes(u"照片")};
}

// The layout with its pictures, shared by every card composed from it. Pictures are decoded
// for the device they are drawn on and kept a while, so a PDF finds the same picture again
// and embeds it once: the background for the whole file, a photo for all its copies.
class CardDesign {
public:
    explicit CardDesign(const CardLayout& layout)
        : m_layout(layout)
    {
        // A background that is no picture, or too large a one, leaves the built-in one, as on
        // every surface. The screen's face is decoded now: every card of a sheet needs it.
        const QSize face = CardComposer::faceSize;
        QImage shown = m_layout.background.isEmpty() ? QImage() : decodeFor(m_layout.background, face);
        if (shown.isNull()) {
            m_layout.background = CardLayout::builtInBackground();
            shown = decodeFor(m_layout.background, face);
        }
        m_backgrounds.push_front({m_layout.background, face, shown});
    }

    void paint(QPainter& painter, const CardFields& fields, PdfFinisher* file) const
    {
        painter.save();
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.setRenderHint(QPainter::TextAntialiasing);
        // A PDF keeps the decoded pixels as they are instead of compressing them as JPEG again.
        painter.setRenderHint(QPainter::LosslessImageRendering);
        const QRectF face(QPointF(), CardComposer::faceSize);
        // What is placed past the edge is cut there, as the screen shows it, rather than
        // printed across the cut line onto the next card.
        painter.setClipRect(face, Qt::IntersectClip);
        drawPicture(painter, face, m_backgrounds, m_layout.background, file, 2);
        if (!fields.photo.isEmpty())
            drawPicture(painter, QRectF(drawable(m_layout.photo), CardLayout::photoSize), m_photos,
                        fields.photo, file, 16);
        if (file) {
            const QMutexLocker lock(&m_mutex);
            for (const CardText* text : {&m_layout.name, &m_layout.className, &m_layout.number})
                file->noteFont(text->style.font());
        }
        drawCardText(painter, m_layout.name, fields.name);
        drawCardText(painter, m_layout.className, fields.className);
        drawCardText(painter, m_layout.number, fields.number);
        drawCardBarcode(painter, m_layout.barcode, fields.number);
        painter.restore();
    }

    // The face's coordinates: the band lies outside (0, 0, 400, 260). Each side is its
    // background's outermost row or column of pixels stretched outwards, each corner the corner
    // pixel's colour.
    void paintBleed(QPainter& painter, const QMarginsF& bleed) const
    {
        const QRectF face(QPointF(), CardComposer::faceSize);
        const Edges edges = edgesFor(devicePixels(painter, face));
        if (edges.left.isNull())
            return;
        painter.save();
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.setRenderHint(QPainter::LosslessImageRendering);
        // Each band reaches a pixel under the face, which covers it, so no seam shows between.
        constexpr double under = 1;
        const double w = face.width();
        const double h = face.height();
        painter.drawImage(QRectF(-bleed.left(), 0, bleed.left() + under, h), edges.left);
        painter.drawImage(QRectF(w - under, 0, bleed.right() + under, h), edges.right);
        painter.drawImage(QRectF(0, -bleed.top(), w, bleed.top() + under), edges.top);
        painter.drawImage(QRectF(0, h - under, w, bleed.bottom() + under), edges.bottom);
        painter.fillRect(QRectF(-bleed.left(), -bleed.top(), bleed.left() + under, bleed.top() + under),
                         edges.corners[0]);
        painter.fillRect(QRectF(w - under, -bleed.top(), bleed.right() + under, bleed.top() + under),
                         edges.corners[1]);
        painter.fillRect(QRectF(-bleed.left(), h - under, bleed.left() + under, bleed.bottom() + under),
                         edges.corners[2]);
        painter.fillRect(QRectF(w - under, h - under, bleed.right() + under, bleed.bottom() + under),
                         edges.corners[3]);
        painter.restore();
    }

    // Why a photo shows nothing; empty when it shows. A card just composed has its answer in
    // the photos decoded last.
    QString photoProblem(const QByteArray& bytes) const
    {
        {
            const QMutexLocker lock(&m_mutex);
            for (const Decoded& d : m_photos) {
                if (d.bytes == bytes)
                    return d.image.isNull() ? d.problem : QString();
            }
        }
        QString problem;
        return Picture::decode(bytes, QSize(1, 1), &problem).isNull() ? problem : QString();
    }

private:
    struct Decoded {
        QByteArray bytes; // shares the caller's data, so comparing is mostly a pointer check
        QSize device;
        QImage image;
        QString problem; // why the image is null
    };
    using Recent = std::deque<Decoded>;

    // A file gets a JPEG that has no more pixels than the paper shows as it is; anything else
    // is drawn from its pixels, decoded for the device.
    void drawPicture(QPainter& painter, const QRectF& target, Recent& recent, const QByteArray& bytes,
                     PdfFinisher* file, size_t keep) const
    {
        const QSize device = devicePixels(painter, target);
        if (file) {
            const PdfFinisher::JpegFrame frame = PdfFinisher::jpegFrame(bytes);
            if (frame.components && frame.width <= device.width() && frame.height <= device.height()) {
                const QMutexLocker lock(&m_mutex);
                if (const QImage standIn = file->standIn(bytes); !standIn.isNull()) {
                    painter.drawImage(target, standIn);
                    return;
                }
            }
        }
        const QImage image = picture(recent, bytes, device, keep);
        if (!image.isNull())
            painter.drawImage(target, image);
    }

    QImage picture(Recent& recent, const QByteArray& bytes, QSize device, size_t keep) const
    {
        {
            const QMutexLocker lock(&m_mutex);
            for (const Decoded& d : recent) {
                if (d.device == device && d.bytes == bytes)
                    return d.image;
            }
        }
        QString problem;
        const QImage image = decodeFor(bytes, device, &problem);
        const QMutexLocker lock(&m_mutex);
        recent.push_front({bytes, device, image, problem});
        if (recent.size() > keep)
            recent.pop_back();
        return image;
    }

    struct Edges {
        QSize device;
        QImage left, right, top, bottom; // one pixel thick
        QColor corners[4];               // top left, top right, bottom left, bottom right
    };

    // Kept for the device, so a file of a thousand cards embeds each band once.
    Edges edgesFor(QSize device) const
    {
        {
            const QMutexLocker lock(&m_mutex);
            if (m_edges.device == device)
                return m_edges;
        }
        const QImage image = picture(m_backgrounds, m_layout.background, device, 2);
        Edges edges{device, {}, {}, {}, {}, {}};
        if (!image.isNull()) {
            const int r = image.width() - 1;
            const int b = image.height() - 1;
            edges.left = image.copy(0, 0, 1, image.height());
            edges.right = image.copy(r, 0, 1, image.height());
            edges.top = image.copy(0, 0, image.width(), 1);
            edges.bottom = image.copy(0, b, image.width(), 1);
            edges.corners[0] = image.pixelColor(0, 0);
            edges.corners[1] = image.pixelColor(r, 0);
            edges.corners[2] = image.pixelColor(0, b);
            edges.corners[3] = image.pixelColor(r, b);
        }
        const QMutexLocker lock(&m_mutex);
        m_edges = edges;
        return edges;
    }

    CardLayout m_layout;
    mutable QMutex m_mutex;
    mutable Edges m_edges;
    mutable Recent m_backgrounds;
    mutable Recent m_photos;
};

Card::Card(std::shared_ptr<const CardDesign> design, CardFields fields)
    : m_design(std::move(design))
    , m_fields(std::move(fields))
{
}

QSize Card::size() const { return CardComposer::faceSize; }

void Card::paint(QPainter& painter, const QRectF& target, PdfFinisher* file) const
{
    painter.save();
    painter.translate(target.topLeft());
    painter.scale(target.width() / CardComposer::faceSize.width(),
                  target.height() / CardComposer::faceSize.height());
    m_design->paint(painter, m_fields, file);
    painter.restore();
}

void Card::paintBleed(QPainter& painter, const QRectF& target, const QMarginsF& bleed) const
{
    const double x = CardComposer::faceSize.width() / target.width();
    const double y = CardComposer::faceSize.height() / target.height();
    painter.save();
    painter.translate(target.topLeft());
    painter.scale(1 / x, 1 / y);
    m_design->paintBleed(painter,
                         QMarginsF(bleed.left() * x, bleed.top() * y, bleed.right() * x, bleed.bottom() * y));
    painter.restore();
}

CardComposer::CardComposer(const CardLayout& layout)
    : m_design(std::make_shared<const CardDesign>(layout))
{
}

QImage CardComposer::compose(const CardFields& fields) const
{
    QImage face(faceSize, QImage::Format_RGB32);
    face.fill(Qt::white);
    QPainter painter(&face);
    paint(painter, fields, nullptr);
    return face;
}

std::shared_ptr<const Card> CardComposer::card(const CardFields& fields) const
{
    return std::make_shared<const Card>(m_design, fields);
}

QString CardComposer::photoProblem(const CardFields& fields) const
{
    return fields.photo.isEmpty() ? QString() : m_design->photoProblem(fields.photo);
}

void CardComposer::paint(QPainter& painter, const CardFields& fields, PdfFinisher* file) const
{
    m_design->paint(painter, fields, file);
}
