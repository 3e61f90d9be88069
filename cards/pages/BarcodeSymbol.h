// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cards/pages/CardLayout.h"

#include <QList>
#include <QRectF>
#include <QSizeF>
#include <QString>

class QPainter;

// A Code 128 or QR symbol as the rectangles of its dark bars and modules, encoded by libzint,
// so that every surface draws it as shapes at its own resolution rather than as a picture.
// Units are modules; the size includes the quiet zone a scanner needs around the symbol:
// four modules around a QR code, ten on either side of Code 128.
class BarcodeSymbol {
public:
    // Nothing for an empty value, for BarcodeType::None and for text the symbol cannot hold
    // (Code 128 holds Latin text only; QR holds any text).
    static BarcodeSymbol encode(BarcodeType type, const QString& value);

    bool isNull() const { return m_bars.isEmpty(); }
    QSizeF size() const { return m_size; }
    const QList<QRectF>& bars() const { return m_bars; }

    // Draws the symbol with its quiet zone on white into `box`: a QR code square and centred,
    // Code 128 over the box's whole width and height. Nothing when the symbol is null.
    void paint(QPainter& painter, const QRectF& box) const;

private:
    BarcodeType m_type = BarcodeType::None;
    QSizeF m_size;
    QList<QRectF> m_bars;
};
