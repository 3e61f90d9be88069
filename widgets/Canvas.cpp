// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/Canvas.h"

#include <QMouseEvent>
#include <QPainter>

Canvas::Canvas(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void Canvas::setImage(const QImage& image)
{
    m_image = image;
    update();
}

void Canvas::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    painter.drawImage(0, 0, m_image);
}

void Canvas::mousePressEvent(QMouseEvent* event)
{
    emit mousePressed(event->button(), event->position().toPoint());
}

void Canvas::mouseReleaseEvent(QMouseEvent* event)
{
    emit mouseReleased(event->button(), event->position().toPoint());
}

void Canvas::mouseMoveEvent(QMouseEvent* event) { emit mouseMoved(event->position().toPoint()); }
