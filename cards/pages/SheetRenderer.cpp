// SPDX-License-Identifier: GPL-3.0-or-later
#include "cards/pages/SheetRenderer.h"

#include "cards/pages/CardSheet.h"
#include "formats/Length.h"
#include "formats/SafeFile.h"
#include "formats/graphics/PdfFinisher.h"
#include "formats/graphics/Picture.h"

#include <QFile>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Narrow margins: a sheet of two 350-pixel cards with its spacer columns is 201 mm wide.
const Length pageMargin = Length::millimetres(4);

// Draws a picture cell on paper: its drawing at the device's resolution when it has one,
// else its picture's own pixels. Answers where the picture went.
QRectF paintPicture(QPainter& painter, const GridCell& content, const QRect& cell, PdfFinisher* file)
{
    if (content.drawing) {
        const QRect target = pictureRect(content.drawing->size(), cell);
        content.drawing->paint(painter, target, file);
        return target;
    }
    const QByteArray& bytes = content.picture;
    const PdfFinisher::JpegFrame frame = PdfFinisher::jpegFrame(bytes);
    if (const QImage standIn = file && frame.components ? file->standIn(bytes) : QImage();
        !standIn.isNull()) {
        const QRect target = pictureRect(QSize(frame.width, frame.height), cell);
        painter.drawImage(target, standIn);
        return target;
    }
    const QImage picture = Picture::decode(bytes);
    if (picture.isNull())
        return {};
    const QRect target = pictureRect(picture.size(), cell);
    painter.drawImage(target, picture);
    return target;
}

void paintCutMarks(QPainter& painter, const std::vector<QRectF>& pictures)
{
    constexpr double gap = 2; // between a corner and its marks, so no mark touches the card
    const auto onAPicture = [&pictures](const QLineF& mark) {
        const QRectF box = QRectF(mark.p1(), mark.p2()).normalized().adjusted(-0.5, -0.5, 0.5, 0.5);
        return std::any_of(pictures.begin(), pictures.end(),
                           [&box](const QRectF& p) { return p.intersects(box); });
    };
    const double reach = SheetRenderer::cutMarkReach;
    // 0.2 mm: visible to the cutter, too thin to show beside a card that is cut a little wide.
    painter.setPen(QPen(Qt::black, Length::millimetres(0.2).toPixels(), Qt::SolidLine, Qt::FlatCap));
    for (const QRectF& picture : pictures) {
        for (const QPointF corner :
             {picture.topLeft(), picture.topRight(), picture.bottomLeft(), picture.bottomRight()}) {
            const double outX = corner.x() == picture.left() ? -1 : 1;
            const double outY = corner.y() == picture.top() ? -1 : 1;
            const QLineF across(corner + QPointF(outX * gap, 0), corner + QPointF(outX * reach, 0));
            const QLineF down(corner + QPointF(0, outY * gap), corner + QPointF(0, outY * reach));
            for (const QLineF& mark : {across, down}) {
                if (!onAPicture(mark))
                    painter.drawLine(mark);
            }
        }
    }
}

// The PDF writer checks none of its writes; this file keeps the first failure and its cause,
// so a full disk is reported as such instead of leaving a fragment that passes for a file.
class CheckedFile final : public QIODevice {
public:
    explicit CheckedFile(const QString& path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666))
    {
        m_failure = m_fd < 0 ? errno : 0;
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }
    ~CheckedFile() override { finish(); }

    // Closes the file; the errno of the first failure, 0 when every byte was written.
    int finish()
    {
        if (m_fd >= 0 && ::close(std::exchange(m_fd, -1)) != 0 && m_failure == 0)
            m_failure = errno;
        return m_failure;
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override
    {
        qint64 left = size;
        while (m_failure == 0 && left > 0) {
            const ssize_t n = ::write(m_fd, data, size_t(left));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                m_failure = n < 0 ? errno : ENOSPC;
                break;
            }
            data += n;
            left -= n;
        }
        // The writer goes on regardless; what it writes after a failure is thrown away.
        return size;
    }

private:
    int m_fd = -1;
    int m_failure = 0;
};

// The reason alone, without the name of the temporary file it happened to.
QString reasonOnly(const QString& error)
{
    const qsizetype after = error.indexOf(QStringLiteral("”："));
    return after >= 0 ? error.mid(after + 2) : error;
}

} // namespace

SheetRenderer::SheetRenderer(const CardSheet& sheet, Paper paper)
    : m_sheet(sheet)
    , m_paper(paper)
{
    if (paper != Paper::CardPrinter)
        return;
    for (int row = 0; row < sheet.rows(); ++row) {
        for (int column = 0; column < sheet.columnCount(); ++column) {
            if (sheet.cell(row, column).holdsPicture())
                m_cards.emplace_back(row, column);
        }
    }
}

QSizeF SheetRenderer::cardMillimetres() const
{
    const CardSheet::CardSize size = m_sheet.cardSize();
    return {Length::pixels(size.width).toMillimetres(), Length::pixels(size.height).toMillimetres()};
}

QPageLayout SheetRenderer::defaultPageLayout() const
{
    if (m_paper == Paper::CardPrinter) {
        const QSizeF card = cardMillimetres();
        const QSizeF page(card.width() + 2 * bleedMillimetres, card.height() + 2 * bleedMillimetres);
        return QPageLayout(QPageSize(page, QPageSize::Millimeter, QString(), QPageSize::ExactMatch),
                           QPageLayout::Portrait, QMarginsF(), QPageLayout::Millimeter);
    }
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

SheetRenderer::PageLayout SheetRenderer::layOut(QSizeF area) const
{
    PageLayout layout;
    const double across = Length::inches(area.width()).toPixels();
    const double down = Length::inches(area.height()).toPixels() - 2 * cutMarkReach;
    const auto [contentLeft, width] = printedColumns();
    int tallest = 0;
    for (int row = 0; row < m_sheet.rows(); ++row)
        tallest = std::max(tallest, m_sheet.rowHeight(row));
    // Scaled evenly, so that the widest sheet and the tallest row still fit one page whole,
    // the cut marks beside the outer cards included.
    const double marked = width + 2 * cutMarkReach;
    if (marked > across && across > 0)
        layout.scale = across / marked;
    if (tallest * layout.scale > down && down > 0)
        layout.scale = down / tallest;
    // What is printed is centred, not the sheet: an empty spacer column at one side would
    // leave a wider white margin there. Every page is placed alike, so backs and fronts match.
    layout.left = (across / layout.scale - width) / 2 - contentLeft;

    const double available = down / layout.scale;
    double used = 0;
    for (int row = 0; row < m_sheet.rows(); ++row) {
        const int height = m_sheet.rowHeight(row);
        const bool starting = layout.rows.empty() || used + height > available;
        // Blank space at the top of a page would only push the cards down.
        if (starting && (height == 0 || m_sheet.rowIsBlank(row)))
            continue;
        if (starting) {
            layout.rows.emplace_back(row, row);
            used = height;
        } else {
            layout.rows.back().second = row;
            used += height;
        }
    }
    // An empty sheet still prints, as one empty page.
    if (layout.rows.empty())
        layout.rows.emplace_back(0, -1);
    return layout;
}

std::pair<double, double> SheetRenderer::printedColumns() const
{
    // A picture column counts even when empty: a sheet of one card puts it where a full
    // sheet would, as cards printed on pre-cut card stock need.
    const int columns = m_sheet.columnCount();
    std::vector<bool> used(size_t(columns), false);
    for (int column = 0; column < columns; ++column)
        used[size_t(column)] = m_sheet.isPictureColumn(column);
    for (int row = 0; row < m_sheet.rows(); ++row) {
        for (int column = 0; column < columns; ++column) {
            if (!m_sheet.cell(row, column).isBlank())
                used[size_t(column)] = true;
        }
    }
    const auto first = std::find(used.begin(), used.end(), true);
    const int firstColumn = first == used.end() ? 0 : int(first - used.begin());
    const int lastColumn = first == used.end()
                               ? columns - 1
                               : int(used.rend() - std::find(used.rbegin(), used.rend(), true)) - 1;
    double left = 0;
    for (int column = 0; column < firstColumn; ++column)
        left += m_sheet.columnWidth(column);
    double width = 0;
    for (int column = firstColumn; column <= lastColumn; ++column)
        width += m_sheet.columnWidth(column);
    return {left, width};
}

int SheetRenderer::pageCount(const QPageLayout& page) const
{
    if (m_paper == Paper::CardPrinter) {
        const QSizeF card = cardMillimetres();
        return card.isEmpty() ? 0 : int(m_cards.size());
    }
    return int(layOut(page.paintRect(QPageLayout::Inch).size()).rows.size());
}

void SheetRenderer::paintPage(QPainter& painter, const QPageLayout& page, int index, double dotsPerInch,
                              PdfFinisher* file) const
{
    if (m_paper == Paper::CardPrinter) {
        paintCard(painter, page, index, dotsPerInch, file);
        return;
    }
    const PageLayout layout = layOut(page.paintRect(QPageLayout::Inch).size());
    if (index < 0 || size_t(index) >= layout.rows.size())
        return;
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setRenderHint(QPainter::Antialiasing);
    // A PDF keeps decoded pixels as they are instead of compressing them as JPEG again.
    painter.setRenderHint(QPainter::LosslessImageRendering);
    const double scale = Length::pixels(layout.scale).toDots(dotsPerInch);
    painter.scale(scale, scale);
    painter.translate(layout.left, cutMarkReach);
    paintRows(painter, layout, index, file);
    painter.restore();
}

void SheetRenderer::paintRows(QPainter& painter, const PageLayout& layout, int page, PdfFinisher* file) const
{
    const auto [firstRow, lastRow] = layout.rows[size_t(page)];
    std::vector<QRectF> pictures;
    int y = 0;
    for (int row = firstRow; row <= lastRow; ++row) {
        const int height = m_sheet.rowHeight(row);
        int x = 0;
        for (int column = 0; column < m_sheet.columnCount(); ++column) {
            const int width = m_sheet.columnWidth(column);
            const QRect cell(x, y, width, height);
            x += width;
            const GridCell& content = m_sheet.cell(row, column);
            if (cell.isEmpty())
                continue;
            if (content.kind == GridCell::Kind::Picture) {
                const QRectF drawn = paintPicture(painter, content, cell, file);
                if (!drawn.isEmpty())
                    pictures.push_back(drawn);
                continue;
            }
            if (content.text.isEmpty())
                continue;
            // Point sizes would be taken at the printer's resolution; the page is drawn in
            // screen pixels, so the font is given in them.
            QFont font;
            if (font.pointSizeF() > 0)
                font.setPixelSize(qRound(Length::points(font.pointSizeF()).toPixels()));
            painter.setFont(font);
            if (file)
                file->noteFont(font);
            painter.setPen(Qt::black);
            const Qt::Alignment alignment =
                m_sheet.isCentred(column) ? Qt::Alignment(Qt::AlignCenter) : Qt::AlignLeft | Qt::AlignVCenter;
            painter.drawText(cell.adjusted(3, 0, -3, 0), int(alignment), content.text);
        }
        y += height;
    }
    paintCutMarks(painter, pictures);
}

void SheetRenderer::paintCard(QPainter& painter, const QPageLayout& page, int index, double dotsPerInch,
                              PdfFinisher* file) const
{
    const QSizeF card = cardMillimetres();
    if (index < 0 || size_t(index) >= m_cards.size() || card.isEmpty())
        return;
    const GridCell& content = m_sheet.cell(m_cards[size_t(index)].first, m_cards[size_t(index)].second);
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::LosslessImageRendering);
    const double scale = Length::millimetres(1).toDots(dotsPerInch);
    painter.scale(scale, scale);
    // Centred on the whole sheet of paper, margins included: a card printer's page is the card,
    // and on larger paper a test print shows the card at its size.
    painter.translate(-page.paintRect(QPageLayout::Millimeter).topLeft());
    const QRectF paper = page.fullRect(QPageLayout::Millimeter);
    const QRectF target(paper.center() - QPointF(card.width() / 2, card.height() / 2), card);
    // The card covers the whole card, not only the share of its cell its proportions fill on a
    // sheet: a card printer prints to the card's edges.
    if (content.drawing) {
        // A PDF's page is whole points: the band reaches past the paper's edge, not short of it.
        const double bleed = bleedMillimetres + Length::points(1).toMillimetres();
        content.drawing->paintBleed(painter, target, QMarginsF(bleed, bleed, bleed, bleed));
        content.drawing->paint(painter, target, file);
    } else if (const QImage picture = Picture::decode(content.picture); !picture.isNull()) {
        painter.drawImage(target, picture);
    }
    painter.restore();
}

PageSource SheetRenderer::pages() const
{
    return {[this](const QPageLayout& page) { return pageCount(page); },
            [this](QPainter& painter, const QPageLayout& page, int index, double dotsPerInch,
                   PdfFinisher* file) { paintPage(painter, page, index, dotsPerInch, file); }};
}

int SheetRenderer::print(QPagedPaintDevice& device, const QString& pdfFile, QString* error) const
{
    return printPages(device, pages(), pdfFile, error);
}

int SheetRenderer::writePdf(const QString& path, QString* error) const
{
    int pages = 0;
    const auto print = [this, &pages](const QString& temporary, QString* reason) {
        CheckedFile file(temporary);
        QPdfWriter writer(&file);
        writer.setResolution(1200);
        writer.setPageLayout(defaultPageLayout());
        QString finishing;
        pages = this->print(writer, temporary, &finishing);
        if (const int failure = file.finish(); failure != 0) {
            *reason = SafeFile::describeError(failure);
            pages = 0;
        } else if (pages == 0) {
            *reason = finishing.isEmpty() ? QStringLiteral("证件页没有画出来") : reasonOnly(finishing);
        }
        return pages > 0;
    };
    QString failure;
    if (!SafeFile::writeWith(path, print, &failure)) {
        if (error)
            *error = reasonOnly(failure);
        return 0;
    }
    return pages;
}
