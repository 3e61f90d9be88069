// SPDX-License-Identifier: GPL-3.0-or-later
#include "cards/SheetGrid.h"

#include "widgets/AdvancedGrid.h"

#include <QHeaderView>

namespace SheetGrid {

void define(AdvancedGrid& grid)
{
    grid.setColumnCount(CardSheet::columns);
    grid.horizontalHeader()->setDefaultSectionSize(CardSheet::spacerWidth);
    grid.verticalHeader()->setDefaultSectionSize(CardSheet::spacerHeight);
    grid.setRowCount(CardSheet::initialRows);
}

void show(const CardSheet& sheet, AdvancedGrid& grid)
{
    grid.setRowCount(0);
    grid.setColumnCount(sheet.columnCount());
    grid.setRowCount(sheet.rows());
    for (int column = 0; column < sheet.columnCount(); ++column) {
        grid.setColumnWidth(column, sheet.columnWidth(column));
        grid.setColumnKind(column,
                           sheet.isPictureColumn(column) ? GridCell::Kind::Picture : GridCell::Kind::Text);
        grid.setColumnStyle(column, sheet.isCentred(column) ? AdvancedGrid::centredStyle : 0);
    }
    for (int row = 0; row < sheet.rows(); ++row) {
        // Each resize costs the grid's header a pass over its rows: spacer rows keep the
        // default height they were made with.
        if (grid.rowHeight(row) != sheet.rowHeight(row))
            grid.setRowHeight(row, sheet.rowHeight(row));
        for (int column = 0; column < sheet.columnCount(); ++column) {
            if (const GridCell& cell = sheet.cell(row, column); cell != GridCell())
                grid.setCell(row, column, cell);
        }
    }
}

CardSheet read(const AdvancedGrid& grid)
{
    CardSheet sheet(grid.columnCount());
    sheet.setRows(grid.rowCount());
    for (int column = 0; column < grid.columnCount(); ++column) {
        sheet.setColumnWidth(column, grid.isColumnHidden(column) ? 0 : grid.columnWidth(column));
        sheet.setPictureColumn(column, grid.columnKind(column) == GridCell::Kind::Picture);
        sheet.setCentred(column, grid.columnStyle(column) == AdvancedGrid::centredStyle);
    }
    for (int row = 0; row < grid.rowCount(); ++row) {
        sheet.setRowHeight(row, grid.isRowHidden(row) ? 0 : grid.rowHeight(row));
        for (int column = 0; column < grid.columnCount(); ++column)
            sheet.setCell(row, column, grid.getCell(row, column));
    }
    return sheet;
}

} // namespace SheetGrid
