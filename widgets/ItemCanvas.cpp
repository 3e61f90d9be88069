// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/ItemCanvas.h"

#include "formats/graphics/Picture.h"

#include <QFontMetricsF>
#include <QGraphicsItem>
#include <QGraphicsScene>
#include <QMouseEvent>
#include <QPainter>

class TextItem final : public QGraphicsItem {
public:
    TextItem(int id, const QString& text, const QFont& font, const QColor& colour)
        : m_id(id)
        , m_text(text)
        , m_font(font)
        , m_colour(colour)
    {
        setZValue(id); // a newer text lies over the older ones
    }

    int id() const { return m_id; }
    const QString& text() const { return m_text; }
    const QFont& font() const { return m_font; }
    const QColor& colour() const { return m_colour; }
    int brightness() const { return m_brightness; }
    QString tag;

    void setLook(const QString& text, const QFont& font, const QColor& colour)
    {
        prepareGeometryChange();
        m_text = text;
        m_font = font;
        m_colour = colour;
    }

    void setBrightness(int amount)
    {
        m_brightness = amount;
        update();
    }

    QRectF boundingRect() const override
    {
        const QFontMetricsF metrics(m_font);
        // Italic strokes and some faces reach beyond the advance.
        return QRectF(0, 0, metrics.horizontalAdvance(m_text), metrics.height())
            .united(metrics.boundingRect(m_text).translated(0, metrics.ascent()));
    }

    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override
    {
        // Shifting the background behind the text too keeps the mark visible on black text.
        if (m_brightness != 0)
            painter->fillRect(boundingRect(), m_brightness < 0
                                                  ? QColor(0, 0, 0, std::min(-m_brightness, 255))
                                                  : QColor(255, 255, 255, std::min(m_brightness, 255)));
        const auto shift = [this](int channel) { return std::clamp(channel + m_brightness, 0, 255); };
        painter->setFont(m_font);
        painter->setPen(QColor(shift(m_colour.red()), shift(m_colour.green()), shift(m_colour.blue())));
        painter->drawText(QPointF(0, QFontMetricsF(m_font).ascent()), m_text);
    }

private:
    int m_id;
    QString m_text;
    QFont m_font;
    QColor m_colour;
    int m_brightness = 0;
};

ItemCanvas::ItemCanvas(QWidget* parent)
    : QGraphicsView(parent)
    , m_scene(new QGraphicsScene(0, 0, canvasSize.width(), canvasSize.height(), this))
{
    setScene(m_scene);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing | QPainter::SmoothPixmapTransform);
    resize(canvasSize);
    setBackground({});
}

ItemCanvas::~ItemCanvas() = default;

int ItemCanvas::createItem(const QString& text, const QFont& font, const QColor& colour, QPoint position)
{
    auto* item = new TextItem(++m_lastId, text, font, colour);
    item->setPos(position);
    m_scene->addItem(item);
    m_items.insert(item->id(), item);
    return item->id();
}

void ItemCanvas::deleteItem(int id)
{
    if (m_drag.id == id)
        m_drag = {};
    delete m_items.take(id);
}

QList<int> ItemCanvas::items() const
{
    QList<int> ids = m_items.keys();
    std::sort(ids.begin(), ids.end());
    return ids;
}

int ItemCanvas::itemAt(QPoint position) const
{
    for (QGraphicsItem* found : m_scene->items(position, Qt::IntersectsItemBoundingRect)) {
        if (auto* text = dynamic_cast<TextItem*>(found))
            return text->id();
    }
    return 0;
}

TextItem* ItemCanvas::item(int id) const { return m_items.value(id); }

QString ItemCanvas::text(int id) const
{
    const TextItem* found = item(id);
    return found ? found->text() : QString();
}

void ItemCanvas::setText(int id, const QString& text)
{
    if (TextItem* found = item(id))
        found->setLook(text, found->font(), found->colour());
}

void ItemCanvas::setText(int id, const QString& text, const QFont& font, const QColor& colour)
{
    if (TextItem* found = item(id))
        found->setLook(text, font, colour);
}

QFont ItemCanvas::itemFont(int id) const
{
    const TextItem* found = item(id);
    return found ? found->font() : QFont();
}

QColor ItemCanvas::colour(int id) const
{
    const TextItem* found = item(id);
    return found ? found->colour() : QColor();
}

QString ItemCanvas::tag(int id) const
{
    const TextItem* found = item(id);
    return found ? found->tag : QString();
}

void ItemCanvas::setTag(int id, const QString& tag)
{
    if (TextItem* found = item(id))
        found->tag = tag;
}

QPoint ItemCanvas::position(int id) const
{
    const TextItem* found = item(id);
    return found ? found->pos().toPoint() : QPoint();
}

QRect ItemCanvas::bounds(int id) const
{
    const TextItem* found = item(id);
    return found ? found->sceneBoundingRect().toAlignedRect() : QRect();
}

void ItemCanvas::moveItem(int id, QPoint position)
{
    if (TextItem* found = item(id))
        found->setPos(position);
}

void ItemCanvas::adjustBrightness(int id, int amount)
{
    if (TextItem* found = item(id))
        found->setBrightness(found->brightness() + amount);
}

int ItemCanvas::brightness(int id) const
{
    const TextItem* found = item(id);
    return found ? found->brightness() : 0;
}

void ItemCanvas::setBackground(const QByteArray& picture)
{
    QImage image = Picture::decode(picture, canvasSize);
    if (image.isNull()) {
        m_background.clear();
        m_scene->setBackgroundBrush(Qt::white);
        return;
    }
    // Kept as given, so a larger picture is taken from its own pixels.
    m_background = picture;
    // One tile the size of the scene, laid from the scene's origin, covers it exactly once.
    image = image.scaled(canvasSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    m_scene->setBackgroundBrush(QBrush(image));
}

QImage ItemCanvas::takePicture(const QRect& area, QSize size) const
{
    if (size.isEmpty())
        size = area.size();
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(Qt::white);
    if (area.isEmpty())
        return picture;
    QList<std::pair<TextItem*, int>> marked;
    for (TextItem* text : m_items) {
        if (text->brightness() != 0) {
            marked.append({text, text->brightness()});
            text->setBrightness(0);
        }
    }
    {
        QPainter painter(&picture);
        painter.setRenderHints(renderHints());
        const double sx = double(size.width()) / area.width();
        const double sy = double(size.height()) / area.height();
        // The background from the picture's own pixels and the texts as outlines, each at the
        // size asked for, rather than the screen's picture enlarged.
        const QRectF canvas(-area.x() * sx, -area.y() * sy, canvasSize.width() * sx,
                            canvasSize.height() * sy);
        const QImage background = Picture::decode(m_background, canvas.size().toSize());
        if (!background.isNull())
            painter.drawImage(canvas, background);
        const QBrush brush = m_scene->backgroundBrush();
        m_scene->setBackgroundBrush(Qt::NoBrush);
        m_scene->render(&painter, QRectF(picture.rect()), QRectF(area), Qt::IgnoreAspectRatio);
        m_scene->setBackgroundBrush(brush);
    }
    for (const auto& [text, amount] : marked)
        text->setBrightness(amount);
    return picture;
}

void ItemCanvas::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPointF at = mapToScene(event->position().toPoint());
    const int id = itemAt(at.toPoint());
    if (id == 0)
        return;
    m_drag = {id, at - item(id)->pos(), false};
}

void ItemCanvas::mouseMoveEvent(QMouseEvent* event)
{
    TextItem* dragged = item(m_drag.id);
    if (!dragged)
        return;
    // The grip stays on the canvas, so a text can hang over an edge but never be lost past it.
    const QRectF bounds = m_scene->sceneRect().adjusted(0, 0, -1, -1);
    const QPointF at = mapToScene(event->position().toPoint());
    const QPointF grip(std::clamp(at.x(), bounds.left(), bounds.right()),
                       std::clamp(at.y(), bounds.top(), bounds.bottom()));
    const QPointF topLeft = (grip - m_drag.grab).toPoint();
    if (topLeft != dragged->pos()) {
        dragged->setPos(topLeft);
        m_drag.moved = true;
    }
}

void ItemCanvas::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    // A text dragged somewhere is moved, not clicked: dragging leaves the selection alone.
    const Drag drag = std::exchange(m_drag, {});
    if (const TextItem* released = item(drag.id)) {
        if (drag.moved)
            emit itemDropped(released->pos().toPoint(), drag.id);
        else
            emit itemClicked(drag.id);
    }
}

void ItemCanvas::mouseDoubleClickEvent(QMouseEvent* event) { mousePressEvent(event); }
