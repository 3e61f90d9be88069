// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cards/pages/CardLayout.h"
#include "formats/graphics/GridCell.h"

#include <QByteArray>
#include <QImage>
#include <QRectF>
#include <QSize>
#include <QString>

#include <memory>

class QPainter;
class Recordset;

// Writes a card text with the top of its ideographs at the text's stored position, the way
// layouts made with the usual Chinese system faces place it, whatever the face's line height.
// The card, the sheet, paper and the designer all place texts through here.
void drawCardText(QPainter& painter, const CardText& text, const QString& value);

// Draws the student's number as the layout's code, in its box; nothing without a number or a
// code type.
void drawCardBarcode(QPainter& painter, const CardBarcode& barcode, const QString& number);

// The parts of a student record that a card shows.
struct CardFields {
    QString name;
    QString className;
    QString number;
    QByteArray photo; // image file bytes; empty or not a picture: the card has no photo

    // The current record of a student query.
    static CardFields fromRecord(const Recordset& records);
    bool operator==(const CardFields&) const = default;
};

class CardDesign;

// One student's card as a value: the fields and the design it was composed with, drawn
// again for every device, so paper and PDF get real text and the pictures' own pixels
// rather than an enlarged screen picture. Copies share the design and the photo bytes.
class Card final : public GridDrawing {
public:
    Card(std::shared_ptr<const CardDesign> design, CardFields fields);

    QSize size() const override;
    void paint(QPainter& painter, const QRectF& target, PdfFinisher* file = nullptr) const override;
    // The background's outermost pixels drawn outwards: the picture has nothing past its
    // edges, and a band of its edge keeps every element where the designer put it.
    void paintBleed(QPainter& painter, const QRectF& target, const QMarginsF& bleed) const override;

    const CardFields& fields() const { return m_fields; }

private:
    std::shared_ptr<const CardDesign> m_design;
    CardFields m_fields;
};

// Composes student cards from a card layout: background stretched over the 400 × 260 face,
// the photo scaled into its frame, then name, class and number in their styles and the
// number's code, each covering what came before; nothing past the face's edge.
// Needs no window; one composer may compose cards on several threads at once.
class CardComposer {
public:
    static constexpr QSize faceSize{400, 260};

    explicit CardComposer(const CardLayout& layout);

    // The face as the screen shows it, 400 × 260 pixels.
    QImage compose(const CardFields& fields) const;
    // The same face as a value that can be drawn again at any resolution.
    std::shared_ptr<const Card> card(const CardFields& fields) const;
    // Why the student's photo cannot be shown ("图片文件已损坏，无法读取"); empty when it can,
    // and when there is none.
    QString photoProblem(const CardFields& fields) const;
    // Draws the face onto (0, 0, 400, 260) under the painter's transform, the pictures
    // decoded for the device pixels they cover, at most their own: the one renderer of every
    // surface. Into a PDF file (`file`), JPEG pictures go as they are stored.
    void paint(QPainter& painter, const CardFields& fields, PdfFinisher* file = nullptr) const;

private:
    std::shared_ptr<const CardDesign> m_design;
};
