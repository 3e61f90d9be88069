// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <map>
#include <utility>

// The first worksheet of a workbook the program makes for the operator to look at and save:
// text cells, some centred, and column widths in the spreadsheet's character units.
class NewWorkbook {
public:
    struct Cell {
        QString text;
        bool centred = false;
    };

    void setCell(int row, int column, const QString& text, bool centred = false);
    void setColumnWidth(int column, double characters);

    const std::map<std::pair<int, int>, Cell>& cells() const { return m_cells; }
    const std::map<int, double>& columnWidths() const { return m_widths; }

    // Writes an Excel template (.xltx): a spreadsheet program opens it as a new, untitled
    // workbook, so the operator saves it under a name of their own.
    bool writeTemplate(const QString& path, QString* error) const;

private:
    std::map<std::pair<int, int>, Cell> m_cells;
    std::map<int, double> m_widths;
};
