// SPDX-License-Identifier: GPL-3.0-or-later
#include "cards/CardSheet.h"

#include "archive/ProgramFolder.h"
#include "archive/Recordset.h"
#include "cards/CardComposer.h"
#include "formats/IniFile.h"
#include "formats/SafeFile.h"
#include "formats/SettingText.h"
#include "formats/graphics/Picture.h"
#include "widgets/AdvancedGrid.h"

#include <QBuffer>
#include <QFile>
#include <QHeaderView>
#include <QImageWriter>
#include <QPdfWriter>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace CardSheet {

namespace {

// The PDF writer checks none of its writes; this file keeps the first failure and its cause,
// so a full disk is reported as such instead of leaving a fragment that passes for a file.
class CheckedFile final : public QIODevice {
public:
    explicit CheckedFile(const QString& path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666))
    {
        m_failure = m_fd < 0 ? errno : 0;
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }
    ~CheckedFile() override { finish(); }

    // Closes the file; the errno of the first failure, 0 when every byte was written.
    int finish()
    {
        if (m_fd >= 0 && ::close(std::exchange(m_fd, -1)) != 0 && m_failure == 0)
            m_failure = errno;
        return m_failure;
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override
    {
        qint64 left = size;
        while (m_failure == 0 && left > 0) {
            const ssize_t n = ::write(m_fd, data, size_t(left));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                m_failure = n < 0 ? errno : ENOSPC;
                break;
            }
            data += n;
            left -= n;
        }
        // The writer goes on regardless; what it writes after a failure is thrown away.
        return size;
    }

private:
    int m_fd = -1;
    int m_failure = 0;
};

// The reason alone, without the name of the temporary file it happened to.
QString reasonOnly(const QString& error)
{
    const qsizetype after = error.indexOf(QStringLiteral("”："));
    return after >= 0 ? error.mid(after + 2) : error;
}

} // namespace

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

int fill(AdvancedGrid& grid, Recordset& records, const CardComposer& composer, CardSize size,
         QStringList* unreadablePhotos, QStringList* damagedPhotos)
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

int writePdf(const AdvancedGrid& grid, const QString& path, QString* error)
{
    int pages = 0;
    const auto print = [&grid, &pages](const QString& temporary, QString* reason) {
        CheckedFile file(temporary);
        QPdfWriter writer(&file);
        writer.setResolution(1200);
        writer.setPageLayout(grid.defaultPageLayout());
        QString finishing;
        pages = grid.paintPages(writer, temporary, &finishing);
        if (const int failure = file.finish(); failure != 0) {
            *reason = SafeFile::describeError(failure);
            pages = 0;
        } else if (pages == 0) {
            *reason = finishing.isEmpty() ? QStringLiteral("证件页没有画出来") : reasonOnly(finishing);
        }
        return pages > 0;
    };
    QString failure;
    if (!SafeFile::writeWith(path, print, &failure)) {
        if (error)
            *error = reasonOnly(failure);
        return 0;
    }
    return pages;
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
