// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

// How one card text is written.
struct TextStyle {
    // Stored layouts name Windows faces; an empty face means this one (mapped to a CJK face).
    static inline const QString defaultFace = QStringLiteral("宋体");
    static constexpr int defaultPoints = 12;

    QString face;   // empty: defaultFace
    int points = 0; // 0 or less: defaultPoints
    bool bold = false;
    bool italic = false;
    QColor colour = Qt::black;

    // Sized in card pixels (points at 96 dpi), so a card looks the same on every device.
    QFont font() const;
    bool operator==(const TextStyle&) const = default;
};

enum class CardElement { Photo, Name, Class, Number, Barcode };

// The student's number as a symbol a scanner reads; none in layouts made before there were codes.
enum class BarcodeType { None, Code128, QR };

struct CardBarcode {
    BarcodeType type = BarcodeType::None;
    QRect box{248, 210, 140, 34}; // where the code and its white quiet zone go, in card pixels
    bool operator==(const CardBarcode&) const = default;

    // "无", "Code128" or "QR", as the settings file stores it; anything else reads as none.
    static QString typeName(BarcodeType type);
    static BarcodeType typeNamed(const QString& name);

    // A QR code is square, and smaller than this many card pixels a printer's dots no longer
    // make out its modules; Code 128 needs less.
    static constexpr int smallestQrSide = 48;
    static constexpr int smallestSide = 24;
    // A QR code chosen in a box too flat for it: about 14 mm on a card of the ID-1 shape.
    static constexpr int chosenQrSide = 64;
    // The code as another type: a QR code takes a square box, a Code 128 code a wide one,
    // each keeping the box's bottom-left corner so a code at the card's foot stays on it.
    CardBarcode ofType(BarcodeType newType) const;
    // The size a box asked for becomes for this type: square for a QR code, following the
    // longer side, and never below the smallest that still reads.
    QSize sizeFor(QSize asked) const;
};

struct CardText {
    QPoint position; // top-left corner of the text as drawn
    TextStyle style;
    bool operator==(const CardText&) const = default;
};

// What a student card shows and where, as the settings file and the file `background` in the
// program folder hold it. Every reader gets the same defaults: a missing file, section or key
// is normal, and nothing here ever fails loudly.
struct CardLayout {
    static constexpr QSize photoSize{128, 160};

    QPoint photo{16, 80};
    CardText name{{264, 105}, {}};
    CardText className{{268, 148}, {}};
    CardText number{{248, 187}, {}};
    CardBarcode barcode;
    // The bytes of `background`; empty when the file is absent or empty.
    QByteArray background;

    bool operator==(const CardLayout&) const = default;

    static CardLayout load(const QString& appFolder);
    // Each answers whether the file was written; the settings file keeps every other line.
    // A position or a style is written in one go, never half; the reason of a failure goes
    // to `error`.
    static bool savePosition(const QString& appFolder, CardElement element, QPoint position,
                             QString* error = nullptr);
    static bool saveTextStyle(const QString& appFolder, CardElement element, const TextStyle& style,
                              QString* error = nullptr);
    // The code's type, place and size, in one go.
    static bool saveBarcode(const QString& appFolder, const CardBarcode& barcode, QString* error = nullptr);
    static bool saveBackground(const QString& appFolder, const QByteArray& bytes, QString* error = nullptr);

    // The background file's picture, or the built-in one when there is none, it is no picture
    // or it is too large; decoded for drawing at `drawSize` (empty: its own size).
    QImage backgroundPicture(QSize drawSize = {}) const;
    // The size of a background the designer draws from its canvas (416 × 264 on the screen):
    // at least 300 pixels per inch on the largest card printed, a 400-pixel card on a sheet
    // (4.17 inches across) or a card-printer card with its bleed (87.6 mm).
    static constexpr QSize backgroundPrintSize{1300, 825};
    // The built-in background, a 1024 × 707 JPEG.
    static QByteArray builtInBackground();
};
