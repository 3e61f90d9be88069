// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPageLayout>
#include <QString>

#include <functional>

class PdfFinisher;
class QPagedPaintDevice;
class QPainter;

// A document of pages drawn when they are needed, so that neither a preview nor a print
// holds more than the page at hand.
struct PageSource {
    // How many pages the document takes on paper of this layout.
    std::function<int(const QPageLayout&)> count;
    // Draws page `index` (from 0) of that layout; the painter's origin is the top-left corner
    // of the page's paint area and its unit one device pixel of `dotsPerInch`. `file`, when
    // the pages go into a PDF file, carries JPEG pictures into it as they are stored.
    std::function<void(QPainter&, const QPageLayout&, int index, double dotsPerInch, PdfFinisher* file)>
        paint;
};

// Draws the pages onto a printer or a PDF file: all of them, or those of the device's page
// ranges. When the device writes the PDF file `pdfFile`, the file is finished once written
// (PdfFinisher). Answers how many pages it drew, 0 when the device could not be painted on or
// the file could not be finished.
int printPages(QPagedPaintDevice& device, const PageSource& source, const QString& pdfFile = {},
               QString* error = nullptr);
