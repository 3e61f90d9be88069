// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/AdvancedGrid.h"

#include "formats/graphics/Picture.h"

#include <QHeaderView>
#include <QPainter>
#include <QPixmapCache>
#include <QStyle>
#include <QStyledItemDelegate>

namespace {

using Drawing = std::shared_ptr<const GridDrawing>;

constexpr int pictureRole = Qt::UserRole + 1;
constexpr int kindRole = Qt::UserRole + 2;
constexpr int drawingRole = Qt::UserRole + 3;

bool isPicture(const QTableWidgetItem* item)
{
    return item && item->data(kindRole).toInt() == int(GridCell::Kind::Picture);
}

// Decoded at the shown size, which spares decoding and scaling a full picture; a picture too
// large to decode is not shown rather than stalling the sheet.
QImage decode(const QByteArray& bytes, QSize cell = {})
{
    const QSize own = Picture::sizeOf(bytes);
    const bool fit = cell.isValid() && own.isValid();
    return Picture::decode(bytes, fit ? pictureRect(own, QRect(QPoint(), cell)).size() : QSize());
}

} // namespace

class AdvancedGrid::PictureDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        const QByteArray bytes = index.data(pictureRole).toByteArray();
        const Drawing drawing = index.data(drawingRole).value<Drawing>();
        if ((bytes.isEmpty() && !drawing) || option.rect.isEmpty())
            return;
        const QPixmap pixmap =
            bytes.isEmpty() ? drawn(*drawing, option.rect.size()) : shown(bytes, option.rect.size());
        if (pixmap.isNull())
            return;
        painter->drawPixmap(pictureRect(pixmap.size(), option.rect), pixmap);
        // The picture covers the selection colour, so mark the cursor cell with a frame.
        if (option.state & QStyle::State_Selected) {
            painter->save();
            painter->setPen(QPen(option.palette.highlight(), 3));
            painter->setBrush(Qt::NoBrush);
            painter->drawRect(QRectF(option.rect).adjusted(1.5, 1.5, -1.5, -1.5));
            painter->restore();
        }
    }

private:
    // A drawing without a screen picture, drawn for the cell.
    static QPixmap drawn(const GridDrawing& drawing, QSize cell)
    {
        const QString key = QStringLiteral("advanced-grid-drawing:%1:%2x%3")
                                .arg(quintptr(&drawing))
                                .arg(cell.width())
                                .arg(cell.height());
        QPixmap pixmap;
        if (!QPixmapCache::find(key, &pixmap)) {
            const QSize size = pictureRect(drawing.size(), QRect(QPoint(), cell)).size();
            QImage image(size, QImage::Format_RGB32);
            image.fill(Qt::white);
            QPainter painter(&image);
            drawing.paint(painter, QRectF(QPointF(), size));
            painter.end();
            pixmap = QPixmap::fromImage(image);
            QPixmapCache::insert(key, pixmap);
        }
        return pixmap;
    }

    static QPixmap shown(const QByteArray& bytes, QSize cell)
    {
        const QString key =
            QStringLiteral("advanced-grid:%1:%2x%3").arg(qHash(bytes)).arg(cell.width()).arg(cell.height());
        QPixmap pixmap;
        if (!QPixmapCache::find(key, &pixmap)) {
            pixmap = QPixmap::fromImage(decode(bytes, cell));
            QPixmapCache::insert(key, pixmap);
        }
        return pixmap;
    }
};

AdvancedGrid::AdvancedGrid(QWidget* parent)
    : QTableWidget(parent)
{
    horizontalHeader()->hide();
    verticalHeader()->hide();
    horizontalHeader()->setMinimumSectionSize(0);
    verticalHeader()->setMinimumSectionSize(0);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setItemDelegate(new PictureDelegate(this));
}

AdvancedGrid::~AdvancedGrid() = default;

void AdvancedGrid::setColumnKind(int column, GridCell::Kind kind)
{
    if (column < 0)
        return;
    if (size_t(column) >= m_columnKinds.size())
        m_columnKinds.resize(size_t(column) + 1, GridCell::Kind::Text);
    m_columnKinds[size_t(column)] = kind;
}

GridCell::Kind AdvancedGrid::columnKind(int column) const
{
    return column >= 0 && size_t(column) < m_columnKinds.size() ? m_columnKinds[size_t(column)]
                                                                : GridCell::Kind::Text;
}

int AdvancedGrid::columnStyle(int column) const
{
    return column >= 0 && size_t(column) < m_columnStyles.size() ? m_columnStyles[size_t(column)] : 0;
}

void AdvancedGrid::setColumnStyle(int column, int code)
{
    if (column < 0)
        return;
    if (size_t(column) >= m_columnStyles.size())
        m_columnStyles.resize(size_t(column) + 1, 0);
    m_columnStyles[size_t(column)] = code;
    for (int row = 0; row < rowCount(); ++row) {
        if (QTableWidgetItem* it = item(row, column))
            it->setTextAlignment(columnAlignment(column));
    }
}

void AdvancedGrid::formatRange(int firstRow, int firstColumn, int rows, int /*borderCode*/, int alignmentCode)
{
    const Qt::Alignment alignment =
        alignmentCode == centredStyle ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter;
    for (int row = std::max(firstRow, 0); row < std::min(firstRow + rows, rowCount()); ++row) {
        for (int column = std::max(firstColumn, 0); column < columnCount(); ++column) {
            QTableWidgetItem* it = item(row, column);
            if (!it) {
                // An empty cell gets its item now, so that what is typed later is aligned too.
                setCell(row, column, GridCell::fromText({}));
                it = item(row, column);
            }
            it->setTextAlignment(alignment);
        }
    }
}

Qt::Alignment AdvancedGrid::columnAlignment(int column) const
{
    return columnStyle(column) == centredStyle ? Qt::Alignment(Qt::AlignCenter)
                                               : Qt::AlignLeft | Qt::AlignVCenter;
}

void AdvancedGrid::setCell(int row, int column, const GridCell& cell)
{
    if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount())
        return;
    QTableWidgetItem* it = item(row, column);
    if (!it) {
        it = new QTableWidgetItem;
        it->setTextAlignment(columnAlignment(column));
        setItem(row, column, it);
    }
    const bool textColumn = columnKind(column) == GridCell::Kind::Text;
    Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    if (cell.kind == GridCell::Kind::Text && textColumn)
        flags |= Qt::ItemIsEditable;
    it->setFlags(flags);
    it->setData(kindRole, int(cell.kind));
    if (cell.kind == GridCell::Kind::Picture) {
        it->setData(Qt::DisplayRole, QVariant());
        it->setData(pictureRole, cell.picture);
        it->setData(drawingRole, cell.drawing ? QVariant::fromValue(cell.drawing) : QVariant());
    } else {
        it->setData(pictureRole, QVariant());
        it->setData(drawingRole, QVariant());
        it->setText(cell.text);
    }
}

GridCell AdvancedGrid::getCell(int row, int column) const
{
    const QTableWidgetItem* it = item(row, column);
    if (!it)
        return GridCell::fromText({});
    if (isPicture(it))
        return GridCell::fromPicture(it->data(pictureRole).toByteArray(),
                                     it->data(drawingRole).value<Drawing>());
    return GridCell::fromText(it->text());
}

void AdvancedGrid::commitEditing()
{
    if (state() != QAbstractItemView::EditingState)
        return;
    QWidget* editor = focusWidget();
    if (!editor || editor == this || !isAncestorOf(editor))
        return;
    commitData(editor);
    closeEditor(editor, QAbstractItemDelegate::NoHint);
}
