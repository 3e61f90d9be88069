// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QWidget>

// A drawing surface: shows its picture at the top-left corner, unscaled, and reports the
// mouse in its own pixel coordinates.
class Canvas : public QWidget {
    Q_OBJECT
public:
    explicit Canvas(QWidget* parent = nullptr);

    const QImage& image() const { return m_image; }
    void setImage(const QImage& image);

signals:
    void mousePressed(Qt::MouseButton button, QPoint position);
    void mouseReleased(Qt::MouseButton button, QPoint position);
    void mouseMoved(QPoint position);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QImage m_image;
};
