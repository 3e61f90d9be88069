// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "formats/graphics/GridCell.h"

#include <QByteArray>
#include <QImage>
#include <QPoint>
#include <QString>
#include <QStringList>

#include <vector>

class CardComposer;
class Recordset;

// The sheet of cards as a document: a table of cells with the width of each column and the
// height of each row, in grid pixels. Cards go two per row in columns 1 and 3, with spacer
// columns 0 and 2 and a spacer row between card rows; any cell may hold a card, a picture or a
// text, as the user arranged them on the screen. The grid shows it, and the renderer lays it
// onto paper, the print preview and PDF files alike; it needs no window.
class CardSheet {
public:
    static constexpr int columns = 4;
    static constexpr int initialRows = 20;
    static constexpr int spacerWidth = 30;  // the grid's default column width
    static constexpr int spacerHeight = 40; // the grid's default row height
    static constexpr int maxCardWidth = 400;
    static constexpr int maxCardHeight = 300;
    // Larger stored sizes are kept as they are but shown at this size.
    static constexpr int largestShownSize = 4000;

    // The size of one card cell, in grid pixels.
    struct CardSize {
        int width = 350;
        int height = 230;
        bool operator==(const CardSize&) const = default;
    };

    // 证件宽度 and 证件高度 of the settings file, unbounded: the bounds apply when the window saves.
    static CardSize loadCardSize(const QString& appFolder);
    // Writes the height, then the width, in one go; answers whether they were written.
    static bool saveCardSize(const QString& appFolder, CardSize size, QString* error = nullptr);

    // The cell of the card of the record at `index` (from 0): x is the column, y the row.
    static QPoint cellOf(int index);
    // Rows for that many cards: card rows with spacer rows between them.
    static int rowCount(int cards);

    // A card's screen picture as the grid holds it: JPEG bytes, about a tenth of the picture in
    // memory. Paper draws the card itself, never these.
    static QByteArray encode(const QImage& card);

    // An empty table of `columns` spacer-wide columns and no rows.
    explicit CardSheet(int columnCount = columns);

    int rows() const { return int(m_rowHeights.size()); }
    int columnCount() const { return int(m_columns.size()); }
    // Rows are added at or removed from the end, spacer-high and empty.
    void setRows(int rows);

    // Sizes below zero count as zero: the cell is not shown.
    int rowHeight(int row) const;
    void setRowHeight(int row, int height);
    int columnWidth(int column) const;
    void setColumnWidth(int column, int width);
    // A picture column holds cards; it keeps its place on paper even while empty.
    bool isPictureColumn(int column) const;
    void setPictureColumn(int column, bool picture);
    // Texts of a centred column are centred in their cells, others aligned to the left.
    bool isCentred(int column) const;
    void setCentred(int column, bool centred);

    // The size of a card as the sheet was filled: its first picture column's width and its
    // first row's height, which is a row of cards.
    CardSize cardSize() const;

    // A cell outside the table reads as empty text and is not set.
    const GridCell& cell(int row, int column) const;
    void setCell(int row, int column, GridCell cell);
    bool rowIsBlank(int row) const;

    // Replaces the whole sheet with the cards of `records` from their first record, so no card
    // of an earlier selection (nor a pasted one) stays. Each cell holds the card's screen
    // picture and the card itself, which paper draws again. Answers the number of cards
    // placed; a student whose photo cannot be shown is said in `unreadablePhotos`
    // ("张三（七(1)班）的照片无法显示：…"), and one whose photo shows only in part, from what of
    // it decodes, in `damagedPhotos` (which costs a check of every photo).
    int fill(Recordset& records, const CardComposer& composer, CardSize size,
             QStringList* unreadablePhotos = nullptr, QStringList* damagedPhotos = nullptr);

private:
    struct Column {
        int width = spacerWidth;
        bool picture = false;
        bool centred = false;
    };

    std::vector<Column> m_columns;
    std::vector<int> m_rowHeights;
    std::vector<GridCell> m_cells; // row by row
};
