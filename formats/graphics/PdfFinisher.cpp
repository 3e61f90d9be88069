// SPDX-License-Identifier: GPL-3.0-or-later
#include "formats/graphics/PdfFinisher.h"

#include "formats/SafeFile.h"
#include "formats/graphics/Picture.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QRawFont>
#include <QtEndian>

#include <algorithm>
#include <map>

namespace {

// The stand-in is three pixels: a mark no real picture is likely to have, then the number of
// the picture it stands for.
constexpr QRgb standInMark = 0xff51484eu;
constexpr int standInWidth = 3;

bool fail(QString* error, const QString& reason)
{
    if (error)
        *error = reason;
    return false;
}

struct Object {
    int number;
    qsizetype offset;
    QByteArray body;
};

// The number of the picture a stand-in image object stands for, or -1.
qsizetype standInNumber(const QByteArray& body)
{
    if (!body.contains("/Subtype /Image") || !body.contains("/Width 3\n/Height 1\n"))
        return -1;
    const qsizetype start = body.indexOf("stream\n");
    const qsizetype end = body.lastIndexOf("\nendstream");
    if (start < 0 || end < start)
        return -1;
    QByteArray data = body.mid(start + 7, end - start - 7);
    if (body.left(start).contains("/FlateDecode")) {
        QByteArray sized(4, '\0');
        qToBigEndian<quint32>(standInWidth * 3, sized.data());
        data = qUncompress(sized + data);
    }
    if (data.size() != standInWidth * 3)
        return -1;
    const auto pixel = [&data](int i) {
        const auto* p = reinterpret_cast<const uchar*>(data.constData()) + 3 * i;
        return qRgb(p[0], p[1], p[2]);
    };
    if (pixel(0) != standInMark)
        return -1;
    return qsizetype(pixel(1) & 0xffffff) | (qsizetype(pixel(2) & 0xffffff) << 24);
}

using Ideographs = QHash<char16_t, char16_t>;

bool isRadical(uint unicode) { return unicode >= 0x2e80 && unicode <= 0x2fdf; }

// The ideograph each radical stands for: the one a face draws with the radical's glyph, or the
// radical's compatibility form.
Ideographs ideographsOf(const QList<QFont>& fonts)
{
    Ideographs ideographs;
    QString unified;
    for (char16_t c = 0x4e00; c <= 0x9fff; ++c)
        unified += QChar(c);
    QString radicals;
    for (char16_t c = 0x2e80; c <= 0x2fdf; ++c)
        radicals += QChar(c);
    for (const QFont& font : fonts) {
        const QRawFont raw = QRawFont::fromFont(font);
        if (!raw.isValid())
            continue;
        QHash<quint32, char16_t> byGlyph;
        const QList<quint32> glyphs = raw.glyphIndexesForString(unified);
        for (qsizetype i = glyphs.size() - 1; i >= 0; --i) {
            if (glyphs[i] != 0)
                byGlyph.insert(glyphs[i], unified[i].unicode());
        }
        const QList<quint32> radicalGlyphs = raw.glyphIndexesForString(radicals);
        for (qsizetype i = 0; i < radicalGlyphs.size(); ++i) {
            const auto it = byGlyph.constFind(radicalGlyphs[i]);
            if (radicalGlyphs[i] != 0 && it != byGlyph.cend() && !ideographs.contains(radicals[i].unicode()))
                ideographs.insert(radicals[i].unicode(), *it);
        }
    }
    for (const QChar radical : radicals) {
        const QString form = QString(radical).normalized(QString::NormalizationForm_KC);
        if (form.size() == 1 && form[0] != radical && !ideographs.contains(radical.unicode()))
            ideographs.insert(radical.unicode(), form[0].unicode());
    }
    return ideographs;
}

// One run of a font's map from glyphs back to text, its radicals mended.
QByteArray mendedRun(const QByteArray& line, const Ideographs& ideographs)
{
    QList<QByteArray> codes = line.split(' ');
    // <first> <last> <text> maps a run to consecutive text; only a run of one is mended.
    const bool single = codes.size() == 3 && codes[0] == codes[1];
    if (!single && !line.contains('['))
        return line;
    for (qsizetype i = 2; i < codes.size(); ++i) {
        QByteArray& code = codes[i];
        const qsizetype open = code.indexOf('<');
        if (open < 0 || code.size() < open + 6 || code[open + 5] != '>')
            continue;
        bool ok = false;
        const uint unicode = code.mid(open + 1, 4).toUInt(&ok, 16);
        if (!ok || !isRadical(unicode))
            continue;
        if (const auto it = ideographs.constFind(char16_t(unicode)); it != ideographs.cend())
            code.replace(open + 1, 4, QByteArray::number(*it, 16).toUpper().rightJustified(4, '0'));
    }
    return codes.join(' ');
}

// In a font's map from glyphs back to text, the Kangxi and supplementary radicals that stand
// for ideographs become the ideographs. Each code keeps its four hex digits, so the object
// keeps its length.
QByteArray ideographsForRadicals(QByteArray body, const Ideographs& ideographs)
{
    if (!body.contains("/CIDInit /ProcSet findresource begin"))
        return body;
    // The map comes in blocks of at most a hundred runs.
    for (qsizetype begin = body.indexOf("beginbfrange"); begin >= 0;
         begin = body.indexOf("beginbfrange", begin + 1)) {
        const qsizetype end = body.indexOf("endbfrange", begin);
        if (end < 0)
            break;
        QList<QByteArray> lines = body.mid(begin, end - begin).split('\n');
        for (QByteArray& line : lines)
            line = mendedRun(line, ideographs);
        body.replace(begin, end - begin, lines.join('\n'));
    }
    return body;
}

// Qt tags the name of an embedded subset in its font descriptor ("QOAAAA+Face") but not in the
// fonts that use it, so preflight tools take the subset for a whole face. Every font dictionary
// gets the tag of its descriptor's name.
class SubsetTags {
public:
    void note(const QByteArray& body)
    {
        if (!body.contains("/Type /FontDescriptor"))
            return;
        const QByteArray name = nameAfter(body, "/FontName /");
        if (name.size() > 7 && name[6] == '+' && isTag(name.left(6)))
            m_tags.insert(name.mid(7), name.left(7));
    }

    QByteArray apply(QByteArray body) const
    {
        static const QByteArray key = "/BaseFont /";
        if (m_tags.isEmpty() || !body.contains(key))
            return body;
        for (qsizetype at = body.indexOf(key); at >= 0; at = body.indexOf(key, at + 1)) {
            const QByteArray name = nameAfter(body.mid(at), key);
            if (const auto tag = m_tags.constFind(name); tag != m_tags.cend())
                body.insert(at + key.size(), *tag);
        }
        return body;
    }

private:
    static bool isTag(const QByteArray& text)
    {
        return std::all_of(text.begin(), text.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
    }

    static QByteArray nameAfter(const QByteArray& body, const QByteArray& key)
    {
        const qsizetype start = body.indexOf(key);
        if (start < 0)
            return {};
        qsizetype end = start + key.size();
        while (end < body.size() && !QByteArrayView(" \n\r\t/<>[]()").contains(body[end]))
            ++end;
        return body.mid(start + key.size(), end - start - key.size());
    }

    QHash<QByteArray, QByteArray> m_tags; // face name → "ABCDEF+"
};

QByteArray imageObject(int number, const QByteArray& jpeg, const PdfFinisher::JpegFrame& frame)
{
    const QByteArray space = frame.components == 1 ? "/DeviceGray" : "/DeviceRGB";
    return QByteArray::number(number) + " 0 obj\n<<\n/Type /XObject\n/Subtype /Image\n/Width "
           + QByteArray::number(frame.width) + "\n/Height " + QByteArray::number(frame.height)
           + "\n/BitsPerComponent 8\n/ColorSpace " + space
           + "\n/Interpolate true\n/Filter /DCTDecode\n/Length " + QByteArray::number(jpeg.size())
           + "\n>>\nstream\n" + jpeg + "\nendstream\nendobj\n";
}

} // namespace

PdfFinisher::JpegFrame PdfFinisher::jpegFrame(const QByteArray& bytes)
{
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    const qsizetype size = bytes.size();
    if (size < 4 || data[0] != 0xff || data[1] != 0xd8)
        return {};
    qsizetype at = 2;
    while (at + 4 <= size) {
        if (data[at] != 0xff)
            return {};
        const uchar marker = data[at + 1];
        if (marker == 0xff) { // fill byte
            ++at;
            continue;
        }
        const int length = (data[at + 2] << 8) | data[at + 3];
        // Baseline, extended and progressive Huffman frames are what PDF readers decode.
        if (marker == 0xc0 || marker == 0xc1 || marker == 0xc2) {
            if (at + 10 > size || data[at + 4] != 8)
                return {};
            const int height = (data[at + 5] << 8) | data[at + 6];
            const int width = (data[at + 7] << 8) | data[at + 8];
            const int components = data[at + 9];
            if (width <= 0 || height <= 0 || (components != 1 && components != 3))
                return {};
            return {width, height, components};
        }
        if ((marker >= 0xc3 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc)
            || marker == 0xda || length < 2)
            return {}; // arithmetic or lossless coding, or image data before any frame
        at += 2 + length;
    }
    return {};
}

void PdfFinisher::noteFont(const QFont& font)
{
    for (const QFont& known : std::as_const(m_fonts)) {
        if (known.family() == font.family() && known.bold() == font.bold() && known.italic() == font.italic())
            return;
    }
    m_fonts.append(font);
}

QImage PdfFinisher::standIn(const QByteArray& bytes)
{
    const size_t hash = qHash(bytes);
    for (auto it = m_byHash.constFind(hash); it != m_byHash.cend() && it.key() == hash; ++it) {
        if (m_entries[*it].bytes == bytes)
            return m_entries[*it].standIn;
    }
    const JpegFrame frame = jpegFrame(bytes);
    if (frame.components == 0)
        return {};
    // A turned photo is shown turned on the screen; the reader of the file would not turn it.
    // A damaged one is shown from what decodes; the file's reader would warn or show a gap.
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer);
    const qsizetype number = m_entries.size();
    if (Picture::integrity(bytes) != Picture::Integrity::Whole
        || reader.transformation() != QImageIOHandler::TransformationNone) {
        m_entries.append({bytes, frame, QImage()});
        m_byHash.insert(hash, number);
        return {};
    }

    QImage image(standInWidth, 1, QImage::Format_RGB32);
    image.setPixel(0, 0, standInMark);
    image.setPixel(1, 0, 0xff000000u | QRgb(number & 0xffffff));
    image.setPixel(2, 0, 0xff000000u | QRgb((number >> 24) & 0xffffff));
    m_entries.append({bytes, frame, image});
    m_byHash.insert(hash, number);
    return image;
}

bool PdfFinisher::finish(const QString& path, QString* error) const
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(error, file.errorString());
    const QByteArray pdf = file.readAll();
    file.close();

    const qsizetype startxref = pdf.lastIndexOf("startxref");
    const qsizetype trailer = pdf.lastIndexOf("trailer");
    if (startxref < 0 || trailer < 0 || trailer > startxref)
        return fail(error, QStringLiteral("PDF 文件的结构不认识"));
    const qsizetype xref = pdf.mid(startxref + 9, 24).trimmed().split('\n').value(0).trimmed().toLongLong();
    const QList<QByteArray> lines = pdf.mid(xref, trailer - xref).split('\n');
    const QList<QByteArray> range = lines.value(1).trimmed().split(' ');
    if (!lines.value(0).startsWith("xref") || range.size() != 2 || range[0] != "0")
        return fail(error, QStringLiteral("PDF 文件的结构不认识"));
    const int count = range[1].toInt();
    std::vector<Object> objects;
    for (int number = 1; number < count; ++number) {
        const QList<QByteArray> entry = lines.value(2 + number).trimmed().split(' ');
        if (entry.size() != 3 || entry[2] != "n")
            return fail(error, QStringLiteral("PDF 文件的结构不认识"));
        objects.push_back({number, entry[0].toLongLong(), {}});
    }
    std::sort(objects.begin(), objects.end(),
              [](const Object& a, const Object& b) { return a.offset < b.offset; });
    const Ideographs ideographs = ideographsOf(m_fonts);
    for (size_t i = 0; i < objects.size(); ++i) {
        const qsizetype end = i + 1 < objects.size() ? objects[i + 1].offset : xref;
        if (objects[i].offset <= 0 || end < objects[i].offset || end > pdf.size())
            return fail(error, QStringLiteral("PDF 文件的结构不认识"));
        objects[i].body = pdf.mid(objects[i].offset, end - objects[i].offset);
    }
    SubsetTags tags;
    for (const Object& object : objects)
        tags.note(object.body);
    for (Object& object : objects) {
        const qsizetype picture = standInNumber(object.body);
        if (picture >= 0 && picture < m_entries.size())
            object.body = imageObject(object.number, m_entries[picture].bytes, m_entries[picture].frame);
        else
            object.body = tags.apply(ideographsForRadicals(object.body, ideographs));
    }

    QByteArray out = pdf.left(objects.empty() ? xref : objects.front().offset);
    std::map<int, qsizetype> offsets;
    for (const Object& object : objects) {
        offsets[object.number] = out.size();
        out += object.body;
    }
    const qsizetype newXref = out.size();
    out += "xref\n0 " + QByteArray::number(count) + "\n0000000000 65535 f \n";
    for (const auto& [number, offset] : offsets)
        out += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    out += pdf.mid(trailer, startxref - trailer);
    out += "startxref\n" + QByteArray::number(newXref) + "\n%%EOF\n";
    return SafeFile::write(path, out, error);
}
