// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>

// An Access (Jet 3 or Jet 4) database file, read through libmdb and never written. Values
// come out in their own kinds: integers, doubles, text, bytes (long binary and OLE values as
// stored), dates as "yyyy-MM-dd hh:mm:ss" text, NULL as an invalid QVariant.
class JetDatabase {
public:
    enum class Type {
        Boolean,
        Byte,
        Integer,
        LongInteger,
        Currency,
        Single,
        Double,
        DateTime,
        Binary,
        Text,
        OleObject,
        Memo,
        ReplicationId,
        Decimal,
        Other
    };

    struct Column {
        QString name;
        Type type = Type::Other;
        bool autoNumber = false;
        int precision = 0; // decimals only
        int scale = 0;
    };

    struct Table {
        QString name;
        QList<Column> columns;
        qint64 rowCount = 0; // as the table's definition counts them
    };

    JetDatabase();
    ~JetDatabase();
    JetDatabase(const JetDatabase&) = delete;
    JetDatabase& operator=(const JetDatabase&) = delete;

    // Why an archive that is still the Access file copied from Windows cannot be used, as
    // every window and the web pages say it.
    static inline const QString notConverted = QStringLiteral(
        "数据库文件还是 Access 格式，要先转换成本程序的数据库才能使用：重新启动青禾名录并选择转换，"
        "或运行 qinghe import-access");

    // Whether the file begins like a Jet or ACE database. Reads its first bytes with a plain
    // file, so call it only before any SQLite connection to that path is open.
    static bool isJetFile(const QString& path);
    static bool hasJetSignature(const QByteArray& firstBytes);

    // Opens read-only and reads the catalogue and every user table's definition. A database
    // password (a masked field of the header) and Jet 4's page encoding need nothing from the
    // caller. False, with the reason, for anything that cannot be read whole.
    bool open(const QString& path);
    void close();

    int jetVersion() const; // 3 or 4; 0 when not open
    const QList<Table>& tables() const { return m_tables; }
    const Table* table(const QString& name) const;
    QString lastError() const { return m_lastError; }

    // Hands every stored row of the table to `row`, in stored order; `row` answers false to
    // stop. False, with the reason, when the table cannot be read whole (a truncated or
    // damaged file): a caller must then keep nothing of what it was given.
    using RowHandler = std::function<bool(const QVariantList& values)>;
    bool readRows(const Table& table, const RowHandler& row);

private:
    struct Handle;
    std::unique_ptr<Handle> m_handle;
    QList<Table> m_tables;
    QString m_lastError;
};
