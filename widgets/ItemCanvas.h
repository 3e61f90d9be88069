// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QGraphicsView>
#include <QHash>
#include <QImage>
#include <QPoint>
#include <QString>

class QGraphicsScene;
class TextItem;

// A fixed-size canvas of movable texts over a background picture. Each text is known by the
// positive number it was created with; the user clicks texts and drags them with the mouse,
// and the canvas reports both, leaving what they mean to its owner.
class ItemCanvas : public QGraphicsView {
    Q_OBJECT
public:
    static constexpr QSize canvasSize{416, 264};

    explicit ItemCanvas(QWidget* parent = nullptr);
    ~ItemCanvas() override;

    int createItem(const QString& text, const QFont& font, const QColor& colour, QPoint position);
    void deleteItem(int id);
    // Bottom to top.
    QList<int> items() const;
    // The topmost item under a canvas point, or 0.
    int itemAt(QPoint position) const;

    QString text(int id) const;
    // Keeps the item's font and colour.
    void setText(int id, const QString& text);
    void setText(int id, const QString& text, const QFont& font, const QColor& colour);
    QFont itemFont(int id) const;
    QColor colour(int id) const;
    QString tag(int id) const;
    void setTag(int id, const QString& tag);
    QPoint position(int id) const;
    // What the item covers on the canvas; empty for no item.
    QRect bounds(int id) const;
    void moveItem(int id, QPoint position);

    // Draws the item lighter (positive) or darker (negative); amounts add up, so +50 undoes
    // -50 exactly.
    void adjustBrightness(int id, int amount);
    int brightness(int id) const;

    // Any picture file's bytes, stretched over the canvas; empty bytes or no picture show none.
    void setBackground(const QByteArray& picture);
    // What the area shows, background and items, without the marks of brightness: those
    // belong to the screen, not to the picture. At `size` (empty: the area's own), drawn
    // again at that size, so a picture for paper is as sharp as its background allows.
    QImage takePicture(const QRect& area, QSize size = {}) const;

    // Fonts built for items start from this one, so they share its underline, strike-out and
    // the rest of what a font chooser does not set.
    QFont defaultFont() const { return QWidget::font(); }

signals:
    // Pressed and let go without moving.
    void itemClicked(int id);
    // The user dragged the item and let go: `position` is where its top-left corner is to go.
    void itemDropped(QPoint position, int id);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    TextItem* item(int id) const;

    QGraphicsScene* m_scene;
    QByteArray m_background;
    QHash<int, TextItem*> m_items;
    int m_lastId = 0;
    struct Drag {
        int id = 0;
        QPointF grab; // where the item was taken, from its top-left corner
        bool moved = false;
    } m_drag;
};
