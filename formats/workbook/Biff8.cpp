// SPDX-License-Identifier: GPL-3.0-or-later
#include "formats/workbook/Biff8.h"

#include "formats/workbook/CellText.h"

#include <QHash>
#include <QSet>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

enum RecordType : quint16 {
    Bof = 0x0809,
    Eof = 0x000A,
    BoundSheet = 0x0085,
    Sst = 0x00FC,
    Continue = 0x003C,
    Format = 0x041E,
    Xf = 0x00E0,
    DateMode = 0x0022,
    LabelSst = 0x00FD,
    Label = 0x0204,
    RString = 0x00D6,
    Number = 0x0203,
    Rk = 0x027E,
    MulRk = 0x00BD,
    BoolErr = 0x0205,
    Formula = 0x0006,
    String = 0x0207,
    Blank = 0x0201,
    MulBlank = 0x00BE,
    Index = 0x020B,
    DbCell = 0x00D7,
};

constexpr quint16 biff8Version = 0x0600;
constexpr quint16 worksheetType = 0x0010;

struct Record {
    quint16 type;
    qsizetype offset; // of its header in the stream
    QByteArrayView data;
    qsizetype end() const { return offset + 4 + data.size(); }
};

quint16 u16(QByteArrayView d, qsizetype at)
{
    return at + 2 <= d.size() ? qFromLittleEndian<quint16>(d.data() + at) : 0;
}
quint32 u32(QByteArrayView d, qsizetype at)
{
    return at + 4 <= d.size() ? qFromLittleEndian<quint32>(d.data() + at) : 0;
}
double f64(QByteArrayView d, qsizetype at)
{
    double value = 0;
    if (at + 8 <= d.size()) {
        const quint64 bits = qFromLittleEndian<quint64>(d.data() + at);
        std::memcpy(&value, &bits, sizeof value);
    }
    return value;
}

double rkValue(quint32 rk)
{
    double value;
    if (rk & 2) {
        value = double(qint32(rk) >> 2);
    } else {
        const quint64 bits = quint64(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&value, &bits, sizeof value);
    }
    return (rk & 1) ? value / 100.0 : value;
}

std::vector<Record> splitRecords(QByteArrayView stream)
{
    std::vector<Record> records;
    qsizetype pos = 0;
    while (pos + 4 <= stream.size()) {
        const quint16 length = u16(stream, pos + 2);
        if (pos + 4 + length > stream.size())
            break; // a cut-off tail is not a record
        records.push_back({u16(stream, pos), pos, stream.sliced(pos + 4, length)});
        pos += 4 + length;
    }
    return records;
}

QString characters(QByteArrayView d, qsizetype at, int count, bool wide)
{
    if (wide) {
        count = int(std::min<qsizetype>(count, (d.size() - at) / 2));
        QString text(count, Qt::Uninitialized);
        for (int i = 0; i < count; ++i)
            text[i] = QChar(u16(d, at + 2 * i));
        return text;
    }
    count = int(std::min<qsizetype>(count, d.size() - at));
    return count > 0 ? QString::fromLatin1(d.data() + at, count) : QString();
}

// XLUnicodeString: a 16-bit length, a flags byte, the characters.
QString unicodeString(QByteArrayView d, qsizetype at)
{
    return characters(d, at + 3, u16(d, at), d.size() > at + 2 && (d[at + 2] & 1));
}

// The SST and its CONTINUE records read as one, with the flags byte that restarts the
// characters of a string cut by a record boundary.
class ContinuedData {
public:
    explicit ContinuedData(std::vector<QByteArrayView> parts)
        : m_parts(std::move(parts))
    {
    }

    bool atEnd()
    {
        settle();
        return m_part >= m_parts.size();
    }
    bool read(char* out, qsizetype n)
    {
        while (n > 0) {
            settle();
            if (m_part >= m_parts.size())
                return false;
            const qsizetype take = std::min(n, m_parts[m_part].size() - m_pos);
            if (out) {
                std::memcpy(out, m_parts[m_part].data() + m_pos, size_t(take));
                out += take;
            }
            m_pos += take;
            n -= take;
        }
        return true;
    }
    std::optional<quint32> number(int bytes)
    {
        char buffer[4] = {};
        if (!read(buffer, bytes))
            return std::nullopt;
        return bytes == 1   ? quint8(buffer[0])
               : bytes == 2 ? qFromLittleEndian<quint16>(buffer)
                            : qFromLittleEndian<quint32>(buffer);
    }
    std::optional<QString> characters(int count, bool wide)
    {
        QString text;
        text.reserve(count);
        while (count > 0) {
            if (m_part >= m_parts.size())
                return std::nullopt;
            if (m_pos >= m_parts[m_part].size()) {
                // Characters cut by a record boundary go on after a flags byte of their own.
                if (++m_part >= m_parts.size())
                    return std::nullopt;
                m_pos = 0;
                const auto flags = number(1);
                if (!flags)
                    return std::nullopt;
                wide = *flags & 1;
                continue;
            }
            const QByteArrayView part = m_parts[m_part];
            const int take = std::min(count, int((part.size() - m_pos) / (wide ? 2 : 1)));
            if (take == 0)
                return std::nullopt; // half a wide character before the boundary
            text += ::characters(part, m_pos, take, wide);
            m_pos += qsizetype(take) * (wide ? 2 : 1);
            count -= take;
        }
        return text;
    }

private:
    void settle()
    {
        while (m_part < m_parts.size() && m_pos >= m_parts[m_part].size()) {
            ++m_part;
            m_pos = 0;
        }
    }

    std::vector<QByteArrayView> m_parts;
    size_t m_part = 0;
    qsizetype m_pos = 0;
};

QStringList sharedStrings(ContinuedData data)
{
    QStringList strings;
    const auto total = data.number(4);
    const auto unique = data.number(4);
    if (!total || !unique)
        return strings;
    for (quint32 i = 0; i < *unique && !data.atEnd(); ++i) {
        const auto count = data.number(2);
        const auto flags = data.number(1);
        if (!count || !flags)
            break;
        const bool rich = *flags & 0x08, extended = *flags & 0x04;
        const auto runs = rich ? data.number(2) : std::optional<quint32>(0);
        const auto extra = extended ? data.number(4) : std::optional<quint32>(0);
        if (!runs || !extra)
            break;
        const auto text = data.characters(int(*count), *flags & 1);
        if (!text)
            break;
        strings << *text;
        if (!data.read(nullptr, qsizetype(*runs) * 4 + qsizetype(*extra)))
            break;
    }
    return strings;
}

struct SheetEntry {
    QString name;
    quint32 position;
    quint8 type;
};

struct Globals {
    QStringList strings;
    std::vector<quint16> cellFormats; // number format id of each XF record
    QHash<int, QString> formats;
    bool date1904 = false;
    std::vector<SheetEntry> sheets;

    QString formatOf(quint16 xf) const
    {
        const int id = xf < cellFormats.size() ? cellFormats[xf] : 0;
        const auto custom = formats.constFind(id);
        return custom != formats.constEnd() ? *custom : CellText::builtInFormat(id);
    }
};

bool readGlobals(const std::vector<Record>& records, Globals* g, QString* error)
{
    if (records.empty() || records[0].type != Bof) {
        *error = QStringLiteral("不是Excel工作簿");
        return false;
    }
    if (u16(records[0].data, 0) != biff8Version) {
        *error = QStringLiteral("不支持Excel 95或更早版本的工作簿，请另存为Excel 97-2003或.xlsx格式");
        return false;
    }
    for (size_t i = 1; i < records.size() && records[i].type != Eof; ++i) {
        const Record& r = records[i];
        switch (r.type) {
        case Sst: {
            std::vector<QByteArrayView> parts{r.data};
            for (size_t j = i + 1; j < records.size() && records[j].type == Continue; ++j)
                parts.push_back(records[j].data);
            g->strings = sharedStrings(ContinuedData(std::move(parts)));
            break;
        }
        case Format:
            g->formats.insert(u16(r.data, 0), unicodeString(r.data, 2));
            break;
        case Xf:
            g->cellFormats.push_back(u16(r.data, 2));
            break;
        case DateMode:
            g->date1904 = u16(r.data, 0) == 1;
            break;
        case BoundSheet: {
            const int count = r.data.size() > 6 ? quint8(r.data[6]) : 0;
            const bool wide = r.data.size() > 7 && (r.data[7] & 1);
            g->sheets.push_back({characters(r.data, 8, count, wide), u32(r.data, 0),
                                 quint8(r.data.size() > 5 ? r.data[5] : 0)});
            break;
        }
        default:
            break;
        }
    }
    return true;
}

// The range of records [first, last] of a sheet's substream, embedded charts included.
struct SheetRange {
    size_t first = 0, last = 0;
};

std::optional<SheetRange> sheetRange(const std::vector<Record>& records, quint32 position)
{
    const auto it = std::lower_bound(records.begin(), records.end(), qsizetype(position),
                                     [](const Record& r, qsizetype pos) { return r.offset < pos; });
    if (it == records.end() || it->offset != qsizetype(position) || it->type != Bof
        || u16(it->data, 2) != worksheetType)
        return std::nullopt;
    int depth = 0;
    for (size_t i = size_t(it - records.begin()); i < records.size(); ++i) {
        if (records[i].type == Bof)
            ++depth;
        else if (records[i].type == Eof && --depth == 0)
            return SheetRange{size_t(it - records.begin()), i};
    }
    return SheetRange{size_t(it - records.begin()), records.size() - 1};
}

const SheetEntry* chooseSheet(const Globals& g, const QString& preferred, bool exact)
{
    const SheetEntry* first = nullptr;
    for (const SheetEntry& sheet : g.sheets) {
        if (sheet.type != 0)
            continue; // charts, macro and VBA sheets hold no roster
        if (!first)
            first = &sheet;
        if (exact ? sheet.name == preferred : sheet.name.compare(preferred, Qt::CaseInsensitive) == 0)
            return &sheet;
    }
    return exact ? nullptr : first;
}

// A workbook stream split into records, with the sheet to work on found in it.
struct OpenSheet {
    std::vector<Record> records;
    Globals globals;
    QString name;
    SheetRange range;
};

bool openSheet(QByteArrayView stream, const QString& name, bool exact, OpenSheet* open, QString* error)
{
    open->records = splitRecords(stream);
    if (!readGlobals(open->records, &open->globals, error))
        return false;
    const SheetEntry* entry = chooseSheet(open->globals, name, exact);
    const auto range = entry ? sheetRange(open->records, entry->position) : std::nullopt;
    if (!range) {
        *error =
            exact ? QStringLiteral("工作簿中没有工作表“%1”").arg(name) : QStringLiteral("工作簿中没有工作表");
        return false;
    }
    open->name = entry->name;
    open->range = *range;
    return true;
}

// Calls `visit(recordIndex, row, column, xf)` for every cell of the sheet's own cell table
// (MULRK and MULBLANK once per cell).
template <typename Visit> void forEachCell(const std::vector<Record>& records, SheetRange range, Visit visit)
{
    int depth = 0;
    for (size_t i = range.first; i <= range.last; ++i) {
        const Record& r = records[i];
        if (r.type == Bof) {
            ++depth;
            continue;
        }
        if (r.type == Eof) {
            --depth;
            continue;
        }
        if (depth != 1)
            continue;
        const int row = u16(r.data, 0);
        switch (r.type) {
        case LabelSst:
        case Label:
        case RString:
        case Number:
        case Rk:
        case BoolErr:
        case Formula:
        case Blank:
            if (r.data.size() >= 6)
                visit(i, row, int(u16(r.data, 2)), u16(r.data, 4));
            break;
        case MulRk:
        case MulBlank: {
            const int entry = r.type == MulRk ? 6 : 2;
            const int first = u16(r.data, 2);
            const qsizetype count = (r.data.size() - 6) / entry;
            for (qsizetype k = 0; k < count; ++k)
                visit(i, row, first + int(k), u16(r.data, 4 + k * entry));
            break;
        }
        default:
            break;
        }
    }
}

QString errorText(int code)
{
    switch (code) {
    case 0x00:
        return QStringLiteral("#NULL!");
    case 0x07:
        return QStringLiteral("#DIV/0!");
    case 0x0F:
        return QStringLiteral("#VALUE!");
    case 0x17:
        return QStringLiteral("#REF!");
    case 0x1D:
        return QStringLiteral("#NAME?");
    case 0x24:
        return QStringLiteral("#NUM!");
    default:
        return QStringLiteral("#N/A");
    }
}

QByteArray record(quint16 type, const QByteArray& data)
{
    QByteArray bytes(4, Qt::Uninitialized);
    qToLittleEndian<quint16>(type, bytes.data());
    qToLittleEndian<quint16>(quint16(data.size()), bytes.data() + 2);
    return bytes + data;
}

QByteArray cellHeader(int row, int column, quint16 xf)
{
    QByteArray data(6, Qt::Uninitialized);
    qToLittleEndian<quint16>(quint16(row), data.data());
    qToLittleEndian<quint16>(quint16(column), data.data() + 2);
    qToLittleEndian<quint16>(xf, data.data() + 4);
    return data;
}

// A MULRK with some of its cells blanked: the rest stays as RK or MULRK records around the
// blank ones.
QByteArray splitMulRk(const Record& r, const QSet<int>& blanked)
{
    const int row = u16(r.data, 0), first = u16(r.data, 2);
    const qsizetype count = (r.data.size() - 6) / 6;
    QByteArray out;
    qsizetype k = 0;
    while (k < count) {
        const int column = first + int(k);
        if (blanked.contains(column)) {
            out += record(Blank, cellHeader(row, column, u16(r.data, 4 + k * 6)));
            ++k;
            continue;
        }
        qsizetype end = k;
        while (end < count && !blanked.contains(first + int(end)))
            ++end;
        const QByteArrayView entries = r.data.sliced(4 + k * 6, (end - k) * 6);
        if (end - k == 1) {
            QByteArray data = cellHeader(row, column, u16(entries, 0));
            data += entries.sliced(2, 4).toByteArray();
            out += record(Rk, data);
        } else {
            QByteArray data(4, Qt::Uninitialized);
            qToLittleEndian<quint16>(quint16(row), data.data());
            qToLittleEndian<quint16>(quint16(column), data.data() + 2);
            data += entries.toByteArray();
            QByteArray last(2, Qt::Uninitialized);
            qToLittleEndian<quint16>(quint16(first + int(end) - 1), last.data());
            out += record(MulRk, data + last);
        }
        k = end;
    }
    return out;
}

// Where each old record now starts, so positions that records keep of each other follow.
class PositionMap {
public:
    void add(qsizetype oldStart, qsizetype newStart)
    {
        m_old.push_back(oldStart);
        m_new.push_back(newStart);
    }
    void finish(qsizetype oldEnd, qsizetype newEnd) { add(oldEnd, newEnd); }
    qsizetype operator()(qsizetype oldPosition) const
    {
        const auto it = std::upper_bound(m_old.begin(), m_old.end(), oldPosition);
        if (it == m_old.begin())
            return oldPosition;
        const size_t k = size_t(it - m_old.begin()) - 1;
        return m_new[k] + (oldPosition - m_old[k]);
    }

private:
    std::vector<qsizetype> m_old, m_new;
};

void patch32(QByteArray& stream, qsizetype at, quint32 value)
{
    qToLittleEndian<quint32>(value, stream.data() + at);
}
void patch16(QByteArray& stream, qsizetype at, quint16 value)
{
    qToLittleEndian<quint16>(value, stream.data() + at);
}

void movePositions(const std::vector<Record>& records, const std::vector<qsizetype>& newStarts,
                   const PositionMap& moved, QByteArray& stream)
{
    for (size_t i = 0; i < records.size(); ++i) {
        const Record& r = records[i];
        const qsizetype data = newStarts[i] + 4;
        if (r.type == BoundSheet && r.data.size() >= 4) {
            patch32(stream, data, quint32(moved(u32(r.data, 0))));
        } else if (r.type == Index && r.data.size() >= 16) {
            if (const quint32 defaultWidth = u32(r.data, 12))
                patch32(stream, data + 12, quint32(moved(defaultWidth)));
            for (qsizetype at = 16; at + 4 <= r.data.size(); at += 4)
                patch32(stream, data + at, quint32(moved(u32(r.data, at))));
        } else if (r.type == DbCell && r.data.size() >= 4) {
            const quint32 back = u32(r.data, 0);
            if (back == 0 || back > quint32(r.offset))
                continue;
            const qsizetype firstRow = r.offset - back;
            patch32(stream, data, quint32(newStarts[i] - moved(firstRow)));
            // The first cell offset counts from the end of the first ROW record (16 bytes of data).
            qsizetype oldAnchor = firstRow + 4 + 16;
            for (qsizetype at = 4; at + 2 <= r.data.size(); at += 2) {
                const quint16 step = u16(r.data, at);
                const qsizetype oldTarget = oldAnchor + step;
                // Some writers fill these with values that point nowhere; those stay as written.
                const qsizetype newStep = moved(oldTarget) - moved(oldAnchor);
                if (oldTarget <= r.offset && newStep >= 0 && newStep <= 0xFFFF)
                    patch16(stream, data + at, quint16(newStep));
                oldAnchor = oldTarget;
            }
        }
    }
}

} // namespace

namespace Biff8 {

bool readSheet(QByteArrayView stream, const QString& preferred, WorksheetCells* sheet, QString* error)
{
    OpenSheet open;
    if (!openSheet(stream, preferred, false, &open, error))
        return false;
    const std::vector<Record>& records = open.records;
    const Globals& g = open.globals;
    const SheetRange* range = &open.range;
    sheet->sheetName = open.name;
    sheet->rows.clear();
    const auto numberText = [&g](double value, quint16 xf) {
        return CellText::number(value, g.formatOf(xf), g.date1904);
    };
    bool textFormulas = false; // their text follows in a STRING record
    forEachCell(records, *range, [&](size_t i, int row, int column, quint16 xf) {
        const Record& r = records[i];
        switch (r.type) {
        case LabelSst: {
            const quint32 index = u32(r.data, 6);
            sheet->set(row, column, index < quint32(g.strings.size()) ? g.strings[index] : QString());
            break;
        }
        case Label:
        case RString:
            sheet->set(row, column, unicodeString(r.data, 6));
            break;
        case Number:
            sheet->set(row, column, numberText(f64(r.data, 6), xf));
            break;
        case Rk:
            sheet->set(row, column, numberText(rkValue(u32(r.data, 6)), xf));
            break;
        case MulRk:
            sheet->set(row, column,
                       numberText(rkValue(u32(r.data, 4 + (column - u16(r.data, 2)) * 6 + 2)), xf));
            break;
        case BoolErr: {
            const int value = r.data.size() > 6 ? quint8(r.data[6]) : 0;
            const bool isError = r.data.size() > 7 && r.data[7];
            sheet->set(row, column,
                       isError ? errorText(value)
                       : value ? QStringLiteral("TRUE")
                               : QStringLiteral("FALSE"));
            break;
        }
        case Formula: {
            if (u16(r.data, 12) != 0xFFFF) {
                sheet->set(row, column, numberText(f64(r.data, 6), xf));
                break;
            }
            const int kind = r.data.size() > 6 ? quint8(r.data[6]) : 3;
            const int value = r.data.size() > 8 ? quint8(r.data[8]) : 0;
            if (kind == 0)
                textFormulas = true;
            else if (kind == 1)
                sheet->set(row, column, value ? QStringLiteral("TRUE") : QStringLiteral("FALSE"));
            else if (kind == 2)
                sheet->set(row, column, errorText(value));
            break;
        }
        default:
            break;
        }
    });
    // STRING records are not cells; each one follows its formula.
    if (textFormulas) {
        std::optional<CellAddress> pending;
        int depth = 0;
        for (size_t i = range->first; i <= range->last; ++i) {
            const Record& r = records[i];
            depth += r.type == Bof ? 1 : r.type == Eof ? -1 : 0;
            if (depth != 1)
                continue;
            if (r.type == Formula)
                pending = u16(r.data, 12) == 0xFFFF && quint8(r.data[6]) == 0
                              ? std::optional<CellAddress>(CellAddress{u16(r.data, 0), u16(r.data, 2)})
                              : std::nullopt;
            else if (r.type == String && pending) {
                sheet->set(pending->row, pending->column, unicodeString(r.data, 0));
                pending.reset();
            }
        }
    }
    return true;
}

bool blankCells(QByteArrayView stream, const QString& sheetName, const std::vector<CellAddress>& cells,
                QByteArray* result, QString* error)
{
    OpenSheet open;
    if (!openSheet(stream, sheetName, true, &open, error))
        return false;
    const std::vector<Record>& records = open.records;
    const SheetRange* range = &open.range;

    QHash<int, QSet<int>> targets; // row → columns
    for (const CellAddress& cell : cells)
        targets[cell.row].insert(cell.column);

    // What each record becomes: nullopt keeps it, an empty array drops it.
    std::vector<std::optional<QByteArray>> replacement(records.size());
    QHash<size_t, QSet<int>> mulRkBlanks;
    bool formula = false;
    forEachCell(records, *range, [&](size_t i, int row, int column, quint16 xf) {
        const auto found = targets.constFind(row);
        if (found == targets.constEnd() || !found->contains(column))
            return;
        switch (records[i].type) {
        case Blank:
        case MulBlank:
            break;
        case MulRk:
            mulRkBlanks[i].insert(column);
            break;
        case Formula:
            formula = true;
            break;
        default:
            replacement[i] = record(Blank, cellHeader(row, column, xf));
        }
    });
    if (formula) {
        *error = QStringLiteral("要清空的单元格是公式，不能清空");
        return false;
    }
    for (auto it = mulRkBlanks.cbegin(); it != mulRkBlanks.cend(); ++it)
        replacement[it.key()] = splitMulRk(records[it.key()], it.value());

    QByteArray out;
    out.reserve(stream.size() + 64);
    std::vector<qsizetype> newStarts(records.size());
    PositionMap moved;
    for (size_t i = 0; i < records.size(); ++i) {
        const Record& r = records[i];
        newStarts[i] = out.size();
        moved.add(r.offset, out.size());
        if (replacement[i])
            out += *replacement[i];
        else
            out += stream.sliced(r.offset, r.end() - r.offset);
    }
    const qsizetype tail = records.empty() ? 0 : records.back().end();
    moved.finish(tail, out.size());
    out += stream.sliced(tail);
    movePositions(records, newStarts, moved, out);
    *result = out;
    return true;
}

} // namespace Biff8
