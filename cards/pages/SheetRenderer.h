// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "formats/graphics/PageSource.h"

#include <QPageLayout>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <utility>
#include <vector>

class CardSheet;
class PdfFinisher;
class QPagedPaintDevice;
class QPainter;

// Lays a card sheet onto paper and draws its pages, the one renderer of the print preview,
// the printer, PDF files and the command line. It holds the sheet by reference: the sheet
// must outlive it and the page source it gives.
//
// The sheet fills the page area the device reports, margins included: one grid pixel is
// 1/96 inch when the sheet fits across, and the whole sheet is scaled down evenly when it does
// not. Columns are never split and rows are never cut: a row that does not fit goes to the
// next page, and a page never starts with an empty row. What the sheet holds is centred across
// the page, and pictures get thin cut marks at their corners, outside every picture and inside
// the page area.
//
// For a card printer, each card of the sheet, in reading order, is a page of its own: the
// card at its size on the sheet, centred on the paper, its background reaching `bleed` past
// every edge.
class SheetRenderer {
public:
    enum class Paper { Sheets, CardPrinter };
    static constexpr double bleedMillimetres = 1;

    explicit SheetRenderer(const CardSheet& sheet, Paper paper = Paper::Sheets);

    // The paper a file starts on: A4 with narrow margins, turned to landscape when the sheet is
    // too wide for portrait but fits across; for a card printer, the card and its bleed.
    QPageLayout defaultPageLayout() const;
    // A card's size on paper.
    QSizeF cardMillimetres() const;

    // How the sheet falls onto pages whose paint area is `area` (in inches).
    struct PageLayout {
        double scale = 1;                      // paper size of a grid pixel, in 1/96 inch
        double left = 0;                       // grid pixels from the area's left edge to the sheet
                                               // (less than 0 when an empty column lies outside)
        std::vector<std::pair<int, int>> rows; // [first, last] rows of each page
    };
    PageLayout layOut(QSizeF area) const;

    int pageCount(const QPageLayout& page) const;
    // Draws page `index` of that paper; the painter's origin is the top-left corner of the
    // page's paint area and its unit one device pixel of `dotsPerInch`.
    void paintPage(QPainter& painter, const QPageLayout& page, int index, double dotsPerInch,
                   PdfFinisher* file = nullptr) const;
    // The pages of any paper, for printing and the preview.
    PageSource pages() const;

    // Draws the pages on the device, or those of its page ranges, and answers how many it drew:
    // 0 when the device could not be painted on (no printer, a file that cannot be written).
    // When the device writes the PDF file `pdfFile`, JPEG pictures go into it as they are.
    int print(QPagedPaintDevice& device, const QString& pdfFile = {}, QString* error = nullptr) const;
    // Prints the sheet into a PDF file a print shop takes as it is: on the paper a file starts
    // on, the texts as text and the JPEG pictures as stored. The file is replaced whole or not
    // at all (a full disk leaves the old one). Answers the number of pages, 0 with the reason
    // alone ("磁盘已满") when the file could not be written.
    int writePdf(const QString& path, QString* error = nullptr) const;

    // Room kept above and below the rows of a page for the cut marks, in grid pixels.
    static constexpr int cutMarkReach = 10;

private:
    void paintRows(QPainter& painter, const PageLayout& layout, int page, PdfFinisher* file) const;
    void paintCard(QPainter& painter, const QPageLayout& page, int index, double dotsPerInch,
                   PdfFinisher* file) const;
    // Where the picture columns and the columns that hold anything start, in grid pixels from
    // the sheet's left edge, and how wide they are together; the whole sheet when there are
    // none.
    std::pair<double, double> printedColumns() const;

    const CardSheet& m_sheet;
    Paper m_paper;
    std::vector<std::pair<int, int>> m_cards; // row and column of each card, for a card printer
};
