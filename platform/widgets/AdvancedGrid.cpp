// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/widgets/AdvancedGrid.h"

#include "platform/Length.h"
#include "platform/widgets/Dialogs.h"

#include <QBuffer>
#include <QHeaderView>
#include <QImageReader>
#include <QPageRanges>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPixmapCache>
#include <QPrinter>
#include <QStyle>
#include <QStyledItemDelegate>

namespace {

constexpr int pictureRole = Qt::UserRole + 1;
constexpr int kindRole = Qt::UserRole + 2;

// Narrow margins: a sheet of two 350-pixel cards with its spacer columns is 201 mm wide.
const Length pageMargin = Length::millimetres(4);

bool isPicture(const QTableWidgetItem* item)
{
    return item && item->data(kindRole).toInt() == int(GridCell::Kind::Picture);
}

// Where a picture of the given size goes in a cell: centred, as large as fits unstretched.
// Screen and paper place it alike.
QRect pictureRect(QSize picture, const QRect& cell)
{
    return QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, picture.scaled(cell.size(), Qt::KeepAspectRatio),
                               cell);
}

QImage decode(const QByteArray& bytes, QSize cell = {})
{
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer);
    // Asking the decoder for the shown size spares decoding and scaling a full picture.
    if (cell.isValid() && reader.size().isValid())
        reader.setScaledSize(pictureRect(reader.size(), QRect(QPoint(), cell)).size());
    return reader.read();
}

} // namespace

class AdvancedGrid::PictureDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        const QByteArray bytes = index.data(pictureRole).toByteArray();
        if (bytes.isEmpty() || option.rect.isEmpty())
            return;
        const QPixmap pixmap = shown(bytes, option.rect.size());
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
    static QPixmap shown(const QByteArray& bytes, QSize cell)
    {
        const QString key = QStringLiteral("advanced-grid:%1:%2x%3")
                                .arg(qHash(bytes))
                                .arg(cell.width())
                                .arg(cell.height());
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
    const bool centred = size_t(column) < m_columnStyles.size() && m_columnStyles[size_t(column)] == centredStyle;
    return centred ? Qt::Alignment(Qt::AlignCenter) : Qt::AlignLeft | Qt::AlignVCenter;
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
    const bool textColumn =
        size_t(column) >= m_columnKinds.size() || m_columnKinds[size_t(column)] == GridCell::Kind::Text;
    Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    if (cell.kind == GridCell::Kind::Text && textColumn)
        flags |= Qt::ItemIsEditable;
    it->setFlags(flags);
    it->setData(kindRole, int(cell.kind));
    if (cell.kind == GridCell::Kind::Picture) {
        it->setData(Qt::DisplayRole, QVariant());
        it->setData(pictureRole, cell.picture);
    } else {
        it->setData(pictureRole, QVariant());
        it->setText(cell.text);
    }
}

GridCell AdvancedGrid::getCell(int row, int column) const
{
    const QTableWidgetItem* it = item(row, column);
    if (!it)
        return GridCell::fromText({});
    if (isPicture(it))
        return GridCell::fromPicture(it->data(pictureRole).toByteArray());
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

void AdvancedGrid::print(Dialogs& dialogs)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageLayout(defaultPageLayout());
    if (dialogs.setUpPrinter(this, printer))
        paintPages(printer);
}

void AdvancedGrid::printPreview(Dialogs& dialogs)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageLayout(defaultPageLayout());
    dialogs.showPrintPreview(this, printer, [this](QPrinter* target) { paintPages(*target); });
}

QPageLayout AdvancedGrid::defaultPageLayout() const
{
    const double margin = pageMargin.toMillimetres();
    QPageLayout layout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(margin, margin, margin, margin),
                       QPageLayout::Millimeter);
    int width = 0;
    for (int column = 0; column < columnCount(); ++column)
        width += columnWidth(column);
    const auto across = [&layout] { return Length::millimetres(layout.paintRect().width()).toPixels(); };
    if (width > across()) {
        layout.setOrientation(QPageLayout::Landscape);
        if (width > across())
            layout.setOrientation(QPageLayout::Portrait); // too wide either way: spread over pages
    }
    return layout;
}

std::vector<std::pair<int, int>> AdvancedGrid::pageBands(const std::vector<int>& sizes, int available)
{
    std::vector<std::pair<int, int>> bands;
    int used = 0;
    for (int i = 0; i < int(sizes.size()); ++i) {
        const int size = std::max(sizes[size_t(i)], 0);
        if (bands.empty() || (used > 0 && used + size > available)) {
            bands.emplace_back(i, i);
            used = size;
        } else {
            bands.back().second = i;
            used += size;
        }
    }
    return bands;
}

int AdvancedGrid::paintPages(QPagedPaintDevice& device) const
{
    const QRectF paper = device.pageLayout().paintRect(QPageLayout::Inch);
    std::vector<int> heights;
    for (int row = 0; row < rowCount(); ++row)
        heights.push_back(isRowHidden(row) ? 0 : rowHeight(row));
    std::vector<int> widths;
    for (int column = 0; column < columnCount(); ++column)
        widths.push_back(isColumnHidden(column) ? 0 : columnWidth(column));
    auto rowBands = pageBands(heights, int(Length::inches(paper.height()).toPixels()));
    auto columnBands = pageBands(widths, int(Length::inches(paper.width()).toPixels()));
    // An empty grid still prints, as one empty page.
    if (rowBands.empty())
        rowBands.emplace_back(0, -1);
    if (columnBands.empty())
        columnBands.emplace_back(0, -1);

    QPainter painter;
    if (!painter.begin(&device))
        return 0;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setRenderHint(QPainter::Antialiasing);
    const double scale = Length::pixels(1).toDots(device.logicalDpiX());
    // The pages the print dialog asked for; all of them when it asked for none in particular.
    const QPageRanges wanted = device.pageRanges();
    int page = 0;
    int pages = 0;
    for (const auto& rows : rowBands) {
        for (const auto& columns : columnBands) {
            ++page;
            if (!wanted.isEmpty() && !wanted.contains(page))
                continue;
            if (pages > 0 && !device.newPage())
                return pages;
            painter.save();
            painter.scale(scale, scale);
            paintPage(painter, rows, columns);
            painter.restore();
            ++pages;
        }
    }
    return painter.end() ? pages : 0;
}

void AdvancedGrid::paintPage(QPainter& painter, std::pair<int, int> rows, std::pair<int, int> columns) const
{
    int y = 0;
    for (int row = rows.first; row <= rows.second; ++row) {
        const int height = isRowHidden(row) ? 0 : rowHeight(row);
        int x = 0;
        for (int column = columns.first; column <= columns.second; ++column) {
            const int width = isColumnHidden(column) ? 0 : columnWidth(column);
            const QRect cell(x, y, width, height);
            x += width;
            const QTableWidgetItem* it = item(row, column);
            if (!it || cell.isEmpty())
                continue;
            if (isPicture(it)) {
                const QImage picture = decode(it->data(pictureRole).toByteArray());
                if (!picture.isNull())
                    painter.drawImage(pictureRect(picture.size(), cell), picture);
                continue;
            }
            // Point sizes would be taken at the printer's resolution; the page is drawn in
            // screen pixels, so the font is given in them.
            QFont font = it->data(Qt::FontRole).isValid() ? it->font() : this->font();
            if (font.pointSizeF() > 0)
                font.setPixelSize(qRound(Length::points(font.pointSizeF()).toPixels()));
            painter.setFont(font);
            painter.setPen(palette().color(QPalette::Text));
            painter.drawText(cell.adjusted(3, 0, -3, 0), int(it->textAlignment()), it->text());
        }
        y += height;
    }
}
