// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/engine/Ado.h"

#include "archive/ArchiveLocation.h"
#include "archive/DatabaseConnection.h"
#include "archive/Recordset.h"
#include "server/engine/PageText.h"
#include "server/engine/ScriptError.h"

#include <QFile>

#include <sys/stat.h>

#include <mutex>
#include <unordered_map>

namespace asp {

namespace {

const QString jetSource = QStringLiteral("Microsoft JET Database Engine");
const QString nulInValue = QStringLiteral("文本里有空字符（NUL），数据库不能保存");
const QString nulInStatement = QStringLiteral("SQL 语句里有空字符（NUL）");
const QString recordsetSource = QStringLiteral("ADODB.Recordset");

ScriptError databaseError(const QString& reason)
{
    return ScriptError(ScriptError::Kind::Runtime, 0x80004005, jetSource, reason);
}

ScriptError closedObject()
{
    return ScriptError(ScriptError::Kind::Runtime, 3704, recordsetSource,
                       QStringLiteral("对象关闭时，不允许操作。"));
}

ScriptError noCurrentRecord()
{
    return ScriptError(
        ScriptError::Kind::Runtime, 3021, QStringLiteral("ADODB.Field"),
        QStringLiteral("BOF 或 EOF 中有一个是“真”，或者当前的记录已被删除，所需的操作要求一个当前的记录。"));
}

ScriptError noSuchField(const QString& name)
{
    return ScriptError(ScriptError::Kind::Runtime, 3265, recordsetSource,
                       QStringLiteral("在对应所需名称或序数的集合中，未找到项目：'") + name + u'\'');
}

QString text(const Value& v)
{
    Value held;
    const Value& s = scalar(v, held);
    return s.isNull() ? QString() : s.toString();
}

// Opening the file and setting it up costs more than a whole page: the server keeps the
// connections its pages closed, as ADO pools them, for whichever thread runs the next page
// (each is used by one page at a time), so a thread that has not run a page before finds one
// ready, with the queries it keeps. A file replaced on disk (a restored backup) is a new file,
// and its old connections are dropped when next taken.
class ConnectionPool {
public:
    using Identity = std::pair<dev_t, ino_t>;

    // With the identity of the file it was taken for, to give it back under.
    static std::unique_ptr<DatabaseConnection> take(const QString& path, QString* error,
                                                    std::optional<Identity>* taken)
    {
        const auto identity = fileIdentity(path);
        *taken = identity;
        std::vector<Entry> stale; // closed outside the lock
        {
            std::lock_guard lock(mutex());
            auto& entries = pool()[path];
            while (!entries.empty()) {
                Entry entry = std::move(entries.back());
                entries.pop_back();
                if (identity && entry.identity == *identity && entry.connection->isOpen())
                    return std::move(entry.connection);
                stale.push_back(std::move(entry));
            }
        }
        auto connection = std::make_unique<DatabaseConnection>();
        if (!connection->openDatabaseFile(path)) {
            *error = connection->lastError();
            return nullptr;
        }
        // The pages read the same students' rows again and again.
        connection->preferMappedReads();
        return connection;
    }

    static void give(const QString& path, std::unique_ptr<DatabaseConnection> connection,
                     const std::optional<Identity>& identity)
    {
        if (!identity || !connection->isOpen())
            return;
        std::lock_guard lock(mutex());
        auto& entries = pool()[path];
        if (entries.size() < 16)
            entries.push_back({std::move(connection), *identity});
    }

private:
    struct Entry {
        std::unique_ptr<DatabaseConnection> connection;
        Identity identity;
    };

    static std::optional<Identity> fileIdentity(const QString& path)
    {
        // An archive on a server is the same archive for as long as it is chosen.
        if (const QString server = ArchiveLocation::serverFor(path); !server.isEmpty())
            return Identity(0, ino_t(qHash(server)));
        struct stat info {};
        if (::stat(QFile::encodeName(path).constData(), &info) != 0)
            return std::nullopt;
        return Identity(info.st_dev, info.st_ino);
    }

    static std::mutex& mutex()
    {
        static std::mutex guard;
        return guard;
    }
    static std::unordered_map<QString, std::vector<Entry>>& pool()
    {
        static std::unordered_map<QString, std::vector<Entry>> connections;
        return connections;
    }
};

class AdoConnection final : public Object, public std::enable_shared_from_this<AdoConnection> {
public:
    ~AdoConnection() override { close(); }
    QString typeName() const override { return QStringLiteral("Connection"); }

    Value get(const QString& name, const Args& args) override;

    void set(const QString& name, const Args&, const Value& value) override
    {
        if (name == u"connectionstring")
            m_connectionString = text(value);
        else if (name != u"connectiontimeout" && name != u"commandtimeout" && name != u"cursorlocation"
                 && name != u"mode")
            refuse(name);
    }

    void open(const QString& connectionString)
    {
        if (m_database)
            throw ScriptError(ScriptError::Kind::Runtime, 3705, QStringLiteral("ADODB.Connection"),
                              QStringLiteral("对象打开时，不允许操作。"));
        const QString path = dataSource(connectionString);
        if (path.isEmpty())
            throw databaseError(QStringLiteral("连接字符串中没有 Data Source"));
        QString error;
        m_database = ConnectionPool::take(path, &error, &m_identity);
        if (!m_database)
            throw databaseError(error + QStringLiteral("：'") + path + u'\'');
        m_path = path;
        m_connectionString = connectionString;
    }

    void close()
    {
        if (m_database)
            ConnectionPool::give(m_path, std::move(m_database), m_identity);
        m_database.reset();
    }

    DatabaseConnection* database() const { return m_database.get(); }

private:
    std::unique_ptr<DatabaseConnection> m_database;
    std::optional<ConnectionPool::Identity> m_identity;
    QString m_path;
    QString m_connectionString;
};

class AdoRecordset;

class AdoField final : public Object {
public:
    AdoField(std::shared_ptr<AdoRecordset> recordset, int index)
        : m_recordset(std::move(recordset))
        , m_index(index)
    {
    }
    QString typeName() const override { return QStringLiteral("Field"); }
    Value get(const QString& name, const Args& args) override;
    void set(const QString& name, const Args& args, const Value& value) override;

private:
    std::shared_ptr<AdoRecordset> m_recordset;
    int m_index;
};

class AdoFields final : public Object {
public:
    explicit AdoFields(std::shared_ptr<AdoRecordset> recordset)
        : m_recordset(std::move(recordset))
    {
    }
    QString typeName() const override { return QStringLiteral("Fields"); }
    Value get(const QString& name, const Args& args) override;
    std::vector<Value> items() override;

private:
    std::shared_ptr<AdoRecordset> m_recordset;
};

class AdoRecordset final : public Object, public std::enable_shared_from_this<AdoRecordset> {
public:
    QString typeName() const override { return QStringLiteral("Recordset"); }

    Value get(const QString& name, const Args& args) override
    {
        if (name.isEmpty() || name == u"collect")
            return field(args);
        if (name == u"fields")
            return args.empty() ? Value::fromObject(std::make_shared<AdoFields>(shared_from_this()))
                                : field(args);
        if (name == u"open") {
            expectArgs(name, args, 1, 5);
            if (args.size() > 1 && !args[1].isEmpty())
                setConnection(args[1]);
            open(text(args[0]));
            return {};
        }
        if (name == u"close") {
            requireOpen();
            commit(m_rows.update());
            m_rows.close();
            m_open = false;
            m_found.clear();
            return {};
        }
        if (name == u"state")
            return Value::fromLong(m_open ? 1 : 0);
        if (name == u"activeconnection")
            return m_connection ? Value::fromObject(m_connection) : Value::nothing();
        requireOpen();
        if (name == u"eof")
            return Value::fromBool(m_rows.atEnd());
        if (name == u"bof")
            return Value::fromBool(m_rows.atEnd() && m_rows.recordCount() == 0);
        if (name == u"recordcount")
            return Value::fromLong(m_rows.recordCount());
        if (name == u"movenext") {
            if (m_rows.atEnd())
                throw noCurrentRecord();
            commit(m_rows.moveNext());
            return {};
        }
        if (name == u"movefirst") {
            commit(m_rows.moveFirst());
            return {};
        }
        if (name == u"movelast") {
            commit(m_rows.moveLast());
            return {};
        }
        if (name == u"addnew") {
            if (!args.empty())
                throw unsupported(QStringLiteral("的用法：带字段列表的 AddNew"));
            commit(m_rows.addNew());
            return {};
        }
        if (name == u"update") {
            if (!args.empty())
                throw unsupported(QStringLiteral("的用法：带字段列表的 Update"));
            commit(m_rows.update());
            return {};
        }
        if (name == u"delete") {
            if (m_rows.atEnd())
                throw noCurrentRecord();
            commit(m_rows.deleteCurrent());
            return {};
        }
        if (name == u"moveprevious" || name == u"getrows" || name == u"find" || name == u"requery")
            throw unsupported(QStringLiteral("的方法：Recordset.") + name);
        refuse(name);
    }

    // rs("姓名") as a plain value: the field read without a Field object made for it.
    Value value(const Args& args) override
    {
        expectArgs(QStringLiteral("Fields"), args, 1, 1);
        return read(index(args[0]));
    }

    void set(const QString& name, const Args& args, const Value& value) override
    {
        if (name.isEmpty() || name == u"collect") {
            expectArgs(QStringLiteral("Fields"), args, 1, 1);
            write(index(args[0]), value);
        } else if (name == u"activeconnection") {
            setConnection(value);
        } else if (name != u"cursortype" && name != u"locktype" && name != u"cursorlocation"
                   && name != u"source" && name != u"pagesize" && name != u"cachesize") {
            refuse(name);
        }
    }

    void open(const QString& sql)
    {
        if (m_open)
            throw ScriptError(ScriptError::Kind::Runtime, 3705, recordsetSource,
                              QStringLiteral("对象打开时，不允许操作。"));
        if (!m_connection || !m_connection->database())
            throw ScriptError(ScriptError::Kind::Runtime, 3709, recordsetSource,
                              QStringLiteral("连接不能用于执行此操作。它在此上下文中可能已被关闭或无效。"));
        if (hasSecondStatement(sql))
            throw databaseError(QStringLiteral("SQL 语句之后不能再有字符"));
        const std::optional<QString> sent = queryWithoutNul(sql);
        if (!sent)
            throw databaseError(nulInStatement);
        m_found.clear();
        m_rows.attach(*m_connection->database());
        if (!m_rows.open(*sent))
            throw ScriptError(ScriptError::Kind::Runtime, 0x80040e14, jetSource, m_rows.lastError());
        m_open = true;
    }

    void setConnection(const Value& connection)
    {
        if (connection.isObject()) {
            auto c = std::dynamic_pointer_cast<AdoConnection>(connection.object());
            if (!c)
                throw typeMismatch(QStringLiteral("ActiveConnection"));
            m_connection = std::move(c);
            return;
        }
        // A connection string in place of a connection opens one of its own.
        auto c = std::make_shared<AdoConnection>();
        c->open(text(connection));
        m_connection = std::move(c);
    }

    int fieldCount()
    {
        requireOpen();
        return m_rows.fieldCount();
    }

    QString fieldName(int i)
    {
        requireOpen();
        return m_rows.fieldName(i);
    }

    int index(const Value& key)
    {
        requireOpen();
        const Value k = scalar(key);
        if (k.isNumber()) {
            const qint32 i = k.toLong();
            if (i < 0 || i >= m_rows.fieldCount())
                throw noSuchField(k.toString());
            return i;
        }
        const QString name = text(k);
        // A page names its fields with the same few texts on every row: the text of a literal
        // is one shared string, known again by its address, which it keeps while held here.
        for (const auto& [known, i] : m_found) {
            if (known.constData() == name.constData() && known.size() == name.size())
                return i;
        }
        const int i = find(name);
        if (i < 0)
            throw noSuchField(name);
        if (m_found.size() < 32)
            m_found.emplace_back(name, i);
        return i;
    }

    Value read(int i)
    {
        requireOpen();
        if (m_rows.atEnd())
            throw noCurrentRecord();
        const QVariant v = m_rows.readValue(i);
        switch (v.typeId()) {
        case QMetaType::UnknownType:
            return Value::null();
        case QMetaType::LongLong:
        case QMetaType::Int: {
            const qint64 n = v.toLongLong();
            return n >= INT32_MIN && n <= INT32_MAX ? Value::fromLong(qint32(n))
                                                    : Value::fromDouble(double(n));
        }
        case QMetaType::Double:
            return Value::fromDouble(v.toDouble());
        case QMetaType::QByteArray:
            return Value::fromBytes(v.toByteArray());
        default:
            return Value::fromString(v.toString());
        }
    }

    void write(int i, const Value& value0)
    {
        requireOpen();
        if (m_rows.atEnd())
            throw noCurrentRecord();
        const Value value = scalar(value0);
        const QString name = m_rows.fieldName(i);
        if (value.isString() && value.toString().contains(QChar(0)))
            throw databaseError(nulInValue);
        bool written;
        if (m_rows.isByteField(name)) {
            // Remarks are stored as the page's GBK bytes, as the desktop program keeps them.
            written =
                m_rows.writeBytes(name, value.isNull() || value.isEmpty() ? QByteArray() : value.toBytes());
        } else {
            written = m_rows.writeText(name, value.isNull() ? QString() : value.toString());
        }
        if (!written)
            throw databaseError(m_rows.lastError());
    }

private:
    int find(const QString& name) const
    {
        // Mostly spelt as the table spells it: found without folding case.
        for (int i = 0; i < m_rows.fieldCount(); ++i) {
            if (m_rows.fieldName(i) == name)
                return i;
        }
        for (int i = 0; i < m_rows.fieldCount(); ++i) {
            if (m_rows.fieldName(i).compare(name, Qt::CaseInsensitive) == 0)
                return i;
        }
        return -1;
    }

    void requireOpen() const
    {
        if (!m_open)
            throw closedObject();
    }

    void commit(bool done)
    {
        if (!done)
            throw databaseError(m_rows.lastError());
    }

    Value field(const Args& args)
    {
        expectArgs(QStringLiteral("Fields"), args, 1, 1);
        return Value::fromObject(std::make_shared<AdoField>(shared_from_this(), index(args[0])));
    }

    std::shared_ptr<AdoConnection> m_connection;
    Recordset m_rows;
    bool m_open = false;
    std::vector<std::pair<QString, int>> m_found; // field names the page used, and their fields
};

Value AdoConnection::get(const QString& name, const Args& args)
{
    if (name == u"open") {
        expectArgs(name, args, 0, 4);
        open(args.empty() || scalar(args[0]).isEmpty() ? m_connectionString : text(args[0]));
        return {};
    }
    if (name == u"close") {
        close();
        return {};
    }
    if (name == u"state")
        return Value::fromLong(m_database ? 1 : 0);
    if (name == u"connectionstring")
        return Value::fromString(m_connectionString);
    if (name == u"execute") {
        expectArgs(name, args, 1, 3);
        if (!m_database)
            throw ScriptError(ScriptError::Kind::Runtime, 3704, QStringLiteral("ADODB.Connection"),
                              QStringLiteral("对象关闭时，不允许操作。"));
        const QString sql = text(args[0]);
        if (hasSecondStatement(sql))
            throw databaseError(QStringLiteral("SQL 语句之后不能再有字符"));
        auto recordset = std::make_shared<AdoRecordset>();
        if (sql.trimmed().startsWith(QLatin1String("select"), Qt::CaseInsensitive)) {
            recordset->setConnection(Value::fromObject(shared_from_this()));
            recordset->open(sql);
        } else if (sql.contains(QChar(0))) {
            throw databaseError(nulInValue);
        } else if (!m_database->execute(sql)) {
            throw ScriptError(ScriptError::Kind::Runtime, 0x80040e14, jetSource, m_database->lastError());
        }
        return Value::fromObject(recordset);
    }
    if (name == u"begintrans" || name == u"committrans" || name == u"rollbacktrans")
        throw unsupported(QStringLiteral("的方法：Connection.") + name);
    refuse(name);
}

Value AdoField::get(const QString& name, const Args& args)
{
    if (!args.empty())
        refuse(name);
    if (name.isEmpty() || name == u"value")
        return m_recordset->read(m_index);
    if (name == u"name")
        return Value::fromString(m_recordset->fieldName(m_index));
    if (name == u"actualsize") {
        const Value v = m_recordset->read(m_index);
        return Value::fromLong(
            v.isNull() ? 0 : qint32(v.type() == Value::Type::Bytes ? v.bytes().size() : v.toString().size()));
    }
    refuse(name);
}

void AdoField::set(const QString& name, const Args& args, const Value& value)
{
    if (!args.empty() || !(name.isEmpty() || name == u"value"))
        refuse(name);
    m_recordset->write(m_index, value);
}

Value AdoFields::get(const QString& name, const Args& args)
{
    if (name.isEmpty() || name == u"item") {
        expectArgs(QStringLiteral("Item"), args, 1, 1);
        return Value::fromObject(std::make_shared<AdoField>(m_recordset, m_recordset->index(args[0])));
    }
    if (name == u"count")
        return Value::fromLong(m_recordset->fieldCount());
    refuse(name);
}

std::vector<Value> AdoFields::items()
{
    std::vector<Value> fields;
    for (int i = 0, n = m_recordset->fieldCount(); i < n; ++i)
        fields.push_back(Value::fromObject(std::make_shared<AdoField>(m_recordset, i)));
    return fields;
}

} // namespace

Value createAdoObject(const QString& progId)
{
    const QString id = progId.trimmed().toLower();
    if (id == u"adodb.connection")
        return Value::fromObject(std::make_shared<AdoConnection>());
    if (id == u"adodb.recordset")
        return Value::fromObject(std::make_shared<AdoRecordset>());
    throw unsupported(QStringLiteral("的对象：") + progId);
}

QString dataSource(const QString& connectionString)
{
    for (const QString& part : connectionString.split(u';')) {
        const qsizetype eq = part.indexOf(u'=');
        if (eq < 0)
            continue;
        const QString key = part.left(eq).simplified();
        if (key.compare(u"data source", Qt::CaseInsensitive) == 0
            || key.compare(u"dbq", Qt::CaseInsensitive) == 0)
            return part.mid(eq + 1).trimmed();
    }
    return {};
}

bool hasSecondStatement(QStringView sql)
{
    bool ended = false;
    for (qsizetype i = 0; i < sql.size(); ++i) {
        const QChar c = sql[i];
        if (ended) {
            if (!c.isSpace() && c != u';')
                return true;
            continue;
        }
        if (c == u'\'' || c == u'"' || c == u'[' || c == u'`') {
            const QChar close = c == u'[' ? u']' : c;
            qsizetype j = i + 1;
            while (j < sql.size() && sql[j] != close)
                ++j;
            i = j; // a doubled quote closes and opens again: the same walk
        } else if (c == u'-' && i + 1 < sql.size() && sql[i + 1] == u'-') {
            while (i < sql.size() && sql[i] != u'\n')
                ++i;
        } else if (c == u'/' && i + 1 < sql.size() && sql[i + 1] == u'*') {
            const qsizetype end = sql.indexOf(QLatin1String("*/"), i + 2);
            if (end < 0)
                return false;
            i = end + 1;
        } else if (c == u';') {
            ended = true;
        }
    }
    return false;
}

std::optional<QString> queryWithoutNul(QStringView sql)
{
    if (!sql.contains(QChar(0)))
        return sql.toString();
    QString sent;
    sent.reserve(sql.size());
    for (qsizetype i = 0; i < sql.size(); ++i) {
        if (sql[i] == QChar(0))
            return std::nullopt;
        if (sql[i] != u'\'') {
            sent += sql[i];
            continue;
        }
        // A quoted value up to its closing quote; a doubled quote is one quote inside it.
        qsizetype end = i + 1;
        while (end < sql.size() && (sql[end] != u'\'' || (end + 1 < sql.size() && sql[end + 1] == u'\'')))
            end += sql[end] == u'\'' ? 2 : 1;
        const QStringView value = sql.mid(i, std::min(end + 1, sql.size()) - i);
        // In brackets: a value may touch the next word, as in '…'or 姓名=.
        sent += value.contains(QChar(0)) ? QStringLiteral("(NULL)") : value.toString();
        i = end;
    }
    return sent;
}

} // namespace asp
