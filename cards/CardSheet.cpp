// SPDX-License-Identifier: GPL-3.0-or-later
#include "cards/CardSheet.h"

#include "cards/CardComposer.h"
#include "platform/IniFile.h"
#include "platform/ProgramFolder.h"
#include "platform/Recordset.h"
#include "platform/SettingText.h"
#include "platform/widgets/AdvancedGrid.h"

#include <QBuffer>
#include <QHeaderView>
#include <QImageWriter>
#include <QPrinter>

namespace CardSheet {

CardSize loadCardSize(const QString& appFolder)
{
    const QString file = ProgramFolder::settingsFile(appFolder);
    const CardSize defaults;
    return {IniFile::readInteger(file, u"sys", u"证件宽度", defaults.width),
            IniFile::readInteger(file, u"sys", u"证件高度", defaults.height)};
}

bool saveCardSize(const QString& appFolder, CardSize size, QString* error)
{
    return IniFile::write(ProgramFolder::settingsFile(appFolder), u"sys",
                          {{QStringLiteral("证件高度"), SettingText::fromInteger(size.height)},
                           {QStringLiteral("证件宽度"), SettingText::fromInteger(size.width)}},
                          error);
}

void defineGrid(AdvancedGrid& grid)
{
    grid.setColumnCount(columns);
    grid.horizontalHeader()->setDefaultSectionSize(spacerWidth);
    grid.verticalHeader()->setDefaultSectionSize(spacerHeight);
    grid.setRowCount(initialRows);
}

QPoint cellOf(int index) { return {index % 2 == 0 ? 1 : 3, 2 * (index / 2)}; }

int rowCount(int cards)
{
    const int cardRows = cards <= 0 ? 0 : (cards + 1) / 2;
    return cardRows == 0 ? 0 : 2 * cardRows - 1;
}

int fill(AdvancedGrid& grid, Recordset& records, const CardComposer& composer, CardSize size)
{
    const int count = std::max(records.recordCount(), 0);
    grid.setRowCount(0);
    grid.setRowCount(rowCount(count));
    // A size of zero hides the cells; a negative one cannot be shown and counts as zero, and
    // one near the integer limit would overflow the grid's sums of cell sizes.
    const int width = std::clamp(size.width, 0, largestShownSize);
    const int height = std::clamp(size.height, 0, largestShownSize);
    for (int column : {1, 3}) {
        grid.setColumnWidth(column, width);
        grid.setColumnKind(column, GridCell::Kind::Picture);
        grid.setColumnStyle(column, AdvancedGrid::centredStyle);
    }
    records.moveFirst();
    int placed = 0;
    for (; placed < count && !records.atEnd(); ++placed) {
        const QPoint cell = cellOf(placed);
        if (cell.x() == 1)
            grid.setRowHeight(cell.y(), height);
        const CardFields fields = CardFields::fromRecord(records);
        grid.setCell(cell.y(), cell.x(),
                     GridCell::fromPicture(encode(composer.compose(fields)), composer.card(fields)));
        records.moveNext();
    }
    return placed;
}

int writePdf(const AdvancedGrid& grid, const QString& path)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    printer.setPageLayout(grid.defaultPageLayout());
    return grid.paintPages(printer, path);
}

QByteArray encode(const QImage& card)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "JPEG");
    writer.setQuality(92);
    writer.write(card);
    return bytes;
}

} // namespace CardSheet
