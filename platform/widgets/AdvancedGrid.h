// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QPageLayout>
#include <QString>
#include <QTableWidget>

#include <utility>
#include <vector>

class Dialogs;
class QPagedPaintDevice;
class QPainter;

// What a grid cell holds: a text, or a picture as the bytes of an image file. Pictures stay
// compressed in the grid and are decoded when they are drawn, so a sheet of a thousand
// cards costs what their JPEG files cost.
struct GridCell {
    enum class Kind { Text = 1, Picture = 6 };

    Kind kind = Kind::Text;
    QString text;
    QByteArray picture;

    static GridCell fromText(const QString& text) { return {Kind::Text, text, {}}; }
    static GridCell fromPicture(const QByteArray& bytes) { return {Kind::Picture, {}, bytes}; }
    bool operator==(const GridCell&) const = default;
};

// A table of text and picture cells that prints as it is shown. Rows and columns count from
// 0 and carry no headers; the cursor cell is the cell the user last selected. Pictures are
// shown centred in their cell, scaled to it with their proportions kept.
//
// On paper one grid pixel is 1/96 inch, so a card keeps its size; a row or a column is never
// split across pages: what does not fit goes to the next page.
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
    void printPreview(Dialogs& dialogs);

    // The paper a sheet starts on: A4 with narrow margins, turned to landscape when the grid
    // is too wide for portrait but fits across.
    QPageLayout defaultPageLayout() const;
    // Draws the grid on the device's pages, or on those of its page ranges, and answers how
    // many it drew: 0 when the device could not be painted on (no printer, a file that cannot
    // be written).
    int paintPages(QPagedPaintDevice& device) const;

    // Splits a run of sections (row heights or column widths) into runs that fit `available`
    // each; a section larger than that gets a run of its own. Answers [first, last] pairs.
    static std::vector<std::pair<int, int>> pageBands(const std::vector<int>& sizes, int available);

private:
    class PictureDelegate;

    void paintPage(QPainter& painter, std::pair<int, int> rows, std::pair<int, int> columns) const;
    Qt::Alignment columnAlignment(int column) const;

    std::vector<GridCell::Kind> m_columnKinds;
    std::vector<int> m_columnStyles;
};
