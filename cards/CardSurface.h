// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cards/pages/CardLayout.h"

#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QPointer>
#include <QWidget>

#include <memory>

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

// The number's code on the designer's card surface, a sample drawn as cards draw it, filling
// the widget; a small square at the bottom-right corner is the grip that sizes it.
class CardBarcodeLabel : public QWidget {
    Q_OBJECT
public:
    explicit CardBarcodeLabel(QWidget* parent = nullptr);

    BarcodeType type() const { return m_type; }
    void setType(BarcodeType type);
    // What the code's box becomes when the user asks for `asked`.
    QSize sizeFor(QSize asked) const;

    static constexpr int gripSize = 7;
    static inline const QString sampleNumber = QStringLiteral("000000");

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    BarcodeType m_type = BarcodeType::None;
};

class CardComposer;

// The designer's card surface: the card's face at its own geometry, its background drawn by
// the card renderer itself so that every line of it lies where paper has it, and the card's
// elements over that, each dragged into place with the left button and kept with its grip on
// the surface. What lies past the card's edge is shaded: paper cuts it off.
class CardSurface : public QWidget {
    Q_OBJECT
public:
    explicit CardSurface(QWidget* parent = nullptr);
    ~CardSurface() override;

    // Any picture file's bytes, as the file `background` holds them; what is no picture
    // shows the built-in background, as on every card.
    void setPicture(const QByteArray& picture);
    void setPicture(const QImage& picture);
    // The card's face as the surface shows it under its elements, in card pixels.
    const QImage& picture() const { return m_picture; }

    // Lets the user drag a child widget of the surface as the given element; a sizeable one
    // is sized by dragging its bottom-right corner.
    void addElement(CardElement element, QWidget* widget, bool sizeable = false);

signals:
    // The button was let go over an element, moved or not: `position` is its top-left corner.
    void elementReleased(CardElement element, QPoint position);
    // The user has sized a sizeable element.
    void elementResized(CardElement element, QSize size);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<CardComposer> m_face;
    QImage m_picture;
    QHash<QWidget*, CardElement> m_elements;
    QList<QWidget*> m_sizeable;
    struct Drag {
        QPointer<QWidget> widget;
        QPointF grab; // where the element was taken, from its top-left corner
        bool sizing = false;
    } m_drag;
};
