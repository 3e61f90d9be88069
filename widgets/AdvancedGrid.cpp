// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/AdvancedGrid.h"

#include "formats/Length.h"
#include "formats/graphics/PdfFinisher.h"
#include "formats/graphics/Picture.h"
#include "widgets/Dialogs.h"
#include "widgets/PrintPreview.h"

#include <QHeaderView>
#include <QPageRanges>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPixmapCache>
#include <QPrinter>
#include <QStyle>
#include <QStyledItemDelegate>

namespace {

using Drawing = std::shared_ptr<const GridDrawing>;

constexpr int pictureRole = Qt::UserRole + 1;
constexpr int kindRole = Qt::UserRole + 2;
constexpr int drawingRole = Qt::UserRole + 3;

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
    return QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter,
                               picture.scaled(cell.size(), Qt::KeepAspectRatio), cell);
}

Drawing drawingOf(const QTableWidgetItem* item) { return item->data(drawingRole).value<Drawing>(); }

bool picturePresent(const QTableWidgetItem* item)
{
    return !item->data(pictureRole).toByteArray().isEmpty() || drawingOf(item);
}

// Decoded at the shown size, which spares decoding and scaling a full picture; a picture too
// large to decode is not shown rather than stalling the sheet.
QImage decode(const QByteArray& bytes, QSize cell = {})
{
    const QSize own = Picture::sizeOf(bytes);
    const bool fit = cell.isValid() && own.isValid();
    return Picture::decode(bytes, fit ? pictureRect(own, QRect(QPoint(), cell)).size() : QSize());
}

// Draws a picture cell on paper: its drawing at the device's resolution when it has one,
// else its picture's own pixels. Answers where the picture went.
QRectF paintPicture(QPainter& painter, const QTableWidgetItem* item, const QRect& cell, PdfFinisher* file)
{
    if (const Drawing drawing = drawingOf(item)) {
        const QRect target = pictureRect(drawing->size(), cell);
        drawing->paint(painter, target, file);
        return target;
    }
    const QByteArray bytes = item->data(pictureRole).toByteArray();
    const PdfFinisher::JpegFrame frame = PdfFinisher::jpegFrame(bytes);
    if (const QImage standIn = file && frame.components ? file->standIn(bytes) : QImage();
        !standIn.isNull()) {
        const QRect target = pictureRect(QSize(frame.width, frame.height), cell);
        painter.drawImage(target, standIn);
        return target;
    }
    const QImage picture = decode(bytes);
    if (picture.isNull())
        return {};
    const QRect target = pictureRect(picture.size(), cell);
    painter.drawImage(target, picture);
    return target;
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
    const bool centred =
        size_t(column) < m_columnStyles.size() && m_columnStyles[size_t(column)] == centredStyle;
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
        return GridCell::fromPicture(it->data(pictureRole).toByteArray(), drawingOf(it));
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
    // Only the orientation is suggested: paper and margins are the printer's own.
    printer.setPageOrientation(defaultPageLayout().orientation());
    if (dialogs.setUpPrinter(this, printer))
        paintPages(printer, pdfFileOf(printer));
}

void AdvancedGrid::printPreview(Dialogs& dialogs)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageOrientation(defaultPageLayout().orientation());
    dialogs.showPrintPreview(this, printer, pages());
}

QPageLayout AdvancedGrid::defaultPageLayout() const
{
    const double margin = pageMargin.toMillimetres();
    QPageLayout layout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                       QMarginsF(margin, margin, margin, margin), QPageLayout::Millimeter);
    const double width = printedColumns().second + 2 * cutMarkReach;
    const auto across = [&layout] { return Length::millimetres(layout.paintRect().width()).toPixels(); };
    if (width > across()) {
        layout.setOrientation(QPageLayout::Landscape);
        if (width > across())
            layout.setOrientation(QPageLayout::Portrait); // too wide either way: scaled down upright
    }
    return layout;
}

int AdvancedGrid::shownRowHeight(int row) const { return isRowHidden(row) ? 0 : std::max(rowHeight(row), 0); }

int AdvancedGrid::shownColumnWidth(int column) const
{
    return isColumnHidden(column) ? 0 : std::max(columnWidth(column), 0);
}

bool AdvancedGrid::rowIsEmpty(int row) const
{
    for (int column = 0; column < columnCount(); ++column) {
        const QTableWidgetItem* it = item(row, column);
        if (it && (isPicture(it) ? picturePresent(it) : !it->text().isEmpty()))
            return false;
    }
    return true;
}

AdvancedGrid::PageLayout AdvancedGrid::layOut(QSizeF area) const
{
    PageLayout layout;
    const double across = Length::inches(area.width()).toPixels();
    const double down = Length::inches(area.height()).toPixels() - 2 * cutMarkReach;
    const auto [contentLeft, width] = printedColumns();
    int tallest = 0;
    for (int row = 0; row < rowCount(); ++row)
        tallest = std::max(tallest, shownRowHeight(row));
    // Scaled evenly, so that the widest sheet and the tallest row still fit one page whole,
    // the cut marks beside the outer cards included.
    const double marked = width + 2 * cutMarkReach;
    if (marked > across && across > 0)
        layout.scale = across / marked;
    if (tallest * layout.scale > down && down > 0)
        layout.scale = down / tallest;
    // What is printed is centred, not the grid: an empty spacer column at one side would
    // leave a wider white margin there. Every page is placed alike, so backs and fronts match.
    layout.left = (across / layout.scale - width) / 2 - contentLeft;

    const double available = down / layout.scale;
    double used = 0;
    for (int row = 0; row < rowCount(); ++row) {
        const int height = shownRowHeight(row);
        const bool starting = layout.rows.empty() || used + height > available;
        // Blank space at the top of a page would only push the cards down.
        if (starting && (height == 0 || rowIsEmpty(row)))
            continue;
        if (starting) {
            layout.rows.emplace_back(row, row);
            used = height;
        } else {
            layout.rows.back().second = row;
            used += height;
        }
    }
    // An empty grid still prints, as one empty page.
    if (layout.rows.empty())
        layout.rows.emplace_back(0, -1);
    return layout;
}

std::pair<double, double> AdvancedGrid::printedColumns() const
{
    // A picture column counts even when empty: a sheet of one card puts it where a full
    // sheet would, as cards printed on pre-cut card stock need.
    std::vector<bool> used(size_t(std::max(columnCount(), 0)), false);
    for (int column = 0; column < columnCount(); ++column)
        used[size_t(column)] =
            size_t(column) < m_columnKinds.size() && m_columnKinds[size_t(column)] == GridCell::Kind::Picture;
    for (int row = 0; row < rowCount(); ++row) {
        for (int column = 0; column < columnCount(); ++column) {
            const QTableWidgetItem* it = item(row, column);
            if (it && (isPicture(it) ? picturePresent(it) : !it->text().isEmpty()))
                used[size_t(column)] = true;
        }
    }
    const auto first = std::find(used.begin(), used.end(), true);
    const int firstColumn = first == used.end() ? 0 : int(first - used.begin());
    const int lastColumn = first == used.end()
                               ? columnCount() - 1
                               : int(used.rend() - std::find(used.rbegin(), used.rend(), true)) - 1;
    double left = 0;
    for (int column = 0; column < firstColumn; ++column)
        left += shownColumnWidth(column);
    double width = 0;
    for (int column = firstColumn; column <= lastColumn; ++column)
        width += shownColumnWidth(column);
    return {left, width};
}

PageSource AdvancedGrid::pages() const
{
    return {
        [this](const QPageLayout& page) {
            return int(layOut(page.paintRect(QPageLayout::Inch).size()).rows.size());
        },
        [this](QPainter& painter, const QPageLayout& page, int index, double dotsPerInch, PdfFinisher* file) {
            paintPage(painter, layOut(page.paintRect(QPageLayout::Inch).size()), index, dotsPerInch, file);
        }};
}

int AdvancedGrid::paintPages(QPagedPaintDevice& device, const QString& pdfFile, QString* error) const
{
    return printPages(device, pages(), pdfFile, error);
}

void AdvancedGrid::paintPage(QPainter& painter, const PageLayout& layout, int page, double dotsPerInch,
                             PdfFinisher* file) const
{
    if (page < 0 || size_t(page) >= layout.rows.size())
        return;
    const auto [firstRow, lastRow] = layout.rows[size_t(page)];
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setRenderHint(QPainter::Antialiasing);
    // A PDF keeps decoded pixels as they are instead of compressing them as JPEG again.
    painter.setRenderHint(QPainter::LosslessImageRendering);
    const double scale = Length::pixels(layout.scale).toDots(dotsPerInch);
    painter.scale(scale, scale);
    painter.translate(layout.left, cutMarkReach);

    std::vector<QRectF> pictures;
    int y = 0;
    for (int row = firstRow; row <= lastRow; ++row) {
        const int height = shownRowHeight(row);
        int x = 0;
        for (int column = 0; column < columnCount(); ++column) {
            const int width = shownColumnWidth(column);
            const QRect cell(x, y, width, height);
            x += width;
            const QTableWidgetItem* it = item(row, column);
            if (!it || cell.isEmpty())
                continue;
            if (isPicture(it)) {
                const QRectF drawn = paintPicture(painter, it, cell, file);
                if (!drawn.isEmpty())
                    pictures.push_back(drawn);
                continue;
            }
            // Point sizes would be taken at the printer's resolution; the page is drawn in
            // screen pixels, so the font is given in them.
            QFont font = it->data(Qt::FontRole).isValid() ? it->font() : this->font();
            if (font.pointSizeF() > 0)
                font.setPixelSize(qRound(Length::points(font.pointSizeF()).toPixels()));
            painter.setFont(font);
            if (file)
                file->noteFont(font);
            painter.setPen(palette().color(QPalette::Text));
            painter.drawText(cell.adjusted(3, 0, -3, 0), int(it->textAlignment()), it->text());
        }
        y += height;
    }
    paintCutMarks(painter, pictures);
    painter.restore();
}

void AdvancedGrid::paintCutMarks(QPainter& painter, const std::vector<QRectF>& pictures) const
{
    constexpr double gap = 2; // between a corner and its marks, so no mark touches the card
    const auto onAPicture = [&pictures](const QLineF& mark) {
        const QRectF box = QRectF(mark.p1(), mark.p2()).normalized().adjusted(-0.5, -0.5, 0.5, 0.5);
        return std::any_of(pictures.begin(), pictures.end(),
                           [&box](const QRectF& p) { return p.intersects(box); });
    };
    // 0.2 mm: visible to the cutter, too thin to show beside a card that is cut a little wide.
    painter.setPen(QPen(Qt::black, Length::millimetres(0.2).toPixels(), Qt::SolidLine, Qt::FlatCap));
    for (const QRectF& picture : pictures) {
        for (const QPointF corner :
             {picture.topLeft(), picture.topRight(), picture.bottomLeft(), picture.bottomRight()}) {
            const double outX = corner.x() == picture.left() ? -1 : 1;
            const double outY = corner.y() == picture.top() ? -1 : 1;
            const QLineF across(corner + QPointF(outX * gap, 0), corner + QPointF(outX * cutMarkReach, 0));
            const QLineF down(corner + QPointF(0, outY * gap), corner + QPointF(0, outY * cutMarkReach));
            for (const QLineF& mark : {across, down}) {
                if (!onAPicture(mark))
                    painter.drawLine(mark);
            }
        }
    }
}
