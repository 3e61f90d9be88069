// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchange/AccessImport.h"

#include "archive/ArchiveCopy.h"
#include "archive/DatabaseConnection.h"
#include "archive/Recordset.h"
#include "archive/StudentTable.h"
#include "archive/TableWriter.h"
#include "archive/jet/JetReader.h"
#include "formats/Gbk.h"
#include "formats/SafeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace AccessImport {

namespace {

using Type = JetFile::Type;

const QString students = QStringLiteral("学生");
const QString classes = QStringLiteral("设置");
const QString administrator = QStringLiteral("管理员");
const QString cancelled = QStringLiteral("已取消");

// What a column of the program's own tables holds; everything else is copied as it is.
enum class Kind { AsIs, Text, Bytes, Integer };

Kind programColumn(const QString& table, const QString& column)
{
    if (table == students) {
        if (column == u"id")
            return Kind::Integer;
        if (column == u"照片" || column == u"简介")
            return Kind::Bytes;
        static const QStringList text{QStringLiteral("姓名"),     QStringLiteral("编号"),
                                      QStringLiteral("班级"),     QStringLiteral("性别"),
                                      QStringLiteral("住址"),     QStringLiteral("电话"),
                                      QStringLiteral("出生年月"), QStringLiteral("选项")};
        return text.contains(column) ? Kind::Text : Kind::AsIs;
    }
    if (table == classes)
        return QStringList{QStringLiteral("单位"), QStringLiteral("帐号"), QStringLiteral("密码")}.contains(
                   column)
                   ? Kind::Text
                   : Kind::AsIs;
    if (table == administrator)
        return column == u"密码" ? Kind::Text : Kind::AsIs;
    return Kind::AsIs;
}

QString asText(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QByteArray:
        return gbk::decode(value.toByteArray());
    case QMetaType::Double:
        return QString::number(value.toDouble(), 'g', 15);
    default:
        return value.toString();
    }
}

// A value made to fit a column of the program's tables: a remark kept as a memo becomes the
// GBK bytes the program keeps there, a number kept as a number becomes its text.
QVariant fitted(const QVariant& value, Kind kind)
{
    if (!value.isValid() || kind == Kind::AsIs)
        return value;
    switch (kind) {
    case Kind::Bytes:
        return value.typeId() == QMetaType::QByteArray ? value : QVariant(gbk::encode(asText(value)));
    case Kind::Text:
        return value.typeId() == QMetaType::QString ? value : QVariant(asText(value));
    case Kind::Integer: {
        bool ok = false;
        const qint64 number = value.toLongLong(&ok);
        return ok ? QVariant(number) : QVariant();
    }
    case Kind::AsIs:
        break;
    }
    return value;
}

// How far the copy has come: told to the caller's Progress by the copier after each few rows,
// and by the reader while it waits for the Access reader's process.
struct Tally {
    const Progress& progress;
    qint64 done = 0;
    qint64 total = 0;

    bool stopped = false; // told to stop through `progress`

    bool keepGoing()
    {
        stopped = stopped || (progress && !progress(done, total));
        return !stopped;
    }
};

class Copier {
public:
    Copier(JetReader& jet, DatabaseConnection& target, Tally& tally)
        : m_jet(jet)
        , m_target(target)
        , m_tally(tally)
    {
        m_tally.done = 0;
        m_tally.total = 0;
        for (const JetFile::Table& table : jet.tables())
            m_tally.total += table.rowCount;
    }

    QString error;
    Counts counts;

    void leaveOut(const JetFile::Table& table) { m_tally.total -= table.rowCount; }
    qint64 rows() const { return m_tally.done; }
    qint64 tables() const { return m_tables; }

    // Copies every row of `table` into the target table `into`, leaving out the columns in
    // `skip`; `kinds` fits the values to the program's own columns.
    bool copy(const JetFile::Table& table, const QString& into, const QSet<QString>& skip = {})
    {
        ++m_tables;
        QStringList names;
        QList<int> sources;
        QList<Kind> kinds;
        for (int i = 0; i < table.columns.size(); ++i) {
            const QString& name = table.columns[i].name;
            if (skip.contains(name))
                continue;
            names << name;
            sources << i;
            kinds << programColumn(into, name);
        }
        TableWriter writer(m_target, into, names);
        QVariantList row(names.size());
        const bool isStudents = into == students;
        const qsizetype photo = isStudents ? names.indexOf(QStringLiteral("照片")) : -1;
        const qsizetype account = into == classes ? names.indexOf(QStringLiteral("帐号")) : -1;
        QString stopped;
        const bool read = m_jet.readRows(table, [&](const QVariantList& values) {
            for (qsizetype i = 0; i < names.size(); ++i)
                row[i] = fitted(values[sources[i]], kinds[i]);
            if (!writer.insert(row)) {
                stopped = QStringLiteral("写入表“%1”失败：").arg(into) + writer.lastError();
                return false;
            }
            if (isStudents) {
                ++counts.students;
                if (photo >= 0 && !row[photo].toByteArray().isEmpty())
                    ++counts.photos;
            } else if (into == classes) {
                ++counts.classes;
                if (account >= 0 && !asText(row[account]).isEmpty())
                    ++counts.accounts;
            }
            ++m_tally.done;
            if (m_tally.done % 64 == 0 && !m_tally.keepGoing()) {
                stopped = cancelled;
                return false;
            }
            return true;
        });
        if (!stopped.isEmpty())
            error = stopped;
        else if (!read)
            error = m_jet.wasStopped() ? cancelled : m_jet.lastError();
        return error.isEmpty();
    }

    bool finish()
    {
        m_tally.done = m_tally.total;
        if (!m_tally.keepGoing()) {
            error = cancelled;
            return false;
        }
        return true;
    }

private:
    JetReader& m_jet;
    DatabaseConnection& m_target;
    Tally& m_tally;
    qint64 m_tables = 0;
};

QList<TableWriter::Column> mappedColumns(const JetFile::Table& table, const QSet<QString>& skip = {})
{
    QList<TableWriter::Column> columns;
    for (const JetFile::Column& column : table.columns) {
        if (!skip.contains(column.name))
            columns << TableWriter::Column{column.name, columnType(column)};
    }
    return columns;
}

// The program's own table, with any column the school added to it in Access after.
bool createProgramTable(DatabaseConnection& target, const QString& statement, const QString& table,
                        const JetFile::Table* source, QString* error)
{
    if (!target.execute(statement)) {
        *error = target.lastError();
        return false;
    }
    if (!source)
        return true;
    const QStringList existing = TableWriter::columnNames(target, table);
    for (const JetFile::Column& column : source->columns) {
        if (existing.contains(column.name, Qt::CaseInsensitive))
            continue;
        if (!TableWriter::addColumn(target, table, {column.name, columnType(column)}, error))
            return false;
    }
    return true;
}

bool sameBytes(const QString& a, const QString& b)
{
    QFile first(a);
    QFile second(b);
    if (first.size() != second.size() || !first.open(QIODevice::ReadOnly)
        || !second.open(QIODevice::ReadOnly))
        return false;
    while (!first.atEnd()) {
        if (first.read(1 << 20) != second.read(1 << 20))
            return false;
    }
    return true;
}

// Copies the old archive into DB/备份/ and answers where; a copy kept there before by a
// conversion that did not finish is used again rather than made twice.
QString keepOriginal(const QString& original, QString* error)
{
    const QDate today = QDate::currentDate();
    const QFileInfo info(original);
    const QString first = info.absolutePath() + QStringLiteral("/备份/") + info.completeBaseName()
                          + QStringLiteral("-access-") + today.toString(QStringLiteral("yyyyMMdd"));
    for (int n = 1;; ++n) {
        const QString candidate =
            first + (n > 1 ? u'-' + QString::number(n) : QString()) + u'.' + info.suffix();
        if (!QFileInfo::exists(candidate))
            break;
        if (sameBytes(original, candidate))
            return candidate;
    }
    const QString backup = originalBackupFile(original, today);
    if (!QDir().mkpath(QFileInfo(backup).absolutePath())) {
        *error = QStringLiteral("无法建立文件夹 ") + QFileInfo(backup).absolutePath();
        return {};
    }
    const bool kept = SafeFile::writeWith(
        backup,
        [&original](const QString& temporary, QString* reason) {
            QFile source(original);
            if (source.copy(temporary))
                return true;
            *reason = source.errorString();
            return false;
        },
        error);
    return kept ? backup : QString();
}

// Other programs still using an SQLite archive would keep writing into the file that is
// about to be replaced, and the log beside it would no longer belong to the new one.
bool archiveInUse(const QString& archive) { return QFileInfo::exists(archive + QStringLiteral("-wal")); }

qint64 studentCount(DatabaseConnection& connection)
{
    Recordset count;
    count.attach(connection);
    if (!count.open(QStringLiteral("select count(*) as n from 学生")) || count.atEnd())
        return -1;
    return count.readValue(u"n").toLongLong();
}

Counts archiveClasses(DatabaseConnection& connection)
{
    Counts counts;
    Recordset rows;
    rows.attach(connection);
    if (rows.open(StudentTable::selectClasses)) {
        for (bool more = !rows.atEnd(); more; more = rows.moveNext() && !rows.atEnd()) {
            ++counts.classes;
            if (!rows.readText(u"帐号").isEmpty())
                ++counts.accounts;
        }
    }
    return counts;
}

// A new archive from the Jet one, in memory.
bool buildArchive(JetReader& jet, DatabaseConnection& target, Tally& tally, Report* result, QString* failure)
{
    if (!target.createInMemory()) {
        *failure = target.lastError();
        return false;
    }
    const JetFile::Table* jetAdministrator = jet.table(administrator);
    QString error;
    if (!createProgramTable(target, StudentTable::createStudents, students, jet.table(students), &error)
        || !createProgramTable(target, StudentTable::createClasses, classes, jet.table(classes), &error)
        || !createProgramTable(target, StudentTable::createAdministrator, administrator, jetAdministrator,
                               &error)) {
        *failure = error;
        return false;
    }
    Copier copier(jet, target, tally);
    for (const JetFile::Table& table : jet.tables()) {
        QString into = table.name;
        for (const QString& own : {students, classes, administrator}) {
            if (table.name.compare(own, Qt::CaseInsensitive) == 0)
                into = own;
        }
        if (into == table.name && into != students && into != classes && into != administrator
            && !TableWriter::createTable(target, into, mappedColumns(table), &error)) {
            *failure = error;
            return false;
        }
        if (!copier.copy(table, into)) {
            *failure = copier.error;
            return false;
        }
    }
    if (!copier.finish()) {
        *failure = copier.error;
        return false;
    }
    // Without the table the administrator could never rebuild or change anything.
    if (!jetAdministrator) {
        TableWriter row(target, administrator, {QStringLiteral("密码")});
        if (!row.insert({StudentTable::defaultAdministratorPassword})) {
            *failure = row.lastError();
            return false;
        }
    }
    result->counts = copier.counts;
    result->tables = copier.tables();
    result->rows = copier.rows();
    return true;
}

// The students of the Jet archive added to an archive in use, in one transaction.
bool appendTo(JetReader& jet, DatabaseConnection& target, Tally& tally, Report* result, QString* failure)
{
    const JetFile::Table* source = jet.table(students);
    QString error;
    const QStringList existing = TableWriter::columnNames(target, students);
    DatabaseTransaction transaction(target);
    if (!transaction.isActive()) {
        *failure = target.lastError();
        return false;
    }
    for (const JetFile::Column& column : source->columns) {
        if (column.name != u"id" && !existing.contains(column.name, Qt::CaseInsensitive)
            && !TableWriter::addColumn(target, students, {column.name, columnType(column)}, &error)) {
            *failure = error;
            return false;
        }
    }
    const QStringList tables = TableWriter::tableNames(target);
    Copier copier(jet, target, tally);
    for (const JetFile::Table& table : jet.tables()) {
        const bool own = table.name.compare(students, Qt::CaseInsensitive) == 0;
        if (!own && tables.contains(table.name, Qt::CaseInsensitive)) {
            // The archive's own classes and password stay; so does any table it already has.
            copier.leaveOut(table);
            result->skippedTables << table.name;
            continue;
        }
        if (!own && !TableWriter::createTable(target, table.name, mappedColumns(table), &error)) {
            *failure = error;
            return false;
        }
        // New students get new ids after the archive's own.
        if (!copier.copy(table, own ? students : table.name,
                         own ? QSet<QString>{QStringLiteral("id")} : QSet<QString>{})) {
            *failure = copier.error;
            return false;
        }
    }
    if (!copier.finish() || !transaction.commit()) {
        *failure = copier.error.isEmpty() ? target.lastError() : copier.error;
        return false;
    }
    result->counts = copier.counts;
    result->tables = copier.tables();
    result->rows = copier.rows();
    const Counts kept = archiveClasses(target);
    result->counts.classes = kept.classes;
    result->counts.accounts = kept.accounts;
    result->appended = true;
    return true;
}

} // namespace

QVariant programValue(const QString& table, const QString& column, const QVariant& value)
{
    return fitted(value, programColumn(table, column));
}

QString columnType(const JetFile::Column& column)
{
    switch (column.type) {
    case Type::Boolean:
        return QStringLiteral("BOOLEAN");
    case Type::Byte:
    case Type::Integer:
    case Type::LongInteger:
        return QStringLiteral("INTEGER");
    case Type::Currency:
        return QStringLiteral("DECIMAL(19,4)");
    case Type::Decimal:
        return QStringLiteral("DECIMAL(%1,%2)").arg(column.precision).arg(column.scale);
    case Type::Single:
    case Type::Double:
        return QStringLiteral("REAL");
    case Type::DateTime:
        return QStringLiteral("DATETIME");
    case Type::Text:
    case Type::Memo:
    case Type::ReplicationId:
        return QStringLiteral("TEXT");
    case Type::Binary:
    case Type::OleObject:
    case Type::Other:
        return QStringLiteral("BLOB");
    }
    return QStringLiteral("BLOB");
}

bool copyTo(const QString& jetFile, const QString& out, Report* report, QString* failure,
            const Progress& progress)
{
    Report own;
    Report& result = report ? *report : own;
    if (QFileInfo(out).exists() && QFileInfo(out).size() > 0) {
        if (failure)
            *failure = QStringLiteral("文件 %1 已存在，不会被覆盖").arg(out);
        return false;
    }
    Tally tally{progress};
    JetReader jet([&tally] { return tally.keepGoing(); });
    const auto fail = [&](const QString& error) {
        if (failure)
            *failure = error;
        result.cancelled = jet.wasStopped() || tally.stopped;
        result.readerNotes = jet.diagnostics();
        return false;
    };
    if (!jet.open(jetFile))
        return fail(jet.lastError());
    DatabaseConnection target;
    if (!target.createInMemory())
        return fail(target.lastError());
    Copier copier(jet, target, tally);
    for (const JetFile::Table& table : jet.tables()) {
        QString error;
        if (!TableWriter::createTable(target, table.name, mappedColumns(table), &error))
            return fail(error);
        if (!copier.copy(table, table.name))
            return fail(copier.error);
    }
    QString error;
    if (!copier.finish())
        return fail(copier.error);
    jet.close();
    if (!ArchiveCopy::writeFile(target, out, &error))
        return fail(error);
    result.tables = copier.tables();
    result.rows = copier.rows();
    return true;
}

bool importArchive(const QString& jetFile, const QString& archive, bool append, Report* report,
                   QString* failure, const Progress& progress)
{
    Report own;
    Report& result = report ? *report : own;
    Tally tally{progress};
    JetReader jet([&tally] { return tally.keepGoing(); });
    const auto fail = [&](const QString& error) {
        if (failure)
            *failure = error;
        result.cancelled = jet.wasStopped() || tally.stopped;
        result.readerNotes = jet.diagnostics();
        return false;
    };
    // A Jet file where the archive lies is the old archive, recognised from its bytes before
    // SQLite ever opens that path.
    const bool replacesJet = JetFile::isJetFile(archive);
    if (!jet.open(jetFile))
        return fail(jet.lastError());
    if (!jet.table(students))
        return fail(notStudentArchive);

    if (!replacesJet && DatabaseConnection::fileHoldsData(archive)) {
        DatabaseConnection current;
        if (!current.openDatabaseFile(archive, StudentTable::databasePassword, students))
            return fail(QStringLiteral("打不开现有的数据库：") + current.lastError());
        const qint64 count = studentCount(current);
        if (count < 0)
            return fail(QStringLiteral("读不出现有数据库里的学生：") + current.lastError());
        if (append) {
            QString error;
            if (!appendTo(jet, current, tally, &result, &error))
                return fail(error);
            return true;
        }
        if (count > 0)
            return fail(QStringLiteral("现有的数据库里已有 %1 名学生，不会被替换。要把 Access "
                                       "数据库里的学生加在后面，请加 --append")
                            .arg(count));
    }
    if (!replacesJet && archiveInUse(archive))
        return fail(QStringLiteral(
            "数据库正被其他程序使用（例如网页服务器或另一个青禾名录窗口），请先关闭它们再导入"));

    DatabaseConnection target;
    QString error;
    if (!buildArchive(jet, target, tally, &result, &error))
        return fail(error);
    jet.close();
    // Only a file read whole replaces the old archive, which is kept first.
    if (replacesJet) {
        result.keptOriginal = keepOriginal(archive, &error);
        if (result.keptOriginal.isEmpty())
            return fail(QStringLiteral("无法保存原来的 Access 文件：") + error);
    }
    if (!QDir().mkpath(QFileInfo(archive).absolutePath()))
        return fail(QStringLiteral("无法建立文件夹 ") + QFileInfo(archive).absolutePath());
    if (!ArchiveCopy::writeFile(target, archive, &error))
        return fail(error);
    return true;
}

QString originalBackupFile(const QString& archive, const QDate& date)
{
    const QFileInfo info(archive);
    const QString stem = info.absolutePath() + QStringLiteral("/备份/") + info.completeBaseName()
                         + QStringLiteral("-access-") + date.toString(QStringLiteral("yyyyMMdd"));
    const QString suffix = u'.' + info.suffix();
    QString candidate = stem + suffix;
    for (int n = 2; QFileInfo::exists(candidate); ++n)
        candidate = stem + u'-' + QString::number(n) + suffix;
    return candidate;
}

} // namespace AccessImport
