// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QMarginsF>
#include <QMetaType>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QString>

#include <memory>
#include <utility>

class PdfFinisher;
class QPainter;

// A picture that draws itself again for every device, so paper gets it at the printer's
// resolution rather than enlarged from the pixels the screen shows.
class GridDrawing {
public:
    virtual ~GridDrawing() = default;
    // The size it is made for, which gives its proportions in a cell.
    virtual QSize size() const = 0;
    // `file`, when drawing into a PDF file, carries JPEG pictures into it as they are.
    virtual void paint(QPainter& painter, const QRectF& target, PdfFinisher* file = nullptr) const = 0;
    // What shows in a band `bleed` wide around `target` when it is printed to the edge of
    // paper that is cut at the target's edges, so a cut a little off shows no white line;
    // drawn before `paint`, which covers whatever of it reaches inside. Nothing by default.
    virtual void paintBleed(QPainter& painter, const QRectF& target, const QMarginsF& bleed) const
    {
        Q_UNUSED(painter);
        Q_UNUSED(target);
        Q_UNUSED(bleed);
    }
};

// What a cell of a table holds, on the screen and on paper alike: a text, or a picture as the
// bytes of an image file, optionally with the drawing it was made from. The screen shows the
// bytes, which stay compressed and are decoded when they are drawn; paper and files draw the
// drawing when there is one.
struct GridCell {
    enum class Kind { Text = 1, Picture = 6 };

    Kind kind = Kind::Text;
    QString text;
    QByteArray picture;
    std::shared_ptr<const GridDrawing> drawing;

    static GridCell fromText(const QString& text) { return {Kind::Text, text, {}, {}}; }
    static GridCell fromPicture(const QByteArray& bytes, std::shared_ptr<const GridDrawing> drawing = {})
    {
        return {Kind::Picture, {}, bytes, std::move(drawing)};
    }
    bool holdsPicture() const { return kind == Kind::Picture && (!picture.isEmpty() || drawing); }
    // Whether anything of it shows: a picture, or a text that is not empty.
    bool isBlank() const { return kind == Kind::Picture ? !holdsPicture() : text.isEmpty(); }
    bool operator==(const GridCell&) const = default;
};

// Where a picture of the given size goes in a cell: centred, as large as fits unstretched.
// Screen and paper place it alike.
inline QRect pictureRect(QSize picture, const QRect& cell)
{
    const QSize size = picture.scaled(cell.size(), Qt::KeepAspectRatio);
    return {cell.x() + cell.width() / 2 - size.width() / 2, cell.y() + cell.height() / 2 - size.height() / 2,
            size.width(), size.height()};
}

Q_DECLARE_METATYPE(std::shared_ptr<const GridDrawing>)
