// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <vector>

// A cell by its zero-based sheet row and column.
struct CellAddress {
    int row = 0;
    int column = 0;
    friend bool operator==(const CellAddress&, const CellAddress&) = default;
};

// One worksheet's cells as the text each shows: rows[r][c] for sheet row r, column c; a null
// text where the cell is empty. Rows may be shorter than the widest one.
struct WorksheetCells {
    // As much as a cell of Excel holds. No roster needs more; a file with more is cut there,
    // with a note, so one huge cell cannot swell the program.
    static constexpr qsizetype maxCellText = 32767;
    // The most a reader takes from a file for one cell: that many characters in UTF-8.
    static constexpr qsizetype maxCellBytes = 4 * maxCellText;
    static inline const QString cutNote = QStringLiteral("……（单元格超过 32767 个字，后面的没有读入）");

    QString sheetName;
    std::vector<std::vector<QString>> rows;

    QString text(int row, int column) const
    {
        if (row < 0 || size_t(row) >= rows.size() || column < 0 || size_t(column) >= rows[size_t(row)].size())
            return {};
        return rows[size_t(row)][size_t(column)];
    }
    // Empty text is an empty cell, as every reader of the roster takes it.
    void set(int row, int column, const QString& text)
    {
        if (text.isEmpty()) {
            if (size_t(row) < rows.size() && size_t(column) < rows[size_t(row)].size())
                rows[size_t(row)][size_t(column)] = QString();
            return;
        }
        if (rows.size() <= size_t(row))
            rows.resize(size_t(row) + 1);
        auto& cells = rows[size_t(row)];
        if (cells.size() <= size_t(column))
            cells.resize(size_t(column) + 1);
        cells[size_t(column)] = text.size() > maxCellText ? text.left(maxCellText) + cutNote : text;
    }
};
