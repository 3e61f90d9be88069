// SPDX-License-Identifier: GPL-3.0-or-later
#include "cards/pages/BarcodeSymbol.h"

#include <QPainter>

#include <zint.h>

#include <memory>

BarcodeSymbol BarcodeSymbol::encode(BarcodeType type, const QString& value)
{
    BarcodeSymbol symbol;
    if (type == BarcodeType::None || value.isEmpty())
        return symbol;
    const std::unique_ptr<zint_symbol, void (*)(zint_symbol*)> zint(ZBarcode_Create(), ZBarcode_Delete);
    if (!zint)
        return symbol;
    zint->symbology = type == BarcodeType::QR ? BARCODE_QRCODE : BARCODE_CODE128;
    zint->input_mode = UNICODE_MODE;
    zint->show_hrt = 0; // the number is a text of its own on the card
    if (type == BarcodeType::QR)
        zint->option_1 = 2; // level M: a scratched card still reads
    const QByteArray text = value.toUtf8();
    if (ZBarcode_Encode(zint.get(), reinterpret_cast<const unsigned char*>(text.constData()),
                        int(text.size()))
            >= ZINT_ERROR
        || ZBarcode_Buffer_Vector(zint.get(), 0) >= ZINT_ERROR || !zint->vector)
        return symbol;
    // The quiet zones the standards ask for, whatever libzint's version would add: four
    // modules around a QR code, ten beside Code 128 (its bars run the box's whole height).
    // libzint's vector units are not modules (two to a module in 2.11): measured on the symbol.
    const double module = zint->width > 0 ? zint->vector->width / zint->width : 1;
    const QSizeF quiet = (type == BarcodeType::QR ? QSizeF(4, 4) : QSizeF(10, 0)) * module;
    symbol.m_type = type;
    symbol.m_size =
        QSizeF(zint->vector->width + 2 * quiet.width(), zint->vector->height + 2 * quiet.height());
    for (const zint_vector_rect* rect = zint->vector->rectangles; rect; rect = rect->next) {
        // Only the dark ones: the white of the quiet zone is drawn with the box.
        if (rect->colour == -1 || rect->colour == 7)
            symbol.m_bars.append(
                QRectF(rect->x + quiet.width(), rect->y + quiet.height(), rect->width, rect->height));
    }
    if (symbol.m_bars.isEmpty() || symbol.m_size.isEmpty())
        return {};
    return symbol;
}

void BarcodeSymbol::paint(QPainter& painter, const QRectF& box) const
{
    if (isNull() || box.isEmpty())
        return;
    painter.save();
    double sx = box.width() / m_size.width();
    double sy = box.height() / m_size.height();
    QPointF origin = box.topLeft();
    if (m_type == BarcodeType::QR) {
        sx = sy = std::min(sx, sy);
        origin += QPointF((box.width() - sx * m_size.width()) / 2, (box.height() - sy * m_size.height()) / 2);
    }
    // White under the symbol and its quiet zone only: a QR code in a box of another shape
    // leaves the card showing around it.
    painter.fillRect(QRectF(origin, QSizeF(sx * m_size.width(), sy * m_size.height())), Qt::white);
    QList<QRectF> bars;
    bars.reserve(m_bars.size());
    for (const QRectF& bar : m_bars)
        bars.append(QRectF(origin.x() + bar.x() * sx, origin.y() + bar.y() * sy, bar.width() * sx,
                           bar.height() * sy));
    // Edges on whole modules: antialiasing would grey the gaps between neighbouring modules.
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    painter.drawRects(bars.constData(), int(bars.size()));
    painter.restore();
}
