// SPDX-License-Identifier: GPL-3.0-or-later
#include "formats/graphics/PageSource.h"

#include "formats/graphics/PdfFinisher.h"

#include <QPageRanges>
#include <QPagedPaintDevice>
#include <QPainter>

int printPages(QPagedPaintDevice& device, const PageSource& source, const QString& pdfFile, QString* error)
{
    PdfFinisher finisher;
    PdfFinisher* file = pdfFile.isEmpty() ? nullptr : &finisher;
    const QPageLayout layout = device.pageLayout();
    const int count = std::max(source.count(layout), 0);
    QPainter painter;
    if (!painter.begin(&device))
        return 0;
    // The pages the print dialog asked for; all of them when it asked for none in particular.
    const QPageRanges wanted = device.pageRanges();
    int pages = 0;
    for (int page = 0; page < count; ++page) {
        if (!wanted.isEmpty() && !wanted.contains(page + 1))
            continue;
        if (pages > 0 && !device.newPage())
            return pages;
        source.paint(painter, layout, page, device.logicalDpiX(), file);
        ++pages;
    }
    if (!painter.end())
        return 0;
    return !file || finisher.finish(pdfFile, error) ? pages : 0;
}
