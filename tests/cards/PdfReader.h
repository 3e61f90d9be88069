// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDir>
#include <QFile>
#include <QImage>
#include <QList>
#include <QProcess>
#include <QRect>
#include <QRegularExpression>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

// Reads a PDF file back with poppler's tools, as a print shop's software would see it.
namespace pdf {

inline QString run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

// 0 when the file is missing or not a PDF.
inline int pageCount(const QString& file)
{
    const auto match =
        QRegularExpression(QStringLiteral("^Pages:\\s+(\\d+)"), QRegularExpression::MultilineOption)
            .match(run(QStringLiteral("pdfinfo"), {file}));
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

// Page sizes in millimetres, one per page, as poppler reads the file.
inline QList<QSizeF> pageSizes(const QString& file)
{
    QList<QSizeF> sizes;
    const QString info =
        run(QStringLiteral("pdfinfo"),
            {QStringLiteral("-f"), QStringLiteral("1"), QStringLiteral("-l"), QStringLiteral("99999"), file});
    const QRegularExpression size(QStringLiteral("^Page\\s+\\d+ size:\\s+([\\d.]+) x ([\\d.]+) pts"),
                                  QRegularExpression::MultilineOption);
    for (auto it = size.globalMatch(info); it.hasNext();) {
        const auto match = it.next();
        constexpr double mmPerPoint = 25.4 / 72;
        sizes.append({match.captured(1).toDouble() * mmPerPoint, match.captured(2).toDouble() * mmPerPoint});
    }
    return sizes;
}

struct Image {
    int page;
    int width;
    int height;
    QString encoding; // "jpeg" for DCT, "image" for Flate …
    int object;       // the same number for every showing of one embedded picture
    int xPpi;
};

// The pictures drawn on the pages, in page order.
inline QList<Image> images(const QString& file)
{
    QList<Image> list;
    const QStringList lines = run(QStringLiteral("pdfimages"), {QStringLiteral("-list"), file}).split(u'\n');
    for (const QString& line : lines.mid(2)) {
        const QStringList f = line.split(u' ', Qt::SkipEmptyParts);
        if (f.size() >= 13 && f[2] == u"image")
            list.append({f[0].toInt(), f[3].toInt(), f[4].toInt(), f[8], f[10].toInt(), f[12].toInt()});
    }
    return list;
}

// The JPEG pictures of the file, each once, exactly as the file holds them.
inline QList<QByteArray> jpegs(const QString& file)
{
    QTemporaryDir dir;
    run(QStringLiteral("pdfimages"), {QStringLiteral("-j"), file, dir.filePath(QStringLiteral("image"))});
    QList<QByteArray> list;
    for (const QString& name :
         QDir(dir.path()).entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name)) {
        QFile jpeg(dir.filePath(name));
        if (jpeg.open(QIODevice::ReadOnly) && !list.contains(jpeg.peek(1 << 30)))
            list.append(jpeg.readAll());
    }
    return list;
}

inline QList<int> imagesPerPage(const QString& file)
{
    QList<int> counts(pageCount(file), 0);
    for (const Image& image : images(file)) {
        if (image.page >= 1 && image.page <= counts.size())
            ++counts[image.page - 1];
    }
    return counts;
}

// The text of the file, or of one page of it.
inline QString text(const QString& file, int page = 0)
{
    QStringList arguments{QStringLiteral("-layout")};
    if (page > 0)
        arguments << QStringLiteral("-f") << QString::number(page) << QStringLiteral("-l")
                  << QString::number(page);
    return run(QStringLiteral("pdftotext"), arguments << file << QStringLiteral("-"));
}

struct Font {
    QString name;
    bool embedded;
    bool subset;
};

// The fonts of the file, as pdffonts lists them.
inline QList<Font> fonts(const QString& file)
{
    QList<Font> list;
    const QStringList lines = run(QStringLiteral("pdffonts"), {file}).split(u'\n');
    for (const QString& line : lines.mid(2)) {
        const QStringList f = line.split(u' ', Qt::SkipEmptyParts);
        if (f.size() >= 7)
            list.append({f[0], f[f.size() - 5] == u"yes", f[f.size() - 4] == u"yes"});
    }
    return list;
}

// One page rendered at the given resolution into a picture file in `dir`, in colour (PNG) or
// grey (PGM): the file's path.
inline QString renderPage(const QTemporaryDir& dir, const QString& file, int number, int dpi,
                          bool grey = false)
{
    const QString prefix = dir.filePath(QStringLiteral("page"));
    run(QStringLiteral("pdftoppm"),
        {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-f"), QString::number(number),
         QStringLiteral("-l"), QString::number(number), QStringLiteral("-singlefile"),
         grey ? QStringLiteral("-gray") : QStringLiteral("-png"), file, prefix});
    return prefix + (grey ? QStringLiteral(".pgm") : QStringLiteral(".png"));
}

// One page as a picture at the given resolution.
inline QImage page(const QString& file, int number, int dpi)
{
    QTemporaryDir dir;
    return QImage(renderPage(dir, file, number, dpi));
}

// The cards of a page on white paper, as rectangles of `image`: the long runs of ink across the
// middle of each row of cards and down the middle of each column.
inline QList<QRect> cardsOn(const QImage& image)
{
    const auto ink = [&image](int x, int y) { return qGray(image.pixel(x, y)) < 235; };
    const auto runs = [](int length, const std::function<bool(int)>& inked) {
        QList<std::pair<int, int>> found;
        int start = -1;
        for (int i = 0; i <= length; ++i) {
            const bool on = i < length && inked(i);
            if (on && start < 0)
                start = i;
            if (!on && start >= 0) {
                if (i - start > length / 10)
                    found.append({start, i - 1});
                start = -1;
            }
        }
        return found;
    };
    QList<QRect> cards;
    // Down a line a quarter of the way across, through the left column of cards.
    const int across = image.width() / 4;
    for (const auto& [top, bottom] : runs(image.height(), [&](int y) { return ink(across, y); })) {
        const int middle = (top + bottom) / 2;
        for (const auto& [left, right] : runs(image.width(), [&](int x) { return ink(x, middle); }))
            cards.append(QRect(QPoint(left, top), QPoint(right, bottom)));
    }
    return cards;
}

// The codes an independent decoder (zbarimg) reads from a picture file, as "QR-Code:…" or
// "CODE-128:…", in the decoder's order.
inline QStringList decodedCodes(const QString& picture)
{
    QProcess process;
    process.start(QStringLiteral("zbarimg"), {QStringLiteral("-q"), picture});
    process.waitForFinished(120000);
    return QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
}

// The codes of each card of one page rendered at `dpi`, card by card in reading order; a
// card with no code gives an empty list.
inline QList<QStringList> barcodes(const QString& file, int number, int dpi = 300)
{
    const QImage image = page(file, number, dpi);
    QList<QStringList> codes;
    QTemporaryDir dir;
    for (const QRect& card : cardsOn(image)) {
        const QString name = dir.filePath(QStringLiteral("card%1.png").arg(codes.size()));
        image.copy(card.adjusted(-8, -8, 8, 8)).save(name);
        codes.append(decodedCodes(name));
    }
    return codes;
}

// The codes read from one whole page at `dpi`, as a scanner held over the sheet reads them,
// sorted.
inline QStringList pageBarcodes(const QString& file, int number, int dpi)
{
    QTemporaryDir dir;
    QStringList codes = decodedCodes(renderPage(dir, file, number, dpi, true));
    codes.sort();
    return codes;
}

} // namespace pdf
