// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cards/CardLayout.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

class QPainter;
class Recordset;

// Writes a card text with the top of its ideographs at the text's stored position, the way
// layouts made with the usual Chinese system faces place it, whatever the face's line height.
// The card, the sheet, paper and the designer all place texts through here.
void drawCardText(QPainter& painter, const CardText& text, const QString& value);

// The parts of a student record that a card shows.
struct CardFields {
    QString name;
    QString className;
    QString number;
    QByteArray photo; // image file bytes; empty or not a picture: the card has no photo

    // The current record of a student query.
    static CardFields fromRecord(const Recordset& records);
};

// Composes the 400 × 260 card face of a student from a card layout: background stretched
// over the face, the photo scaled into its frame, then name, class and number in their
// styles, each covering what came before. Needs no window; one composer may compose cards on
// several threads at once.
class CardComposer {
public:
    static constexpr QSize faceSize{400, 260};

    explicit CardComposer(const CardLayout& layout);

    QImage compose(const CardFields& fields) const;

private:
    CardLayout m_layout;
    QImage m_background; // already stretched to the face
};
