// SPDX-License-Identifier: GPL-3.0-or-later
#include "cards/CardSurface.h"

#include "cards/pages/BarcodeSymbol.h"
#include "cards/pages/CardComposer.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>

CardTextLabel::CardTextLabel(QWidget* parent)
    : QWidget(parent)
{
    fitToText();
}

void CardTextLabel::setText(const QString& text)
{
    m_text = text;
    fitToText();
    update();
}

void CardTextLabel::setStyle(const TextStyle& style)
{
    m_style = style;
    fitToText();
    update();
}

void CardTextLabel::fitToText()
{
    const QFont font = m_style.font();
    const QFontMetricsF metrics(font);
    // Italic strokes lean past the advance; the line height covers the descenders below the
    // ideographs, which start at the top.
    const qreal lean = font.italic() ? font.pixelSize() / 4.0 : 0;
    resize(int(std::ceil(metrics.horizontalAdvance(m_text) + lean)), int(std::ceil(metrics.height())));
}

void CardTextLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    drawCardText(painter, {QPoint(0, 0), m_style}, m_text);
}

CardBarcodeLabel::CardBarcodeLabel(QWidget* parent)
    : QWidget(parent)
{
}

void CardBarcodeLabel::setType(BarcodeType type)
{
    m_type = type;
    update();
}

QSize CardBarcodeLabel::sizeFor(QSize asked) const { return CardBarcode{m_type, geometry()}.sizeFor(asked); }

void CardBarcodeLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    BarcodeSymbol::encode(m_type, sampleNumber).paint(painter, rect());
    const QRect grip(width() - gripSize, height() - gripSize, gripSize, gripSize);
    painter.fillRect(grip, palette().color(QPalette::Highlight));
}

CardSurface::CardSurface(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setPicture(QByteArray());
}

CardSurface::~CardSurface() = default;

void CardSurface::setPicture(const QByteArray& picture)
{
    CardLayout background;
    background.background = picture;
    m_face = std::make_unique<CardComposer>(background);
    m_picture = m_face->compose({});
    update();
}

void CardSurface::setPicture(const QImage& picture)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    // Lossless and quick: the canvas is photographed after every change on it.
    picture.save(&buffer, "PNG", 100);
    setPicture(bytes);
}

void CardSurface::addElement(CardElement element, QWidget* widget, bool sizeable)
{
    m_elements.insert(widget, element);
    if (sizeable)
        m_sizeable.append(widget);
    widget->installEventFilter(this);
}

void CardSurface::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Mid));
    // Drawn for the screen's own pixels, as for a printer's.
    m_face->paint(painter, {});
}

bool CardSurface::eventFilter(QObject* watched, QEvent* event)
{
    auto* widget = qobject_cast<QWidget*>(watched);
    const auto element = m_elements.constFind(widget);
    if (element == m_elements.cend())
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton)
            return false;
        const QPointF at = mouse->position();
        const bool grip = m_sizeable.contains(widget)
                          && at.x() >= widget->width() - CardBarcodeLabel::gripSize
                          && at.y() >= widget->height() - CardBarcodeLabel::gripSize;
        m_drag = {widget, grip ? at - QPointF(widget->width(), widget->height()) : at, grip};
        return true;
    }
    case QEvent::MouseMove: {
        if (m_drag.widget != widget)
            return false;
        // As a window dragged by its caption: the pointer is held on the surface.
        const QPointF at = widget->mapTo(this, static_cast<QMouseEvent*>(event)->position());
        const QPointF grip(std::clamp<qreal>(at.x(), 0, width() - 1),
                           std::clamp<qreal>(at.y(), 0, height() - 1));
        if (m_drag.sizing) {
            const QPointF corner = grip - m_drag.grab - QPointF(widget->pos());
            const QSize asked(int(corner.x()), int(corner.y()));
            const auto* code = qobject_cast<CardBarcodeLabel*>(widget);
            widget->resize(code ? code->sizeFor(asked) : asked);
        } else {
            widget->move((grip - m_drag.grab).toPoint());
        }
        return true;
    }
    case QEvent::MouseButtonRelease: {
        if (m_drag.widget != widget || static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton)
            return false;
        if (std::exchange(m_drag, {}).sizing)
            emit elementResized(*element, widget->size());
        else
            emit elementReleased(*element, widget->pos());
        return true;
    }
    default:
        return QWidget::eventFilter(watched, event);
    }
}
