// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QImage>
#include <QPoint>
#include <QString>
#include <QStringList>

class AdvancedGrid;
class CardComposer;
class Recordset;

// The sheet of cards: two per row in columns 1 and 3, with spacer columns 0 and 2 and a
// spacer row between card rows. The preview window, printing and the command line all lay
// cards out through here, so screen, paper and file agree.
namespace CardSheet {

constexpr int columns = 4;
constexpr int initialRows = 20;
constexpr int spacerWidth = 30;  // the grid's default column width
constexpr int spacerHeight = 40; // the grid's default row height
constexpr int maxCardWidth = 400;
constexpr int maxCardHeight = 300;
// Larger stored sizes are kept as they are but shown at this size.
constexpr int largestShownSize = 4000;

// The size of one card cell, in grid pixels.
struct CardSize {
    int width = 350;
    int height = 230;
    bool operator==(const CardSize&) const = default;
};

// 证件宽度 and 证件高度 of the settings file, unbounded: the bounds apply when the window saves.
CardSize loadCardSize(const QString& appFolder);
// Writes the height, then the width, in one go; answers whether they were written.
bool saveCardSize(const QString& appFolder, CardSize size, QString* error = nullptr);

// Gives a new grid the sheet's columns and default cell sizes.
void defineGrid(AdvancedGrid& grid);

// The cell of the card of the record at `index` (from 0): x is the column, y the row.
QPoint cellOf(int index);
// Grid rows for that many cards: card rows with spacer rows between them.
int rowCount(int cards);

// Replaces the whole sheet with the cards of `records` from their first record, so no card of
// an earlier selection (nor a pasted one) stays. Each cell holds the card's screen picture and
// the card itself, which paper draws again. Answers the number of cards placed; a student
// whose photo cannot be shown is said in `unreadablePhotos` ("张三（七(1)班）的照片无法显示：…"),
// and one whose photo shows only in part, from what of it decodes, in `damagedPhotos`
// (which costs a check of every photo).
int fill(AdvancedGrid& grid, Recordset& records, const CardComposer& composer, CardSize size,
         QStringList* unreadablePhotos = nullptr, QStringList* damagedPhotos = nullptr);

// Prints the sheet into a PDF file a print shop takes as it is: on the paper a file starts on,
// the texts as text and the JPEG pictures as stored. The file is replaced whole or not at all
// (a full disk leaves the old one). Answers the number of pages, 0 with the reason alone ("磁盘已满")
// when the file could not be written.
int writePdf(const AdvancedGrid& grid, const QString& path, QString* error = nullptr);

// A card's screen picture as the grid holds it: JPEG bytes, about a tenth of the picture in
// memory. Paper draws the card itself, never these.
QByteArray encode(const QImage& card);

} // namespace CardSheet
