// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariantList>

#include <functional>

// What both sides of the Access reader know of a Jet (Access) file: its tables as the
// catalogue lists them, and how the file is recognised. Reading it takes libmdb, which runs
// only in the reader's own process (JetReader starts it).
namespace JetFile {

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

// Values come in their own kinds: integers, doubles, text, bytes (long binary and OLE values
// as stored), dates as "yyyy-MM-dd hh:mm:ss" text, NULL as an invalid QVariant. The handler
// answers false to stop.
using RowHandler = std::function<bool(const QVariantList& values)>;

// Why an archive that is still the Access file copied from Windows cannot be used, as every
// window and the web pages say it.
inline const QString notConverted = QStringLiteral(
    "数据库文件还是 Access 格式，要先转换成本程序的数据库才能使用：重新启动青禾名录并选择转换，"
    "或运行 qinghe import-access");

// What a file that lacks pages at its end is: cut short while being copied.
inline const QString incomplete = QStringLiteral("文件不完整，请重新复制");

// Whether the file begins like a Jet or ACE database. Reads its first bytes with a plain
// file, so call it only before any SQLite connection to that path is open.
bool isJetFile(const QString& path);
// Bytes 4-19 of the first page.
bool hasJetSignature(const QByteArray& firstBytes);

} // namespace JetFile
