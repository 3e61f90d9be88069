// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "formats/graphics/GridCell.h"

#include <QTableWidget>

#include <vector>

// A table of text and picture cells on the screen. Rows and columns count from 0 and carry no
// headers; the cursor cell is the cell the user last selected. Pictures are shown centred in
// their cell, scaled to it with their proportions kept. The grid draws no paper: what it
// holds is read out through its cells, sizes, kinds and styles, and printed by whoever owns
// the document it shows.
class AdvancedGrid : public QTableWidget {
    Q_OBJECT
public:
    // Codes of setColumnStyle and formatRange.
    static constexpr int centredStyle = 2;

    explicit AdvancedGrid(QWidget* parent = nullptr);
    ~AdvancedGrid() override;

    // Later cells of a picture column are not edited by typing.
    void setColumnKind(int column, GridCell::Kind kind);
    GridCell::Kind columnKind(int column) const;
    // Style code 2 centres the column's cells; any other code aligns them to the left.
    void setColumnStyle(int column, int code);
    int columnStyle(int column) const;
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

private:
    class PictureDelegate;

    Qt::Alignment columnAlignment(int column) const;

    std::vector<GridCell::Kind> m_columnKinds;
    std::vector<int> m_columnStyles;
};
