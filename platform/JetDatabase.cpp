// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/JetDatabase.h"

#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QTime>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include <mdbtools.h>

// Bytes 4-19 of the first page.
bool JetDatabase::hasJetSignature(const QByteArray& head)
{
    return head.size() >= 20
           && (head.mid(4, 16) == QByteArray("Standard Jet DB\0", 16)
               || head.mid(4, 16) == QByteArray("Standard ACE DB\0", 16));
}

namespace {

JetDatabase::Type typeOf(int libmdbType)
{
    using T = JetDatabase::Type;
    switch (libmdbType) {
    case MDB_BOOL:
        return T::Boolean;
    case MDB_BYTE:
        return T::Byte;
    case MDB_INT:
        return T::Integer;
    case MDB_LONGINT:
        return T::LongInteger;
    case MDB_MONEY:
        return T::Currency;
    case MDB_FLOAT:
        return T::Single;
    case MDB_DOUBLE:
        return T::Double;
    case MDB_DATETIME:
        return T::DateTime;
    case MDB_BINARY:
        return T::Binary;
    case MDB_TEXT:
        return T::Text;
    case MDB_OLE:
        return T::OleObject;
    case MDB_MEMO:
        return T::Memo;
    case MDB_REPID:
        return T::ReplicationId;
    case MDB_NUMERIC:
        return T::Decimal;
    default:
        return T::Other;
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

} // namespace

struct JetDatabase::Handle {
    MdbHandle* mdb = nullptr;
    std::vector<MdbTableDef*> tables; // beside m_tables, in the same order

    ~Handle()
    {
        for (MdbTableDef* table : tables)
            mdb_free_tabledef(table);
        if (mdb)
            mdb_close(mdb);
    }
};

JetDatabase::JetDatabase() = default;
JetDatabase::~JetDatabase() = default;

bool JetDatabase::isJetFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && hasJetSignature(file.read(20));
}

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

const JetDatabase::Table* JetDatabase::table(const QString& name) const
{
    for (const Table& t : m_tables) {
        if (t.name.compare(name, Qt::CaseInsensitive) == 0)
            return &t;
    }
    return nullptr;
}

bool JetDatabase::open(const QString& path)
{
    close();
    const auto fail = [this](const QString& reason) {
        close();
        m_lastError = reason;
        return false;
    };
    const QFileInfo info(path);
    if (!info.exists())
        return fail(QStringLiteral("找不到文件 ") + path);
    if (!info.isFile())
        return fail(QStringLiteral("这不是一个文件：") + path);
    if (info.size() == 0)
        return fail(QStringLiteral("文件是空的（0 字节）"));
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("没有读取这个文件的权限"));
        if (!hasJetSignature(file.read(20)))
            return fail(QStringLiteral("这不是 Access 数据库文件"));
    }

    auto handle = std::make_unique<Handle>();
    handle->mdb = mdb_open(QFile::encodeName(path).constData(), MDB_NOFLAGS);
    if (!handle->mdb)
        return fail(QStringLiteral("无法读取这个 Access 数据库文件（文件头已损坏或版本不受支持）"));
    MdbHandle* mdb = handle->mdb;
    // Jet writes whole pages; a length that is not one was cut off while being copied.
    if (mdb->fmt->pg_size <= 0 || info.size() % mdb->fmt->pg_size != 0)
        return fail(QStringLiteral("文件不完整（长度不是整数页），可能没有复制完"));

    if (mdb->f->jet_version == MDB_VER_JET3) {
        // Jet 3 stores text in the code page of the Windows that wrote it and does not say
        // which; the archives this program takes over come from Chinese Windows. GB18030
        // reads every GBK byte string.
        const QByteArray charset = qEnvironmentVariableIsSet("MDB_JET3_CHARSET") ? qgetenv("MDB_JET3_CHARSET")
                                                                                 : QByteArray("GB18030");
        const iconv_t in = iconv_open("UTF-8", charset.constData());
        if (in == iconv_t(-1))
            return fail(QStringLiteral("不认识的字符集 ") + QString::fromLatin1(charset));
        if (mdb->iconv_in != iconv_t(-1))
            iconv_close(mdb->iconv_in);
        mdb->iconv_in = in;
    }

    GPtrArray* catalog = mdb_read_catalog(mdb, MDB_TABLE);
    if (!catalog)
        return fail(QStringLiteral("读不出数据库的表目录，文件已损坏"));
    QList<Table> tables;
    for (guint i = 0; i < catalog->len; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(catalog, i));
        if (entry->object_type != MDB_TABLE || !mdb_is_user_table(entry))
            continue;
        MdbTableDef* definition = mdb_read_table(entry);
        if (!definition)
            return fail(QStringLiteral("读不出表“%1”的定义，文件已损坏").arg(fromLibmdb(entry->object_name)));
        handle->tables.push_back(definition);
        if (!mdb_read_columns(definition))
            return fail(QStringLiteral("读不出表“%1”的列，文件已损坏").arg(fromLibmdb(entry->object_name)));
        Table table;
        table.name = fromLibmdb(entry->object_name);
        table.rowCount = definition->num_rows;
        for (guint c = 0; c < definition->num_cols; ++c) {
            const auto* col = static_cast<const MdbColumn*>(g_ptr_array_index(definition->columns, c));
            Column column;
            column.name = fromLibmdb(col->name);
            column.type = typeOf(col->col_type);
            column.autoNumber = col->is_long_auto;
            column.precision = col->col_prec;
            column.scale = col->col_scale;
            // Garbage read from a page that is not there shows as nameless or repeated columns.
            const bool repeated =
                std::any_of(table.columns.cbegin(), table.columns.cend(), [&](const Column& other) {
                    return other.name.compare(column.name, Qt::CaseInsensitive) == 0;
                });
            if (column.name.isEmpty() || repeated)
                return fail(QStringLiteral("表“%1”的列定义已损坏，文件不完整或已损坏").arg(table.name));
            table.columns << column;
        }
        tables << table;
    }
    m_handle = std::move(handle);
    m_tables = tables;
    m_lastError.clear();
    return true;
}

namespace {

class RowReader {
public:
    explicit RowReader(MdbHandle* mdb)
        : m_mdb(mdb)
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
            return damaged(col);
        const unsigned char* at = m_mdb->pg_buf + start;
        const auto fixed = [&](int needed) { return size >= needed; };
        switch (col->col_type) {
        case MDB_BYTE:
            return fixed(1) ? QVariant(qint64(at[0])) : damaged(col);
        case MDB_INT:
            return fixed(2) ? QVariant(qint64(qFromLittleEndian<qint16>(at))) : damaged(col);
        case MDB_LONGINT:
        case MDB_COMPLEX:
            return fixed(4) ? QVariant(qint64(qFromLittleEndian<qint32>(at))) : damaged(col);
        case MDB_MONEY: // fixed point, four decimals
            return fixed(8) ? QVariant(double(qFromLittleEndian<qint64>(at)) / 10000.0) : damaged(col);
        case MDB_FLOAT:
            return fixed(4) ? QVariant(double(qFromLittleEndian<float>(at))) : damaged(col);
        case MDB_DOUBLE:
            return fixed(8) ? QVariant(qFromLittleEndian<double>(at)) : damaged(col);
        case MDB_DATETIME: {
            if (!fixed(8))
                return damaged(col);
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
            return fixed(16) ? owned(mdb_uuid_to_string(m_mdb->pg_buf, start)) : damaged(col);
        case MDB_NUMERIC:
            return fixed(17) ? owned(mdb_numeric_to_string(m_mdb, start, col->col_scale, col->col_prec))
                             : damaged(col);
        default:
            return QByteArray(reinterpret_cast<const char*>(at), size);
        }
    }

private:
    QVariant damaged(const MdbColumn* col)
    {
        if (error.isEmpty())
            error = QStringLiteral("列“%1”的数据已损坏").arg(fromLibmdb(col->name));
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
            damaged(col);
            return std::nullopt;
        }
        unsigned char pointer[MDB_MEMO_OVERHEAD];
        std::memcpy(pointer, m_mdb->pg_buf + field.start, MDB_MEMO_OVERHEAD);
        const quint32 declared = qFromLittleEndian<quint32>(pointer) & 0x3fffffff;
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
        if (quint64(bytes.size()) != declared || got > 0) {
            if (error.isEmpty())
                error =
                    QStringLiteral("列“%1”的长数据不完整（应有 %2 字节，只读出 %3 字节），文件不完整或已损坏")
                        .arg(fromLibmdb(col->name))
                        .arg(declared)
                        .arg(bytes.size());
            return std::nullopt;
        }
        return bytes;
    }

    MdbHandle* m_mdb;
    std::vector<char> m_chunk;
};

} // namespace

bool JetDatabase::readRows(const Table& table, const RowHandler& row)
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
    MdbHandle* mdb = m_handle->mdb;
    MdbTableDef* definition = m_handle->tables[size_t(index)];
    const auto fail = [this, &table](const QString& reason) {
        m_lastError = QStringLiteral("表“%1”：").arg(table.name) + reason;
        return false;
    };

    mdb_rewind_table(definition);
    RowReader reader(mdb);
    std::vector<MdbField> fields(definition->num_cols);
    QVariantList values(definition->num_cols);
    qint64 rows = 0;
    while (mdb_fetch_row(definition)) {
        // libmdb has just read row cur_row - 1 of the page in pg_buf; crack it again to learn
        // which fields are NULL, which its string binding does not say.
        int start = 0;
        size_t size = 0;
        if (mdb_find_row(mdb, int(definition->cur_row) - 1, &start, &size) != 0)
            return fail(QStringLiteral("行的位置已损坏"));
        const int cracked = mdb_crack_row(definition, start & 0x1fff, size, fields.data());
        if (cracked < 0)
            return fail(QStringLiteral("行的数据已损坏"));
        for (guint i = 0; i < definition->num_cols; ++i) {
            const MdbField& field = fields[i];
            if (field.colnum < 0 || guint(field.colnum) >= definition->num_cols)
                return fail(QStringLiteral("行的数据已损坏"));
            auto* col = static_cast<MdbColumn*>(g_ptr_array_index(definition->columns, field.colnum));
            values[field.colnum] = reader.value(col, field);
        }
        if (!reader.error.isEmpty())
            return fail(reader.error);
        ++rows;
        if (!row(values))
            return true;
    }
    // Pages that a truncated file no longer holds end libmdb's scan quietly; the table's own
    // count says that rows are missing.
    if (rows < table.rowCount)
        return fail(
            QStringLiteral("只读出 %1 行，表里应有 %2 行：文件不完整或已损坏").arg(rows).arg(table.rowCount));
    m_lastError.clear();
    return true;
}
