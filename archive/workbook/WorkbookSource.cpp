// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/workbook/WorkbookSource.h"

#include "archive/SqliteSession.h"
#include "formats/SafeFile.h"
#include "formats/workbook/Workbook.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <memory>
#include <set>

namespace {

const QString tableName = QStringLiteral("\"Sheet1$\"");

QHash<QString, QString> connectionFields(const QString& connectionString)
{
    QHash<QString, QString> fields;
    qsizetype i = 0;
    while (i < connectionString.size()) {
        const qsizetype equals = connectionString.indexOf(u'=', i);
        if (equals < 0)
            break;
        const QString key = connectionString.mid(i, equals - i).trimmed().toLower();
        qsizetype end;
        QString value;
        if (equals + 1 < connectionString.size() && connectionString[equals + 1] == u'{') {
            const qsizetype close = connectionString.indexOf(u'}', equals + 1);
            end = close < 0 ? connectionString.size() : close + 1;
            value = connectionString.mid(equals + 2, end - equals - 3);
            end = connectionString.indexOf(u';', end);
        } else {
            end = connectionString.indexOf(u';', equals);
            value = connectionString.mid(equals + 1, (end < 0 ? connectionString.size() : end) - equals - 1);
        }
        fields.insert(key, value.trimmed());
        if (end < 0)
            break;
        i = end + 1;
    }
    return fields;
}

// The table's fields: the header texts, "F" and the position for an empty or repeated one.
struct Layout {
    int headerRow = -1;
    std::vector<int> columns; // sheet column of each field
    QStringList names;
};

Layout layoutOf(const WorksheetCells& sheet)
{
    Layout layout;
    int first = INT_MAX, last = -1;
    for (size_t r = 0; r < sheet.rows.size(); ++r) {
        for (size_t c = 0; c < sheet.rows[r].size(); ++c) {
            if (sheet.rows[r][c].isNull())
                continue;
            if (layout.headerRow < 0)
                layout.headerRow = int(r);
            first = std::min(first, int(c));
            last = std::max(last, int(c));
        }
    }
    QSet<QString> seen;
    for (int c = first; c <= last; ++c) {
        QString name = sheet.text(layout.headerRow, c);
        if (name.isEmpty() || seen.contains(name.toLower()))
            name = QStringLiteral("F%1").arg(c - first + 1);
        seen.insert(name.toLower());
        layout.columns.push_back(c);
        layout.names << name;
    }
    return layout;
}

QString quoted(const QString& name)
{
    QString text = name;
    text.replace(u'"', QStringLiteral("\"\""));
    return u'"' + text + u'"';
}

// The workbook behind an open source: what was read, to compare changed rows against and to
// check that the file is still the one that was read.
struct Source {
    QString path;
    WorksheetCells sheet;
    Layout layout;
    std::set<sqlite3_int64> changedRows;
    bool rowsAddedOrRemoved = false;

    bool writeBack(SqliteSession& session);
};

void recordChange(void* source, int operation, const char*, const char*, sqlite3_int64 row)
{
    auto* s = static_cast<Source*>(source);
    if (operation == SQLITE_UPDATE)
        s->changedRows.insert(row);
    else
        s->rowsAddedOrRemoved = true;
}

bool Source::writeBack(SqliteSession& session)
{
    const std::set<sqlite3_int64> rows = std::exchange(changedRows, {});
    if (std::exchange(rowsAddedOrRemoved, false))
        return session.fail(QStringLiteral("名单文件中不能添加或删除行"));

    std::vector<CellAddress> blanks;
    QStringList list;
    for (const QString& name : layout.names)
        list << quoted(name);
    for (const sqlite3_int64 row : rows) {
        Statement query(session, QStringLiteral("SELECT ") + list.join(u", ") + QStringLiteral(" FROM ")
                                     + tableName + QStringLiteral(" WHERE rowid=?"));
        query.bind(1, qint64(row));
        if (query.step() != SQLITE_ROW)
            continue;
        for (size_t f = 0; f < layout.columns.size(); ++f) {
            const QString now = query.column(int(f)).toString();
            const QString before = sheet.text(int(row), layout.columns[f]);
            if (now == before)
                continue;
            if (!now.isEmpty())
                return session.fail(QStringLiteral("名单文件中只能清空单元格，不能写入新内容"));
            blanks.push_back({int(row), layout.columns[f]});
        }
    }
    if (blanks.empty())
        return true;

    const QFileInfo info(path);
    if (!info.exists())
        return session.fail(QStringLiteral("找不到名单文件") + path);
    // A file marked read-only stays as it is, also for a user whom the system would let write.
    if (!info.isWritable() || !(info.permissions() & QFileDevice::WriteOwner))
        return session.fail(QStringLiteral("名单文件是只读的：") + path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return session.fail(QStringLiteral("名单文件打不开：") + file.errorString());
    QByteArray changed;
    QString error;
    if (!Workbook::blankCells(file.readAll(), sheet, blanks, &changed, &error)
        || !SafeFile::write(path, changed, &error))
        return session.fail(error);
    for (const CellAddress& cell : blanks)
        sheet.set(cell.row, cell.column, QString());
    return true;
}

bool loadTable(SqliteSession& session, const Source& source)
{
    QStringList columns, marks;
    for (const QString& name : source.layout.names) {
        columns << quoted(name);
        marks << QStringLiteral("?");
    }
    if (!session.exec(QStringLiteral("CREATE TABLE ") + tableName + u'(' + columns.join(u", ") + u')')
        || !session.exec(QStringLiteral("BEGIN")))
        return false;
    Statement insert(session, QStringLiteral("INSERT INTO ") + tableName + QStringLiteral("(rowid, ")
                                  + columns.join(u", ") + QStringLiteral(") VALUES (?, ") + marks.join(u", ")
                                  + u')');
    if (!insert.isValid())
        return session.fail(insert.code());
    for (size_t r = size_t(source.layout.headerRow) + 1; r < source.sheet.rows.size(); ++r) {
        sqlite3_reset(insert.handle());
        insert.bind(1, qint64(r));
        for (size_t f = 0; f < source.layout.columns.size(); ++f) {
            const QString text = source.sheet.text(int(r), source.layout.columns[f]);
            insert.bind(int(f) + 2, text.isNull() ? QVariant() : QVariant(text));
        }
        if (insert.step() != SQLITE_DONE)
            return session.fail(insert.code());
    }
    return session.exec(QStringLiteral("COMMIT"));
}

} // namespace

namespace WorkbookSource {

bool open(SqliteSession& session, const QString& connectionString)
{
    session.close();
    const QHash<QString, QString> fields = connectionFields(connectionString);
    if (!fields.value(QStringLiteral("driver")).contains(u"Excel", Qt::CaseInsensitive)
        || !fields.contains(QStringLiteral("dbq")))
        return session.fail(QStringLiteral("不支持这种数据源：") + connectionString);

    auto source = std::make_shared<Source>();
    source->path = fields.value(QStringLiteral("dbq"));
    // Paths written the Windows way (the program folder + "\学生名单.xls") name the same file.
    if (!QFileInfo::exists(source->path) && source->path.contains(u'\\'))
        source->path.replace(u'\\', u'/');
    QFile file(source->path);
    if (!QFileInfo(source->path).isFile())
        return session.fail(QStringLiteral("找不到名单文件") + source->path);
    if (!file.open(QIODevice::ReadOnly))
        return session.fail(QStringLiteral("名单文件打不开：") + file.errorString());
    QString error;
    if (!Workbook::readSheet(file.readAll(), QStringLiteral("Sheet1"), &source->sheet, &error))
        return session.fail(error);
    file.close();
    source->layout = layoutOf(source->sheet);

    const int rc = sqlite3_open_v2(":memory:", &session.db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK) {
        session.fail(rc);
        session.close();
        return false;
    }
    // An empty sheet is a table without fields: every query on it fails, as on a missing sheet.
    if (!source->layout.names.isEmpty() && !loadTable(session, *source)) {
        session.close();
        return false;
    }
    const bool writable = fields.value(QStringLiteral("readonly"), QStringLiteral("1")) == u"0";
    if (writable) {
        sqlite3_update_hook(session.db, recordChange, source.get());
        session.afterChange = [source](SqliteSession& s) { return source->writeBack(s); };
    } else {
        session.exec(QStringLiteral("PRAGMA query_only=1"));
    }
    session.lastError = {};
    return true;
}

} // namespace WorkbookSource
