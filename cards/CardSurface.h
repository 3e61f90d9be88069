// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cards/CardLayout.h"

#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QPointer>
#include <QWidget>

// One card text on the designer's card surface, drawn exactly as a composed card draws it:
// the widget's top-left corner is the text's stored position, and it is as large as the text
// it shows, so the user grabs the text itself.
class CardTextLabel : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText)
public:
    explicit CardTextLabel(QWidget* parent = nullptr);

    const QString& text() const { return m_text; }
    void setText(const QString& text);
    const TextStyle& style() const { return m_style; }
    void setStyle(const TextStyle& style);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void fitToText();

    QString m_text;
    TextStyle m_style;
};

// The designer's card surface: a background picture stretched over it, and the card's
// elements over that, each dragged into place with the left button and kept with its grip on
// the surface.
class CardSurface : public QWidget {
    Q_OBJECT
public:
    explicit CardSurface(QWidget* parent = nullptr);

    // Any picture file's bytes; no picture shows a blank card.
    void setPicture(const QByteArray& picture);
    void setPicture(const QImage& picture);
    const QImage& picture() const { return m_picture; }

    // Lets the user drag a child widget of the surface as the given element.
    void addElement(CardElement element, QWidget* widget);

signals:
    // The button was let go over an element, moved or not: `position` is its top-left corner.
    void elementReleased(CardElement element, QPoint position);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QImage m_picture;
    QHash<QWidget*, CardElement> m_elements;
    struct Drag {
        QPointer<QWidget> widget;
        QPointF grab; // where the element was taken, from its top-left corner
    } m_drag;
};
