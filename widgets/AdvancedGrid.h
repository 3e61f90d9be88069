// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QPageLayout>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QTableWidget>

#include <memory>
#include <utility>
#include <vector>

class Dialogs;
class QPagedPaintDevice;
class QPainter;
class PdfFinisher;
class QPrinter;
struct PageSource;

// A picture that draws itself again for every device, so paper gets it at the printer's
// resolution rather than enlarged from the pixels the screen shows.
class GridDrawing {
public:
    virtual ~GridDrawing() = default;
    // The size it is made for, which gives its proportions in a cell.
    virtual QSize size() const = 0;
    // `file`, when drawing into a PDF file, carries JPEG pictures into it as they are.
    virtual void paint(QPainter& painter, const QRectF& target, PdfFinisher* file = nullptr) const = 0;
};

// What a grid cell holds: a text, or a picture as the bytes of an image file, optionally with
// the drawing it was made from. The screen shows the bytes, which stay compressed in the grid
// and are decoded when they are drawn; paper and files draw the drawing when there is one.
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
    bool operator==(const GridCell&) const = default;
};

Q_DECLARE_METATYPE(std::shared_ptr<const GridDrawing>)

// A table of text and picture cells that prints as it is shown. Rows and columns count from
// 0 and carry no headers; the cursor cell is the cell the user last selected. Pictures are
// shown centred in their cell, scaled to it with their proportions kept.
//
// On paper the grid fills the page area the printer reports, margins included: one grid
// pixel is 1/96 inch when the grid fits across, and the whole grid is scaled down evenly when
// it does not. Columns are never split and rows are never cut: a row that does not fit goes to
// the next page, and a page never starts with an empty row. What the grid holds is centred
// across the page, and pictures get thin cut marks at their corners, outside every picture
// and inside the page area.
class AdvancedGrid : public QTableWidget {
    Q_OBJECT
public:
    // Codes of setColumnStyle and formatRange.
    static constexpr int centredStyle = 2;

    explicit AdvancedGrid(QWidget* parent = nullptr);
    ~AdvancedGrid() override;

    // Later cells of a picture column are not edited by typing.
    void setColumnKind(int column, GridCell::Kind kind);
    // Style code 2 centres the column's cells; any other code aligns them to the left.
    void setColumnStyle(int column, int code);
    // One appearance call over rows [firstRow, firstRow + rows) from firstColumn on: the
    // grid always draws its lines, and an alignment code of 2 centres the texts.
    void formatRange(int firstRow, int firstColumn, int rows, int borderCode, int alignmentCode);

    void setCell(int row, int column, const GridCell& cell);
    // A cell that was never set reads as empty text.
    GridCell getCell(int row, int column) const;
    // Stores the text of a cell still being typed into, so that a button pressed without
    // leaving the cell (a shortcut, a click that takes no focus) reads what the user sees.
    void commitEditing();

    // -1 while no cell has been selected.
    int cursorRow() const { return currentRow(); }
    int cursorColumn() const { return currentColumn(); }
    void deleteRow(int row) { removeRow(row); }

    // The system print dialog, then the pages; nothing when the user cancels.
    void print(Dialogs& dialogs);
    // Pages drawn as they are looked at, with a print button of their own.
    void printPreview(Dialogs& dialogs);

    // The paper a file starts on: A4 with narrow margins, turned to landscape when the grid is
    // too wide for portrait but fits across.
    QPageLayout defaultPageLayout() const;
    // Draws the grid on the device's pages, or on those of its page ranges, and answers how
    // many it drew: 0 when the device could not be painted on (no printer, a file that cannot
    // be written). When the device writes the PDF file `pdfFile`, JPEG pictures go into it as
    // they are stored.
    int paintPages(QPagedPaintDevice& device, const QString& pdfFile = {}, QString* error = nullptr) const;
    // The grid as pages of any page layout, for printing and the preview.
    PageSource pages() const;

    // How the grid falls onto pages whose paint area is `area` (in inches).
    struct PageLayout {
        double scale = 1;                      // paper size of a grid pixel, in 1/96 inch
        double left = 0;                       // grid pixels from the area's left edge to the grid (less
                                               // than 0 when an empty column lies outside the area)
        std::vector<std::pair<int, int>> rows; // [first, last] rows of each page
    };
    PageLayout layOut(QSizeF area) const;

    // Room kept above and below the rows of a page for the cut marks, in grid pixels.
    static constexpr int cutMarkReach = 10;

private:
    class PictureDelegate;

    // Draws one page; the painter's origin is the top-left corner of the page's paint area.
    void paintPage(QPainter& painter, const PageLayout& layout, int page, double dotsPerInch,
                   PdfFinisher* file = nullptr) const;
    void paintCutMarks(QPainter& painter, const std::vector<QRectF>& pictures) const;
    // Where the picture columns and the columns that hold anything start, in grid pixels
    // from the grid's left edge, and how wide they are together; the whole grid when there
    // are none.
    std::pair<double, double> printedColumns() const;
    int shownRowHeight(int row) const;
    int shownColumnWidth(int column) const;
    bool rowIsEmpty(int row) const;
    Qt::Alignment columnAlignment(int column) const;

    std::vector<GridCell::Kind> m_columnKinds;
    std::vector<int> m_columnStyles;
};
