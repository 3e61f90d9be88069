// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/jet/JetReader.h"

#include "archive/jet/JetStream.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QProcess>

#include <csignal>
#include <optional>

#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// Jet writes whole pages, so a file that is not long enough for its pages is refused before
// anything else; these words say so in every other case the reader cannot finish.
QString brokenReader(const QString& what) { return QStringLiteral("Access 文件已损坏：") + what; }

// libmdb repeats one complaint a million times over a damaged file: each distinct line is
// kept once, with a count, and only so many of them.
class ErrorSummary {
public:
    void add(const QByteArray& bytes)
    {
        for (const char c : bytes) {
            if (c == '\n') {
                finishLine();
            } else if (m_line.size() < maxLineBytes) {
                m_line += c;
            }
        }
    }

    QString text() const
    {
        QStringList lines;
        for (const QByteArray& line : m_order) {
            const qint64 count = m_counts.value(line);
            lines << QString::fromUtf8(line)
                         + (count > 1 ? QStringLiteral("（%1 次）").arg(count) : QString());
        }
        if (m_others > 0)
            lines << QStringLiteral("……另有 %1 行").arg(m_others);
        return lines.join(u'\n');
    }

    bool contains(const char* words) const
    {
        for (const QByteArray& line : m_order) {
            if (line.contains(words))
                return true;
        }
        return m_line.contains(words);
    }

private:
    static constexpr qsizetype maxLineBytes = 200;
    static constexpr qsizetype maxLines = 20;

    void finishLine()
    {
        const QByteArray line = m_line.trimmed();
        m_line.clear();
        if (line.isEmpty())
            return;
        if (auto it = m_counts.find(line); it != m_counts.end()) {
            ++*it;
        } else if (m_order.size() < maxLines) {
            m_order << line;
            m_counts.insert(line, 1);
        } else {
            ++m_others;
        }
    }

    QByteArray m_line;
    QList<QByteArray> m_order;
    QHash<QByteArray, qint64> m_counts;
    qint64 m_others = 0;
};

} // namespace

struct JetReader::Process {
    QProcess process;
    JetStream::Decoder decoder;
    ErrorSummary errors;
    int processorSeconds = 0;
    std::optional<std::pair<quint32, quint32>> crash; // signal, page
    bool killed = false;                              // by us

    void drain()
    {
        errors.add(process.readAllStandardError());
        decoder.append(process.readAllStandardOutput());
    }

    void kill()
    {
        killed = true;
        process.kill();
        process.waitForFinished(2000);
        drain();
    }

    // Why the reader ended before it said what was asked.
    QString endReason() const
    {
        if (crash) {
            const QString page = QStringLiteral("读取第 %1 页出错").arg(crash->second);
            if (errors.contains("alloc"))
                return QStringLiteral("Access 文件已损坏（%1）：读取时用尽了允许的内存（%2 MB）")
                    .arg(page)
                    .arg(memoryLimitBytes >> 20);
            return QStringLiteral("Access 文件已损坏（%1），读取程序因此停止（信号 %2）")
                .arg(page)
                .arg(crash->first);
        }
        if (process.exitStatus() == QProcess::CrashExit) {
            const int signal = process.exitCode();
            if (signal == SIGXCPU)
                return brokenReader(
                    QStringLiteral("读取用了太多处理器时间（超过 %1 秒），已停止").arg(processorSeconds));
            if (errors.contains("alloc"))
                return brokenReader(
                    QStringLiteral("读取时用尽了允许的内存（%1 MB），已停止").arg(memoryLimitBytes >> 20));
            return brokenReader(QStringLiteral("读取程序出错停止（信号 %1）").arg(signal));
        }
        return brokenReader(QStringLiteral("读取程序没有读完就结束了（退出码 %1）").arg(process.exitCode()));
    }
};

int JetReader::processorSecondsFor(qint64 fileSize)
{
    // Reading takes well under a second for each few megabytes; the limit only ends a reader
    // that goes round in circles while still sending something.
    return int(std::min<qint64>(30 + fileSize / (4 << 20), 3600));
}

JetReader::JetReader(KeepGoing keepGoing)
    : m_keepGoing(std::move(keepGoing))
{
}

JetReader::~JetReader() { close(); }

QString JetReader::program()
{
    const QString configured = qEnvironmentVariable("QINGHE_JET_READER");
    if (!configured.isEmpty())
        return configured;
    // Beside the program in a build; among the installed helper programs otherwise.
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/qinghe-jet-reader");
    if (QFileInfo::exists(beside))
        return beside;
    return QDir::cleanPath(QCoreApplication::applicationDirPath()
                           + QStringLiteral("/" QINGHE_PROGRAMS_FROM_BIN "/qinghe-jet-reader"));
}

const JetFile::Table* JetReader::table(const QString& name) const
{
    for (const JetFile::Table& t : m_tables) {
        if (t.name.compare(name, Qt::CaseInsensitive) == 0)
            return &t;
    }
    return nullptr;
}

QString JetReader::diagnostics() const { return m_process ? m_process->errors.text() : m_diagnostics; }

void JetReader::close()
{
    if (!m_process)
        return;
    // A reader that has said all it was asked ends when its input closes.
    QProcess& process = m_process->process;
    if (process.state() != QProcess::NotRunning) {
        process.closeWriteChannel();
        if (!process.waitForFinished(1000))
            m_process->kill();
    }
    m_process->drain();
    m_diagnostics = m_process->errors.text();
    m_process.reset();
    m_tables.clear();
    m_jetVersion = 0;
}

bool JetReader::open(const QString& path)
{
    close();
    m_stopped = false;
    m_lastError.clear();
    m_diagnostics.clear();
    const QFileInfo file(path);
    if (!file.exists()) {
        m_lastError = QStringLiteral("找不到文件 ") + path;
        return false;
    }

    m_process = std::make_unique<Process>();
    QProcess& process = m_process->process;
    const int seconds = processorSecondsFor(file.size());
    m_process->processorSeconds = seconds;
    process.setProgram(program());
    process.setArguments({file.absoluteFilePath()});
    // Set between fork and exec, so the reader starts under them and cannot lift them.
    process.setChildProcessModifier([seconds] {
        // Nothing of the program's own (its archive, its display, its sockets) goes along.
        ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        const rlimit cpu{rlim_t(seconds), rlim_t(seconds + 5)};
        ::setrlimit(RLIMIT_CPU, &cpu);
        const rlimit none{0, 0};
        ::setrlimit(RLIMIT_CORE, &none);
        // It reads; a file it writes is a fault.
        ::setrlimit(RLIMIT_FSIZE, &none);
#ifndef __SANITIZE_ADDRESS__
        // AddressSanitizer reserves terabytes of address space up front and cannot run under it.
        const rlimit memory{rlim_t(memoryLimitBytes), rlim_t(memoryLimitBytes)};
        ::setrlimit(RLIMIT_AS, &memory);
#endif
    });
    process.start(QIODevice::ReadWrite | QIODevice::Unbuffered);
    if (!process.waitForStarted(10000)) {
        m_lastError = QStringLiteral("无法启动 Access 读取程序 %1：%2").arg(program(), process.errorString());
        m_process.reset();
        return false;
    }

    for (;;) {
        const std::optional<JetStream::Message> message = nextMessage();
        if (!message)
            break;
        if (message->kind == JetStream::Kind::Catalogue) {
            if (!JetStream::readCatalogue(message->payload, &m_jetVersion, &m_tables)) {
                m_lastError = brokenReader(QStringLiteral("读取程序送来的表目录不对"));
                break;
            }
            return true;
        }
        if (message->kind == JetStream::Kind::Failure) {
            m_lastError = JetStream::readText(message->payload);
            break;
        }
        if (message->kind != JetStream::Kind::Progress) {
            m_lastError = brokenReader(QStringLiteral("读取程序送来的内容不对"));
            break;
        }
    }
    const QString error = m_lastError;
    close();
    m_lastError = error;
    return false;
}

bool JetReader::readRows(const JetFile::Table& table, const JetFile::RowHandler& row)
{
    const qsizetype index = &table - m_tables.constData();
    if (!m_process || index < 0 || index >= m_tables.size()) {
        m_lastError = QStringLiteral("Access 数据库没有打开");
        return false;
    }
    QProcess& process = m_process->process;
    process.write(QByteArray::number(index) + '\n');
    process.waitForBytesWritten(1000);

    QVariantList values;
    for (;;) {
        const std::optional<JetStream::Message> message = nextMessage();
        if (!message)
            break;
        switch (message->kind) {
        case JetStream::Kind::Row:
            if (!JetStream::readRow(message->payload, &values)
                || values.size() != m_tables[index].columns.size()) {
                m_lastError = brokenReader(QStringLiteral("读取程序送来的行不对"));
                break;
            }
            if (!row(values)) {
                // Whatever the reader still sends of this table is of no use.
                m_process->kill();
                m_process.reset();
                m_lastError.clear();
                return true;
            }
            continue;
        case JetStream::Kind::TableEnd:
            m_lastError.clear();
            return true;
        case JetStream::Kind::Failure:
            m_lastError = JetStream::readText(message->payload);
            return false;
        case JetStream::Kind::Progress:
            continue;
        default:
            m_lastError = brokenReader(QStringLiteral("读取程序送来的内容不对"));
            break;
        }
        break;
    }
    const QString error = m_lastError;
    close();
    m_lastError = error;
    return false;
}

std::optional<JetStream::Message> JetReader::nextMessage()
{
    Process& reader = *m_process;
    QProcess& process = reader.process;
    QElapsedTimer quiet;
    quiet.start();
    bool ended = false;
    for (;;) {
        while (const std::optional<JetStream::Message> message = reader.decoder.next()) {
            if (message->kind != JetStream::Kind::Crash)
                return message;
            quint32 signal = 0;
            quint32 page = 0;
            if (JetStream::readCrash(message->payload, &signal, &page))
                reader.crash = std::make_pair(signal, page);
        }
        if (reader.decoder.isBroken()) {
            reader.kill();
            m_lastError = brokenReader(QStringLiteral("读取程序送来的内容不对"));
            return std::nullopt;
        }
        if (m_keepGoing && !m_keepGoing()) {
            reader.kill();
            m_stopped = true;
            m_lastError = QStringLiteral("已取消");
            return std::nullopt;
        }
        if (ended) {
            m_lastError = reader.endReason();
            return std::nullopt;
        }
        if (process.state() == QProcess::NotRunning) {
            // What it wrote before it ended is read first: its last words may say why.
            reader.drain();
            ended = true;
            continue;
        }
        if (quiet.elapsed() > stallLimitMs) {
            reader.kill();
            // A worn stick can hang a read as long as damage can loop the reader.
            m_lastError =
                QStringLiteral("读取 Access 文件 %1 秒没有进展，已停止：文件已损坏，或者它所在的盘读不出来")
                    .arg(stallLimitMs / 1000);
            return std::nullopt;
        }
        process.waitForReadyRead(50);
        const QByteArray output = process.readAllStandardOutput();
        reader.errors.add(process.readAllStandardError());
        if (!output.isEmpty()) {
            reader.decoder.append(output);
            quiet.restart();
        }
    }
}
