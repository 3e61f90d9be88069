// SPDX-License-Identifier: GPL-3.0-or-later
// Damaged copies of Access files written by Access itself, made by damage-jet.py, as a worn USB
// stick or a copy cut short leaves them: each is refused with its reason, or, where the damage
// touches nothing that is copied, converted exactly as the undamaged file. The Access reader's
// own process is stalled, crashed and flooded with complaints to see the program stay in
// charge. QINGHE_JET_MUTANTS sets how many random copies are tried as well (the soak target
// tries a thousand).
#include "archive/jet/JetReader.h"
#include "exchange/AccessImport.h"
#include "tests/exchange/ImportOutcome.h"
#include "tests/support/TestFolder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sqlite3.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

QString fixture(const QString& name) { return QStringLiteral(QINGHE_JET_FIXTURES "/") + name; }

// Every table of an SQLite file, row by row, values as text and bytes as hex.
QStringList dump(const QString& path)
{
    QStringList lines;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr)
        != SQLITE_OK) {
        sqlite3_close(db);
        return {QStringLiteral("cannot open")};
    }
    const auto each = [db](const QByteArray& sql, const std::function<void(sqlite3_stmt*)>& row) {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, sql.constData(), -1, &statement, nullptr);
        while (statement && sqlite3_step(statement) == SQLITE_ROW)
            row(statement);
        sqlite3_finalize(statement);
    };
    QStringList tables;
    each("SELECT name, sql FROM sqlite_master WHERE type='table' ORDER BY rowid", [&](sqlite3_stmt* s) {
        tables << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
        lines << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, 1)));
    });
    for (const QString& table : tables) {
        each("SELECT * FROM \"" + table.toUtf8() + '"', [&](sqlite3_stmt* s) {
            QStringList values{table};
            for (int c = 0; c < sqlite3_column_count(s); ++c) {
                const QByteArray bytes(static_cast<const char*>(sqlite3_column_blob(s, c)),
                                       sqlite3_column_bytes(s, c));
                values << QString::number(sqlite3_column_type(s, c)) + u':'
                              + QString::fromLatin1(bytes.toHex());
            }
            lines << values.join(u'|');
        });
    }
    sqlite3_close(db);
    return lines;
}

QByteArray digest(const QString& path)
{
    return QCryptographicHash::hash(fileBytes(path), QCryptographicHash::Sha256);
}

// The largest resident size any finished child of this test has had.
qint64 childrenPeakBytes()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return qint64(usage.ru_maxrss) * 1024;
}

[[maybe_unused]] qint64 ownResidentBytes()
{
    QFile status(QStringLiteral("/proc/self/statm"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    return status.readAll().split(' ').value(1).toLongLong() * sysconf(_SC_PAGESIZE);
}

struct Mutant {
    QString file;
    QString source;
    QString expected;
};

QList<Mutant> makeMutants(const QString& folder, const QStringList& mode)
{
    QProcess script;
    script.start(QStringLiteral("python3"), QStringList{QStringLiteral(QINGHE_DAMAGE_SCRIPT), mode.first(),
                                                        QStringLiteral(QINGHE_JET_FIXTURES), folder}
                                                + mode.mid(1));
    if (!script.waitForFinished(120000) || script.exitCode() != 0)
        qFatal("damage-jet.py failed: %s", script.readAllStandardError().constData());
    QList<Mutant> mutants;
    for (const QByteArray& line : fileBytes(folder + QStringLiteral("/manifest.tsv")).split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() == 3)
            mutants << Mutant{folder + u'/' + QString::fromUtf8(fields[0]), QString::fromUtf8(fields[1]),
                              QString::fromUtf8(fields[2])};
    }
    return mutants;
}

// A stand-in for the reader: a shell script that does something first, then becomes the real
// reader with the same file.
QString wrappedReader(const QTemporaryDir& dir, const QByteArray& first)
{
    const QString path = dir.filePath(QStringLiteral("reader.sh"));
    writeTestFile(path, "#!/bin/sh\n" + first + "\nexec \"" + qgetenv("QINGHE_JET_READER") + "\" \"$@\"\n");
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

// The reader processes this test has started and not yet seen end.
QList<pid_t> readerProcesses()
{
    QList<pid_t> found;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t pid = entry.toInt(&number);
        if (!number)
            continue;
        const QByteArray stat = fileBytes(QStringLiteral("/proc/%1/stat").arg(pid));
        const qsizetype close = stat.lastIndexOf(')');
        const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
        if (fields.value(1).toInt() == getpid())
            found << pid;
    }
    return found;
}

class ReaderOverride {
public:
    explicit ReaderOverride(const QString& program)
        : m_previous(qgetenv("QINGHE_JET_READER"))
    {
        qputenv("QINGHE_JET_READER", program.toLocal8Bit());
    }
    ~ReaderOverride() { qputenv("QINGHE_JET_READER", m_previous); }

private:
    QByteArray m_previous;
};

} // namespace

class AccessDamageTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void corpus_data();
    void corpus();
    void randomDamage();
    void cutFileRefusedBeforeAnyQuestion();
    void stalledReaderStopped();
    void crashedReaderNamesThePage();
    void complaintsKeptShort();

private:
    // What each file is read whole; checks a damaged copy of it against that.
    void check(const Mutant& mutant);

    QTemporaryDir m_dir;
    QHash<QString, QStringList> m_undamaged;
    QList<Mutant> m_corpus;
};

void AccessDamageTest::initTestCase()
{
    for (const QString& name : {QStringLiteral("testV2000.mdb"), QStringLiteral("test2V2000.mdb"),
                                QStringLiteral("testUnicodeCompV2003.mdb"), QStringLiteral("test2V1997.mdb"),
                                QStringLiteral("db-enc.mdb")}) {
        const QString out = m_dir.filePath(name + QStringLiteral(".sqlite"));
        const ImportOutcome result = copyAccess(fixture(name), out);
        QVERIFY2(result.ok, qPrintable(result.error));
        m_undamaged.insert(name, dump(out));
    }
    m_corpus = makeMutants(m_dir.filePath(QStringLiteral("corpus")), {QStringLiteral("corpus")});
    QVERIFY(m_corpus.size() >= 30);
}

void AccessDamageTest::corpus_data()
{
    QTest::addColumn<int>("index");
    for (qsizetype i = 0; i < m_corpus.size(); ++i)
        QTest::newRow(qPrintable(QFileInfo(m_corpus[i].file).completeBaseName())) << int(i);
}

void AccessDamageTest::corpus()
{
    QFETCH(int, index);
    check(m_corpus[index]);
}

void AccessDamageTest::check(const Mutant& mutant)
{
    const QByteArray before = digest(mutant.file);
    const QString out = mutant.file + QStringLiteral(".sqlite");
    QElapsedTimer timer;
    timer.start();
    const ImportOutcome result = copyAccess(mutant.file, out);
    // Not a speed figure: the watchdog's promise that no file holds the program for long.
    QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY2(childrenPeakBytes() < (qint64(300) << 20), qPrintable(QString::number(childrenPeakBytes())));
    QCOMPARE(digest(mutant.file), before);

    if (!result.ok) {
        QVERIFY2(!result.error.isEmpty(), "a refusal says why");
        QVERIFY2(!QFileInfo::exists(out), "nothing of a refused file is written");
        QVERIFY2(mutant.expected != u"same", qPrintable(result.error));
        if (mutant.expected == u"incomplete")
            QVERIFY2(result.error.startsWith(JetFile::incomplete), qPrintable(result.error));
        return;
    }
    QVERIFY2(mutant.expected == u"same" || mutant.expected == u"any",
             qPrintable(QStringLiteral("converted, though damaged: ") + mutant.file));
    const QStringList copied = dump(out);
    if (mutant.expected == u"same") {
        QCOMPARE(copied, m_undamaged.value(mutant.source));
        return;
    }
    // Random damage may change a stored value unseen (Jet keeps no checksums), but never which
    // tables there are or how many rows they hold: those are counted against the file's pages.
    const auto shape = [](const QStringList& lines) {
        static const QRegularExpression created(QStringLiteral("^CREATE TABLE \"?([^\"(]+)"));
        QMap<QString, int> rows;
        for (const QString& line : lines) {
            const QRegularExpressionMatch table = created.match(line);
            ++rows[table.hasMatch() ? QStringLiteral("table ") + table.captured(1)
                                    : line.section(u'|', 0, 0)];
        }
        return rows;
    };
    QCOMPARE(shape(copied), shape(m_undamaged.value(mutant.source)));
}

void AccessDamageTest::randomDamage()
{
    const int count = qEnvironmentVariableIsSet("QINGHE_JET_MUTANTS")
                          ? qEnvironmentVariableIntValue("QINGHE_JET_MUTANTS")
                          : 20;
    const int seed =
        qEnvironmentVariableIsSet("QINGHE_JET_SEED") ? qEnvironmentVariableIntValue("QINGHE_JET_SEED") : 26;
    const QString folder = m_dir.filePath(QStringLiteral("random"));
    const QList<Mutant> mutants =
        makeMutants(folder, {QStringLiteral("random"), QString::number(count), QString::number(seed)});
    QCOMPARE(mutants.size(), count);
    int refused = 0;
    int same = 0;
    int differ = 0;
    for (const Mutant& mutant : mutants) {
        check(mutant);
        if (QTest::currentTestFailed())
            QFAIL(qPrintable(QStringLiteral("with ") + mutant.file));
        const QString out = mutant.file + QStringLiteral(".sqlite");
        if (!QFileInfo::exists(out))
            ++refused;
        else if (dump(out) == m_undamaged.value(mutant.source))
            ++same;
        else
            ++differ;
        QFile::remove(mutant.file);
        QFile::remove(out);
    }
    qInfo("%d damaged copies (seed %d): %d refused, %d converted as the undamaged file, %d converted with a "
          "changed value",
          count, seed, refused, same, differ);
}

void AccessDamageTest::cutFileRefusedBeforeAnyQuestion()
{
    // Cut at a page boundary, as a copy that stopped between two writes leaves it: not "no
    // student archive", which would send the office looking for another file.
    TestFolder folder(false);
    const QString cut = writeTestFile(folder.path() + QStringLiteral("/usb.mdb"),
                                      fileBytes(fixture(QStringLiteral("testV2000.mdb"))).left(57344));
    const ImportOutcome result = importAccess(cut, folder.databaseFile());
    QVERIFY(!result.ok);
    QVERIFY2(result.error.startsWith(JetFile::incomplete), qPrintable(result.error));
    QVERIFY(!QFileInfo::exists(folder.databaseFile()));
    QVERIFY(!QFileInfo::exists(folder.path() + QStringLiteral("/DB/备份")));

    // The old archive where it always lay, cut the same way: kept as it is, and no backup.
    writeTestFile(folder.databaseFile(), fileBytes(cut));
    const ImportOutcome inPlace = importAccess(folder.databaseFile(), folder.databaseFile());
    QVERIFY2(inPlace.error.startsWith(JetFile::incomplete), qPrintable(inPlace.error));
    QCOMPARE(fileBytes(folder.databaseFile()), fileBytes(cut));
    QVERIFY(!QFileInfo::exists(folder.path() + QStringLiteral("/DB/备份")));
}

void AccessDamageTest::stalledReaderStopped()
{
    // A reader stuck on a worn stick sends nothing: the watchdog ends it and says so.
    QTemporaryDir dir;
    const ReaderOverride reader(wrappedReader(dir, "kill -STOP $$"));
    const QString out = dir.filePath(QStringLiteral("copy.sqlite"));
    const ImportOutcome result = copyAccess(fixture(QStringLiteral("test2V2000.mdb")), out);
    QVERIFY(!result.ok);
    QVERIFY2(result.error.contains(QStringLiteral("没有进展")), qPrintable(result.error));
    QVERIFY(!QFileInfo::exists(out));
    QVERIFY(readerProcesses().isEmpty());
}

void AccessDamageTest::crashedReaderNamesThePage()
{
    JetReader jet;
    QVERIFY2(jet.open(fixture(QStringLiteral("test2V2000.mdb"))), qPrintable(jet.lastError()));
    const QList<pid_t> readers = readerProcesses();
    QCOMPARE(readers.size(), 1);
    // Once it waits for the next table (sleeping in its read), it meets what libmdb meets on a
    // page it misreads; the reader tells which page it was on.
    QTRY_VERIFY(fileBytes(QStringLiteral("/proc/%1/stat").arg(readers.first())).contains(") S "));
    ::kill(readers.first(), SIGSEGV);
    const bool read = jet.readRows(jet.tables().first(), [](const QVariantList&) { return true; });
    QVERIFY(!read);
    QVERIFY2(jet.lastError().startsWith(QStringLiteral("Access 文件已损坏（读取第 "))
                 && jet.lastError().contains(QStringLiteral("页出错")),
             qPrintable(jet.lastError()));
    QVERIFY(readerProcesses().isEmpty());
}

void AccessDamageTest::complaintsKeptShort()
{
    // libmdb repeating one warning millions of times: read as it comes, kept as one line.
    QTemporaryDir dir;
    const ReaderOverride reader(wrappedReader(
        dir, "yes 'Warning: mdb_col_to_string called on unsupported data type 0.' | head -c 50000000 >&2"));
    [[maybe_unused]] const qint64 before = ownResidentBytes();
    JetReader jet;
    QVERIFY2(jet.open(fixture(QStringLiteral("testV2000.mdb"))), qPrintable(jet.lastError()));
    jet.close();
    const QString notes = jet.diagnostics();
    QVERIFY2(
        notes.startsWith(QStringLiteral("Warning: mdb_col_to_string called on unsupported data type 0.（")),
        qPrintable(notes));
    QVERIFY2(notes.size() < 2000, qPrintable(notes.left(2000)));
    // Under AddressSanitizer every chunk read waits in quarantine once freed.
#ifndef __SANITIZE_ADDRESS__
    QVERIFY2(ownResidentBytes() - before < (qint64(30) << 20),
             qPrintable(QString::number(ownResidentBytes() - before)));
#endif
}

QTEST_GUILESS_MAIN(AccessDamageTest)
#include "tst_accessdamage.moc"
