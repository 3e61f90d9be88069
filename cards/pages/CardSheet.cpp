// SPDX-License-Identifier: GPL-3.0-or-later
#include "cards/pages/CardSheet.h"

#include "archive/ProgramFolder.h"
#include "archive/Recordset.h"
#include "cards/pages/CardComposer.h"
#include "formats/IniFile.h"
#include "formats/SettingText.h"
#include "formats/graphics/Picture.h"

#include <QBuffer>
#include <QImageWriter>

CardSheet::CardSize CardSheet::loadCardSize(const QString& appFolder)
{
    const QString file = ProgramFolder::settingsFile(appFolder);
    const CardSize defaults;
    return {IniFile::readInteger(file, u"sys", u"证件宽度", defaults.width),
            IniFile::readInteger(file, u"sys", u"证件高度", defaults.height)};
}

bool CardSheet::saveCardSize(const QString& appFolder, CardSize size, QString* error)
{
    return IniFile::write(ProgramFolder::settingsFile(appFolder), u"sys",
                          {{QStringLiteral("证件高度"), SettingText::fromInteger(size.height)},
                           {QStringLiteral("证件宽度"), SettingText::fromInteger(size.width)}},
                          error);
}

QPoint CardSheet::cellOf(int index) { return {index % 2 == 0 ? 1 : 3, 2 * (index / 2)}; }

int CardSheet::rowCount(int cards)
{
    const int cardRows = cards <= 0 ? 0 : (cards + 1) / 2;
    return cardRows == 0 ? 0 : 2 * cardRows - 1;
}

CardSheet::CardSheet(int columnCount)
    : m_columns(size_t(std::max(columnCount, 0)))
{
}

void CardSheet::setRows(int rows)
{
    rows = std::max(rows, 0);
    m_rowHeights.resize(size_t(rows), spacerHeight);
    m_cells.resize(size_t(rows) * m_columns.size());
}

int CardSheet::rowHeight(int row) const { return row >= 0 && row < rows() ? m_rowHeights[size_t(row)] : 0; }

void CardSheet::setRowHeight(int row, int height)
{
    if (row >= 0 && row < rows())
        m_rowHeights[size_t(row)] = std::max(height, 0);
}

int CardSheet::columnWidth(int column) const
{
    return column >= 0 && column < columnCount() ? m_columns[size_t(column)].width : 0;
}

void CardSheet::setColumnWidth(int column, int width)
{
    if (column >= 0 && column < columnCount())
        m_columns[size_t(column)].width = std::max(width, 0);
}

bool CardSheet::isPictureColumn(int column) const
{
    return column >= 0 && column < columnCount() && m_columns[size_t(column)].picture;
}

void CardSheet::setPictureColumn(int column, bool picture)
{
    if (column >= 0 && column < columnCount())
        m_columns[size_t(column)].picture = picture;
}

bool CardSheet::isCentred(int column) const
{
    return column >= 0 && column < columnCount() && m_columns[size_t(column)].centred;
}

void CardSheet::setCentred(int column, bool centred)
{
    if (column >= 0 && column < columnCount())
        m_columns[size_t(column)].centred = centred;
}

CardSheet::CardSize CardSheet::cardSize() const
{
    int column = 0;
    while (column < columnCount() && !isPictureColumn(column))
        ++column;
    return {columnWidth(column), rowHeight(0)};
}

const GridCell& CardSheet::cell(int row, int column) const
{
    static const GridCell empty;
    if (row < 0 || row >= rows() || column < 0 || column >= columnCount())
        return empty;
    return m_cells[size_t(row) * m_columns.size() + size_t(column)];
}

void CardSheet::setCell(int row, int column, GridCell cell)
{
    if (row >= 0 && row < rows() && column >= 0 && column < columnCount())
        m_cells[size_t(row) * m_columns.size() + size_t(column)] = std::move(cell);
}

bool CardSheet::rowIsBlank(int row) const
{
    for (int column = 0; column < columnCount(); ++column) {
        if (!cell(row, column).isBlank())
            return false;
    }
    return true;
}

int CardSheet::fill(Recordset& records, const CardComposer& composer, CardSize size,
                    QStringList* unreadablePhotos, QStringList* damagedPhotos)
{
    const int count = std::max(records.recordCount(), 0);
    m_rowHeights.clear();
    m_cells.clear();
    setRows(rowCount(count));
    // A size of zero hides the cells; a negative one cannot be shown and counts as zero, and
    // one near the integer limit would overflow the grid's sums of cell sizes.
    const int width = std::clamp(size.width, 0, largestShownSize);
    const int height = std::clamp(size.height, 0, largestShownSize);
    for (int column : {1, 3}) {
        setColumnWidth(column, width);
        setPictureColumn(column, true);
        setCentred(column, true);
    }
    records.moveFirst();
    int placed = 0;
    for (; placed < count && !records.atEnd(); ++placed) {
        const QPoint cell = cellOf(placed);
        if (cell.x() == 1)
            setRowHeight(cell.y(), height);
        const CardFields fields = CardFields::fromRecord(records);
        setCell(cell.y(), cell.x(),
                GridCell::fromPicture(encode(composer.compose(fields)), composer.card(fields)));
        const QString problem = unreadablePhotos || damagedPhotos ? composer.photoProblem(fields) : QString();
        if (unreadablePhotos && !problem.isEmpty())
            *unreadablePhotos
                << QStringLiteral("%1（%2）的照片无法显示：%3").arg(fields.name, fields.className, problem);
        if (damagedPhotos && problem.isEmpty() && !fields.photo.isEmpty()
            && Picture::integrity(fields.photo) == Picture::Integrity::Damaged)
            *damagedPhotos << QStringLiteral("%1（%2）的照片已损坏，证件上只有能读出的部分")
                                  .arg(fields.name, fields.className);
        records.moveNext();
    }
    return placed;
}

QByteArray CardSheet::encode(const QImage& card)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "JPEG");
    writer.setQuality(92);
    writer.write(card);
    return bytes;
}
