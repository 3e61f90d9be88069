// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/jet/JetDatabase.h"

#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QTime>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <deque>
#include <optional>
#include <vector>

#include <mdbtools.h>

namespace {

using JetFile::Column;
using JetFile::Table;
using JetFile::Type;

constexpr quint32 catalogueDefinitionPage = 2; // MSysObjects, in every Jet file
constexpr quint16 rowOffsetMask = 0x1fff;
constexpr quint16 deletedRow = 0x4000;
constexpr quint8 dataPage = 0x01;
constexpr quint8 definitionPage = 0x02;
// More than Access itself allows in one table; anything beyond is a damaged definition.
constexpr unsigned maxColumns = 255;
constexpr unsigned maxIndexes = 255;
constexpr int maxDefinitionPages = 64;

Type typeOf(int libmdbType)
{
    switch (libmdbType) {
    case MDB_BOOL:
        return Type::Boolean;
    case MDB_BYTE:
        return Type::Byte;
    case MDB_INT:
        return Type::Integer;
    case MDB_LONGINT:
        return Type::LongInteger;
    case MDB_MONEY:
        return Type::Currency;
    case MDB_FLOAT:
        return Type::Single;
    case MDB_DOUBLE:
        return Type::Double;
    case MDB_DATETIME:
        return Type::DateTime;
    case MDB_BINARY:
        return Type::Binary;
    case MDB_TEXT:
        return Type::Text;
    case MDB_OLE:
        return Type::OleObject;
    case MDB_MEMO:
        return Type::Memo;
    case MDB_REPID:
        return Type::ReplicationId;
    case MDB_NUMERIC:
        return Type::Decimal;
    default:
        return Type::Other;
    }
}

// Jet keeps a date as days since 1899-12-30; before that day the whole days count back while
// the fraction still runs forward through the day.
QString dateText(double value)
{
    if (!std::isfinite(value) || std::fabs(value) > 3.0e6)
        return {};
    const double days = std::trunc(value);
    qint64 seconds = std::llround(std::fabs(value - days) * 86400.0);
    qint64 day = qint64(days);
    if (seconds >= 86400) {
        seconds -= 86400;
        day += value < 0 ? -1 : 1;
    }
    const QDate date = QDate(1899, 12, 30).addDays(day);
    return date.toString(QStringLiteral("yyyy-MM-dd")) + u' '
           + QTime(0, 0).addSecs(int(seconds)).toString(QStringLiteral("hh:mm:ss"));
}

QString fromLibmdb(const char* text) { return QString::fromUtf8(text); }

QString damaged(quint32 page, const QString& what)
{
    return QStringLiteral("Access 文件已损坏（读取第 %1 页出错）：%2").arg(page).arg(what);
}

QString cutShort(quint32 page, quint32 pageCount, const QString& what)
{
    return JetFile::incomplete
           + QStringLiteral("：%1用到第 %2 页，文件里只有 %3 页").arg(what).arg(page).arg(pageCount);
}

QString tableWord(const QString& name) { return QStringLiteral("表“%1”").arg(name); }

// What a table's own pages say about it, found by following its usage map without libmdb.
struct PageWalk {
    qint64 dataPages = 0;
    qint64 liveRows = 0; // rows on its data pages, deleted ones left out
    quint32 missing = 0; // the first page named that lies beyond the file's end
    quint32 foreign = 0; // the first page named that is none of the table's pages
    QString mapProblem;  // the map itself cannot be read
};

// A table as libmdb reads it, with what its pages say. The catalogue entry lives as long as
// the definition, which points back to it.
struct TableInfo {
    TableInfo() = default;
    TableInfo(const TableInfo&) = delete;
    TableInfo& operator=(const TableInfo&) = delete;
    ~TableInfo()
    {
        if (definition)
            mdb_free_tabledef(definition);
    }

    MdbCatalogEntry entry{};
    MdbTableDef* definition = nullptr;
    PageWalk walk;
};

// A table as the catalogue lists it: its definition page and whether it is Access's own.
struct CatalogueEntry {
    QString name;
    quint32 definition;
    bool system;
};

const QString catalogueWord = QStringLiteral("数据库的表目录");

} // namespace

struct JetDatabase::Handle {
    MdbHandle* mdb = nullptr;   // libmdb's own scans
    MdbHandle* pages = nullptr; // the checks' page reads, apart from libmdb's state
    quint32 pageCount = 0;
    std::atomic<quint32> checking{0}; // the page a check is reading
    std::deque<TableInfo> tables;     // the user tables, beside m_tables in the same order
    std::function<void()> progress;
    int reads = 0;

    ~Handle()
    {
        tables.clear();
        if (pages)
            mdb_close(pages);
        if (mdb)
            mdb_close(mdb);
    }

    int pageSize() const { return int(mdb->fmt->pg_size); }

    // A page as the file holds it (Jet 4's encoding undone); null when it cannot be read.
    const unsigned char* page(quint32 number)
    {
        if (number >= pageCount)
            return nullptr;
        checking = number;
        if (progress && ++reads % 256 == 0)
            progress();
        if (mdb_read_pg(pages, number) != pages->fmt->pg_size)
            return nullptr;
        return pages->pg_buf;
    }

    // The bytes of row `row` of a data page; nothing when the page does not hold it.
    std::optional<QByteArray> rowBytes(quint32 pageNumber, int row)
    {
        const unsigned char* at = page(pageNumber);
        if (!at || at[0] != dataPage)
            return std::nullopt;
        const int counts = mdb->fmt->row_count_offset;
        const int rows = qFromLittleEndian<quint16>(at + counts);
        if (row < 0 || row >= rows || counts + 2 + 2 * rows > pageSize())
            return std::nullopt;
        const int start = qFromLittleEndian<quint16>(at + counts + 2 + 2 * row) & rowOffsetMask;
        const int end =
            row == 0 ? pageSize() : qFromLittleEndian<quint16>(at + counts + 2 * row) & rowOffsetMask;
        if (start >= end || end > pageSize())
            return std::nullopt;
        return QByteArray(reinterpret_cast<const char*>(at) + start, end - start);
    }

    // The rows a data page holds, deleted ones left out; nothing when its row table does not
    // fit the page.
    std::optional<int> liveRows(const unsigned char* at)
    {
        const int counts = mdb->fmt->row_count_offset;
        const int rows = qFromLittleEndian<quint16>(at + counts);
        if (counts + 2 + 2 * rows > pageSize())
            return std::nullopt;
        int live = 0;
        for (int r = 0; r < rows; ++r) {
            const quint16 offset = qFromLittleEndian<quint16>(at + counts + 2 + 2 * r);
            if ((offset & rowOffsetMask) >= pageSize())
                return std::nullopt;
            if (!(offset & deletedRow))
                ++live;
        }
        return live;
    }

    void visit(PageWalk& walk, quint32 number, quint32 definition)
    {
        if (number >= pageCount) {
            if (!walk.missing)
                walk.missing = number;
            return;
        }
        const unsigned char* at = page(number);
        std::optional<int> live;
        if (at && at[0] == dataPage) {
            // Jet 4 marks the pages of long values instead of naming their table.
            if (mdb->f->jet_version != MDB_VER_JET3 && std::memcmp(at + 4, "LVAL", 4) == 0)
                return;
            if (qFromLittleEndian<quint32>(at + 4) == definition)
                live = liveRows(at);
        }
        if (!live) {
            if (!walk.foreign)
                walk.foreign = number;
            return;
        }
        ++walk.dataPages;
        walk.liveRows += *live;
    }

    // Follows the usage map in the row `mapRow` (page << 8 | row) names: inline, a first page
    // and a bitmap; or by reference, a list of bitmap pages.
    PageWalk walkMap(quint32 mapRow, quint32 definition)
    {
        PageWalk walk;
        const quint32 mapPage = mapRow >> 8;
        if (mapPage >= pageCount) {
            walk.missing = mapPage;
            return walk;
        }
        const std::optional<QByteArray> map = rowBytes(mapPage, int(mapRow & 0xff));
        if (!map || map->isEmpty()) {
            walk.mapProblem = damaged(mapPage, QStringLiteral("页的使用表读不出来"));
            return walk;
        }
        const auto* bytes = reinterpret_cast<const unsigned char*>(map->constData());
        const qsizetype size = map->size();
        if (bytes[0] == 0 && size >= 5) {
            const quint32 first = qFromLittleEndian<quint32>(bytes + 1);
            for (qsizetype bit = 0; bit < (size - 5) * 8; ++bit) {
                if (bytes[5 + bit / 8] & (1 << (bit % 8)))
                    visit(walk, first + quint32(bit), definition);
            }
            return walk;
        }
        if (bytes[0] == 1) {
            const qint64 perPage = qint64(pageSize() - 4) * 8;
            for (qsizetype i = 0; i < (size - 1) / 4; ++i) {
                const quint32 bitmapPage = qFromLittleEndian<quint32>(bytes + 1 + 4 * i);
                if (bitmapPage == 0)
                    continue;
                if (bitmapPage >= pageCount) {
                    if (!walk.missing)
                        walk.missing = bitmapPage;
                    continue;
                }
                const unsigned char* at = page(bitmapPage);
                if (!at) {
                    walk.mapProblem = damaged(bitmapPage, QStringLiteral("页的使用表读不出来"));
                    return walk;
                }
                const QByteArray bitmap(reinterpret_cast<const char*>(at) + 4, pageSize() - 4);
                for (qint64 bit = 0; bit < perPage; ++bit) {
                    if (bitmap[bit / 8] & (1 << (bit % 8)))
                        visit(walk, quint32(i * perPage + bit), definition);
                }
            }
            return walk;
        }
        walk.mapProblem = damaged(mapPage, QStringLiteral("页的使用表不认识"));
        return walk;
    }

    // A table's definition pages, maps and mapped pages, then (with `readColumns`) its columns
    // through libmdb. The reason, when the file was cut short before them; whatever else is
    // wrong is damage, noted in `damage` (the first of it).
    std::optional<QString> load(TableInfo& table, const QString& what, bool readColumns, QString* damage);
    // The tables MSysObjects lists, read as any other table and checked the same; the reason
    // when they cannot be.
    std::optional<QString> readCatalogue(std::vector<CatalogueEntry>* found);
};

JetDatabase::JetDatabase() = default;
JetDatabase::~JetDatabase() = default;

void JetDatabase::close()
{
    m_handle.reset();
    m_tables.clear();
}

int JetDatabase::jetVersion() const
{
    if (!m_handle)
        return 0;
    return m_handle->mdb->f->jet_version == MDB_VER_JET3 ? 3 : 4;
}

const Table* JetDatabase::table(const QString& name) const
{
    for (const Table& t : m_tables) {
        if (t.name.compare(name, Qt::CaseInsensitive) == 0)
            return &t;
    }
    return nullptr;
}

quint32 JetDatabase::pageInReading() const
{
    const Handle* handle = m_handle.get();
    if (!handle || !handle->mdb)
        return 0;
    const quint32 checking = handle->checking;
    return checking ? checking : handle->mdb->cur_pg;
}

namespace {

class RowReader {
public:
    // `what` names the table in messages.
    RowReader(MdbHandle* mdb, quint32 pageCount, const QString& what)
        : m_mdb(mdb)
        , m_pageCount(pageCount)
        , m_what(what)
        , m_chunk(2 * MDB_PGSIZE)
    {
    }

    QString error;

    // The value of one cracked field; an invalid QVariant is NULL. Sets `error` when the
    // field points outside its page or its long value cannot be read whole.
    QVariant value(MdbColumn* col, const MdbField& field)
    {
        if (col->col_type == MDB_BOOL)
            return qint64(field.is_null ? 0 : 1); // a yes/no value lives in the null mask
        if (field.is_null)
            return {};
        const int start = field.start;
        const int size = field.siz;
        if (start < 0 || size < 0 || start + size > m_mdb->fmt->pg_size)
            return damagedColumn(col);
        const unsigned char* at = m_mdb->pg_buf + start;
        const auto fixed = [&](int needed) { return size >= needed; };
        switch (col->col_type) {
        case MDB_BYTE:
            return fixed(1) ? QVariant(qint64(at[0])) : damagedColumn(col);
        case MDB_INT:
            return fixed(2) ? QVariant(qint64(qFromLittleEndian<qint16>(at))) : damagedColumn(col);
        case MDB_LONGINT:
        case MDB_COMPLEX:
            return fixed(4) ? QVariant(qint64(qFromLittleEndian<qint32>(at))) : damagedColumn(col);
        case MDB_MONEY: // fixed point, four decimals
            return fixed(8) ? QVariant(double(qFromLittleEndian<qint64>(at)) / 10000.0) : damagedColumn(col);
        case MDB_FLOAT:
            return fixed(4) ? QVariant(double(qFromLittleEndian<float>(at))) : damagedColumn(col);
        case MDB_DOUBLE:
            return fixed(8) ? QVariant(qFromLittleEndian<double>(at)) : damagedColumn(col);
        case MDB_DATETIME: {
            if (!fixed(8))
                return damagedColumn(col);
            const QString text = dateText(qFromLittleEndian<double>(at));
            return text.isEmpty() ? QVariant() : QVariant(text);
        }
        case MDB_TEXT:
            return text(at, size);
        case MDB_MEMO: {
            const std::optional<QByteArray> bytes = longValue(col, field);
            return bytes
                       ? text(reinterpret_cast<const unsigned char*>(bytes->constData()), int(bytes->size()))
                       : QVariant();
        }
        case MDB_OLE: {
            const std::optional<QByteArray> bytes = longValue(col, field);
            return bytes ? QVariant(*bytes) : QVariant();
        }
        case MDB_REPID:
            return fixed(16) ? owned(mdb_uuid_to_string(m_mdb->pg_buf, start)) : damagedColumn(col);
        case MDB_NUMERIC:
            return fixed(17) ? owned(mdb_numeric_to_string(m_mdb, start, col->col_scale, col->col_prec))
                             : damagedColumn(col);
        default:
            return QByteArray(reinterpret_cast<const char*>(at), size);
        }
    }

private:
    QVariant damagedColumn(const MdbColumn* col)
    {
        if (error.isEmpty())
            error = damaged(m_mdb->cur_pg, column(col) + QStringLiteral("的数据已损坏"));
        return {};
    }

    static QVariant owned(char* text)
    {
        const QString value = QString::fromUtf8(text);
        g_free(text);
        return value;
    }

    // Jet 4's two-byte text (plain or with its single-byte compression) or Jet 3's code-page
    // text, through libmdb's converter into UTF-8.
    QVariant text(const unsigned char* bytes, int size)
    {
        std::vector<char> out(size_t(size) * 4 + 16);
        const int length = mdb_unicode2ascii(m_mdb, reinterpret_cast<const char*>(bytes), size_t(size),
                                             out.data(), out.size() - 1);
        return QString::fromUtf8(out.data(), length);
    }

    // A memo or OLE value: inline in the row, or a chain of long-value pages. Its first four
    // bytes say how long it is, which shows a chain cut short by a truncated file.
    std::optional<QByteArray> longValue(MdbColumn* col, const MdbField& field)
    {
        if (field.siz == 0)
            return QByteArray();
        if (field.siz < MDB_MEMO_OVERHEAD) {
            damagedColumn(col);
            return std::nullopt;
        }
        const quint32 rowPage = m_mdb->cur_pg;
        unsigned char pointer[MDB_MEMO_OVERHEAD];
        std::memcpy(pointer, m_mdb->pg_buf + field.start, MDB_MEMO_OVERHEAD);
        const quint32 flags = qFromLittleEndian<quint32>(pointer) & 0xc0000000;
        const quint32 declared = qFromLittleEndian<quint32>(pointer) & 0x3fffffff;
        const quint32 firstPage = qFromLittleEndian<quint32>(pointer + 4) >> 8;
        if (flags != 0x80000000 && firstPage >= m_pageCount) {
            if (error.isEmpty())
                error = cutShort(firstPage, m_pageCount, column(col) + QStringLiteral("的长数据"));
            return std::nullopt;
        }
        col->cur_value_start = field.start;
        col->cur_value_len = field.siz;
        col->bind_ptr = m_chunk.data();
        QByteArray bytes;
        size_t got = mdb_ole_read(m_mdb, col, pointer, m_chunk.size());
        // A damaged chain may loop; it never needs to be longer than it says it is.
        while (got > 0 && quint64(bytes.size()) + got <= declared) {
            bytes.append(m_chunk.data(), qsizetype(got));
            got = mdb_ole_read_next(m_mdb, col, pointer);
        }
        col->bind_ptr = nullptr;
        // Reading the value moved libmdb off the row's page; the next field is read from it.
        mdb_read_pg(m_mdb, rowPage);
        if (quint64(bytes.size()) != declared || got > 0) {
            if (error.isEmpty())
                error =
                    damaged(firstPage, column(col)
                                           + QStringLiteral("的长数据不完整（应有 %1 字节，只读出 %2 字节）")
                                                 .arg(declared)
                                                 .arg(bytes.size()));
            return std::nullopt;
        }
        return bytes;
    }

    QString column(const MdbColumn* col) const
    {
        return m_what + QStringLiteral("的列“%1”").arg(fromLibmdb(col->name));
    }

    MdbHandle* m_mdb;
    quint32 m_pageCount;
    QString m_what;
    std::vector<char> m_chunk;
};

// Every stored row of a table through libmdb, checked against what the table's pages say;
// `what` names the table in messages.
bool readTable(MdbHandle* mdb, quint32 pageCount, TableInfo& info, const QString& what,
               const JetFile::RowHandler& row, QString* error)
{
    const auto fail = [&](const QString& reason) {
        *error = reason;
        return false;
    };
    MdbTableDef* definition = info.definition;
    mdb_rewind_table(definition);
    RowReader reader(mdb, pageCount, what);
    std::vector<MdbField> fields(definition->num_cols);
    QVariantList values(definition->num_cols);
    qint64 rows = 0;
    while (mdb_fetch_row(definition)) {
        // libmdb has just read row cur_row - 1 of the page in pg_buf; crack it again to learn
        // which fields are NULL, which its string binding does not say.
        int start = 0;
        size_t size = 0;
        if (mdb_find_row(mdb, int(definition->cur_row) - 1, &start, &size) != 0)
            return fail(damaged(mdb->cur_pg, what + QStringLiteral("的行的位置已损坏")));
        const int cracked = mdb_crack_row(definition, start & rowOffsetMask, size, fields.data());
        if (cracked < 0)
            return fail(damaged(mdb->cur_pg, what + QStringLiteral("的行的数据已损坏")));
        for (guint i = 0; i < definition->num_cols; ++i) {
            const MdbField& field = fields[i];
            if (field.colnum < 0 || guint(field.colnum) >= definition->num_cols)
                return fail(damaged(mdb->cur_pg, what + QStringLiteral("的行的数据已损坏")));
            auto* col = static_cast<MdbColumn*>(g_ptr_array_index(definition->columns, field.colnum));
            values[field.colnum] = reader.value(col, field);
        }
        if (!reader.error.isEmpty())
            return fail(reader.error);
        // More rows than the pages hold means a page read twice over.
        if (++rows > info.walk.liveRows)
            return fail(damaged(mdb->cur_pg, what + QStringLiteral("读出的行比它的页里存的多")));
        if (!row(values))
            return true;
    }
    // Pages libmdb cannot read end its scan quietly; the table's pages say what is missing.
    if (rows != info.walk.liveRows)
        return fail(damaged(
            info.walk.foreign ? info.walk.foreign : quint32(info.entry.table_pg),
            what + QStringLiteral("只读出 %1 行，它的页里有 %2 行").arg(rows).arg(info.walk.liveRows)));
    return true;
}

bool validType(int libmdbType) { return libmdbType >= MDB_BOOL && libmdbType <= MDB_COMPLEX; }

} // namespace

std::optional<QString> JetDatabase::Handle::load(TableInfo& table, const QString& what, bool readColumns,
                                                 QString* damage)
{
    const auto noteDamage = [damage](const QString& reason) {
        if (damage->isEmpty())
            *damage = reason;
        return std::nullopt;
    };
    const quint32 first = quint32(table.entry.table_pg);
    quint32 mapRow = 0;
    quint32 freeRow = 0;
    int definitionPages = 0;
    for (quint32 next = first; next != 0; ++definitionPages) {
        if (next >= pageCount)
            return cutShort(next, pageCount, what + QStringLiteral("的定义"));
        const unsigned char* at = page(next);
        if (!at || at[0] != definitionPage || definitionPages >= maxDefinitionPages)
            return noteDamage(damaged(next, what + QStringLiteral("的定义页不对")));
        if (next == first) {
            mapRow = qFromLittleEndian<quint32>(at + mdb->fmt->tab_usage_map_offset);
            freeRow = qFromLittleEndian<quint32>(at + mdb->fmt->tab_free_map_offset);
        }
        next = qFromLittleEndian<quint32>(at + 4);
    }
    for (const quint32 row : {mapRow, freeRow}) {
        if ((row >> 8) >= pageCount)
            return cutShort(row >> 8, pageCount, what + QStringLiteral("的页使用表"));
    }
    table.walk = walkMap(mapRow, first);
    if (table.walk.missing)
        return cutShort(table.walk.missing, pageCount, what);
    if (!readColumns)
        return std::nullopt;
    if (!table.walk.mapProblem.isEmpty())
        return noteDamage(table.walk.mapProblem + QStringLiteral("（%1）").arg(what));
    checking = 0;
    table.definition = mdb_read_table(&table.entry);
    const MdbTableDef* definition = table.definition;
    if (!definition || definition->num_cols > maxColumns || definition->num_real_idxs > maxIndexes
        || definition->num_idxs > maxIndexes || !mdb_read_columns(table.definition))
        return noteDamage(damaged(first, what + QStringLiteral("的定义读不出来")));
    QStringList names;
    for (guint c = 0; c < definition->num_cols; ++c) {
        const auto* col = static_cast<const MdbColumn*>(g_ptr_array_index(definition->columns, c));
        const QString column = fromLibmdb(col->name);
        // Garbage read as a definition shows as nameless, repeated or typeless columns.
        if (column.isEmpty() || names.contains(column, Qt::CaseInsensitive) || !validType(col->col_type))
            return noteDamage(damaged(first, what + QStringLiteral("的列定义已损坏")));
        names << column;
    }
    return std::nullopt;
}

std::optional<QString> JetDatabase::Handle::readCatalogue(std::vector<CatalogueEntry>* found)
{
    TableInfo objects;
    objects.entry.mdb = mdb;
    objects.entry.object_type = MDB_TABLE;
    objects.entry.table_pg = catalogueDefinitionPage;
    std::strcpy(objects.entry.object_name, "MSysObjects");
    QString damage;
    if (const std::optional<QString> cut = load(objects, catalogueWord, true, &damage))
        return cut;
    if (!damage.isEmpty())
        return damage;
    const MdbTableDef* definition = objects.definition;
    if (objects.walk.foreign && definition->num_rows != objects.walk.liveRows)
        return damaged(objects.walk.foreign, catalogueWord + QStringLiteral("的页不对"));

    const auto columnIndex = [definition](const char* name) {
        for (guint c = 0; c < definition->num_cols; ++c) {
            const auto* col = static_cast<const MdbColumn*>(g_ptr_array_index(definition->columns, c));
            if (g_ascii_strcasecmp(col->name, name) == 0)
                return qsizetype(c);
        }
        return qsizetype(-1);
    };
    const qsizetype id = columnIndex("Id");
    const qsizetype name = columnIndex("Name");
    const qsizetype type = columnIndex("Type");
    const qsizetype flags = columnIndex("Flags");
    if (id < 0 || name < 0 || type < 0 || flags < 0)
        return damaged(catalogueDefinitionPage, catalogueWord + QStringLiteral("的列不对"));
    QString error;
    const bool read = readTable(
        mdb, pageCount, objects, catalogueWord,
        [&](const QVariantList& values) {
            // The low three bytes of a table's id are its definition page.
            if (values[type].toLongLong() == MDB_TABLE)
                found->push_back({values[name].toString(), quint32(values[id].toLongLong()) & 0x00ffffff,
                                  (quint32(values[flags].toLongLong()) & 0x80000002) != 0});
            return true;
        },
        &error);
    if (!read)
        return error;
    if (definition->num_rows != 0 && definition->num_rows != objects.walk.liveRows)
        return damaged(catalogueDefinitionPage, catalogueWord
                                                    + QStringLiteral("应有 %1 项，它的页里有 %2 项")
                                                          .arg(definition->num_rows)
                                                          .arg(objects.walk.liveRows));
    return std::nullopt;
}

namespace {

// The table as the program sees it; and what is wrong with its pages, empty when nothing is.
// Access counts a table's rows in its definition, where a file closed uncleanly may say 0.
QString describe(const TableInfo& table, const QString& name, Table* described)
{
    described->name = name;
    described->rowCount = table.definition->num_rows;
    for (guint c = 0; c < table.definition->num_cols; ++c) {
        const auto* col = static_cast<const MdbColumn*>(g_ptr_array_index(table.definition->columns, c));
        described->columns << Column{fromLibmdb(col->name), typeOf(col->col_type), bool(col->is_long_auto),
                                     col->col_prec, col->col_scale};
    }
    const PageWalk& walk = table.walk;
    if (walk.foreign && (described->rowCount == 0 || described->rowCount != walk.liveRows))
        return damaged(walk.foreign, tableWord(name) + QStringLiteral("的数据页不对"));
    if (described->rowCount != 0 && described->rowCount != walk.liveRows)
        return damaged(
            quint32(table.entry.table_pg),
            tableWord(name)
                + QStringLiteral("应有 %1 行，它的页里有 %2 行").arg(described->rowCount).arg(walk.liveRows));
    return {};
}

// Why a path is no Access file to read; empty when it may be one.
QString fileProblem(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("找不到文件 ") + path;
    if (!info.isFile())
        return QStringLiteral("这不是一个文件：") + path;
    if (info.size() == 0)
        return QStringLiteral("文件是空的（0 字节）");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("没有读取这个文件的权限");
    if (!JetFile::hasJetSignature(file.read(20)))
        return QStringLiteral("这不是 Access 数据库文件");
    return {};
}

// Jet 3 stores text in the code page of the Windows that wrote it and does not say which; the
// archives this program takes over come from Chinese Windows. GB18030 reads every GBK byte
// string.
bool useJet3Charset(MdbHandle* mdb, QString* error)
{
    const QByteArray charset =
        qEnvironmentVariableIsSet("MDB_JET3_CHARSET") ? qgetenv("MDB_JET3_CHARSET") : QByteArray("GB18030");
    const iconv_t in = iconv_open("UTF-8", charset.constData());
    if (in == iconv_t(-1)) {
        *error = QStringLiteral("不认识的字符集 ") + QString::fromLatin1(charset);
        return false;
    }
    if (mdb->iconv_in != iconv_t(-1))
        iconv_close(mdb->iconv_in);
    mdb->iconv_in = in;
    return true;
}

} // namespace

bool JetDatabase::open(const QString& path)
{
    close();
    const auto fail = [this](const QString& reason) {
        close();
        m_lastError = reason;
        return false;
    };
    if (const QString problem = fileProblem(path); !problem.isEmpty())
        return fail(problem);

    // Held from the start, so a crash report can name the page being read.
    m_handle = std::make_unique<Handle>();
    Handle& handle = *m_handle;
    handle.progress = m_progress;
    const QByteArray name = QFile::encodeName(path);
    handle.mdb = mdb_open(name.constData(), MDB_NOFLAGS);
    handle.pages = handle.mdb ? mdb_open(name.constData(), MDB_NOFLAGS) : nullptr;
    if (!handle.pages)
        return fail(QStringLiteral("无法读取这个 Access 数据库文件（文件头已损坏或版本不受支持）"));
    // Jet writes whole pages; a length that is not one was cut off while being copied.
    const qint64 size = QFileInfo(path).size();
    const qint64 pageSize = handle.mdb->fmt->pg_size;
    if (pageSize <= 0 || size % pageSize != 0)
        return fail(JetFile::incomplete
                    + QStringLiteral("：长度 %1 字节不是整页（每页 %2 字节）").arg(size).arg(pageSize));
    handle.pageCount = quint32(std::min<qint64>(size / pageSize, UINT32_MAX));
    QString error;
    if (handle.mdb->f->jet_version == MDB_VER_JET3 && !useJet3Charset(handle.mdb, &error))
        return fail(error);

    std::vector<CatalogueEntry> found;
    if (const std::optional<QString> failure = handle.readCatalogue(&found))
        return fail(*failure);
    // A table whose pages lie beyond the end says the file was cut short, which is said before
    // any damage found on the way. System tables are never copied, but a file cut short may
    // show it only there.
    QString damage;
    QList<Table> tables;
    std::deque<TableInfo> system;
    for (const CatalogueEntry& entry : found) {
        if (entry.definition == catalogueDefinitionPage)
            continue;
        TableInfo& table = (entry.system ? system : handle.tables).emplace_back();
        table.entry.mdb = handle.mdb;
        table.entry.object_type = MDB_TABLE;
        table.entry.table_pg = entry.definition;
        const QByteArray utf8 = entry.name.toUtf8().left(MDB_MAX_OBJ_NAME);
        std::memcpy(table.entry.object_name, utf8.constData(), size_t(utf8.size()));
        if (const std::optional<QString> cut =
                handle.load(table, tableWord(entry.name), !entry.system, &damage))
            return fail(*cut);
        if (entry.system || !table.definition || !damage.isEmpty())
            continue;
        Table described;
        damage = describe(table, entry.name, &described);
        tables << described;
    }
    handle.checking = 0;
    if (!damage.isEmpty())
        return fail(damage);
    m_tables = tables;
    m_lastError.clear();
    return true;
}

bool JetDatabase::readRows(const Table& table, const JetFile::RowHandler& row)
{
    if (!m_handle) {
        m_lastError = QStringLiteral("Access 数据库没有打开");
        return false;
    }
    const qsizetype index = &table - m_tables.constData();
    if (index < 0 || index >= m_tables.size()) {
        m_lastError = QStringLiteral("没有表“%1”").arg(table.name);
        return false;
    }
    if (!readTable(m_handle->mdb, m_handle->pageCount, m_handle->tables[size_t(index)], tableWord(table.name),
                   row, &m_lastError))
        return false;
    m_lastError.clear();
    return true;
}
