// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "archive/jet/JetFile.h"
#include "archive/jet/JetStream.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

// An Access (Jet) file read by the Access reader, a small program of its own
// (qinghe-jet-reader, beside the program) that streams the file's rows here. libmdb, which a
// damaged file can make loop, eat memory or crash, runs only there, held to a memory limit, a
// processor-time limit and a watchdog on its progress; whatever happens to it, the caller gets
// a refusal with the reason. Its standard error is read as it comes and kept only as a short
// summary.
class JetReader {
public:
    // Asked every few hundredths of a second while the reader works; answering false ends it
    // at once.
    using KeepGoing = std::function<bool()>;

    // The limits the reader runs under.
    static constexpr qint64 memoryLimitBytes = qint64(512) << 20;
    static constexpr int stallLimitMs = 5000; // without a message from the reader
    static int processorSecondsFor(qint64 fileSize);

    explicit JetReader(KeepGoing keepGoing = {});
    ~JetReader();
    JetReader(const JetReader&) = delete;
    JetReader& operator=(const JetReader&) = delete;

    // Starts the reader on the file and takes its catalogue: every user table's definition,
    // with the file's structure checked. False, with the reason, for anything that cannot be
    // read whole.
    bool open(const QString& path);
    // Ends the reader.
    void close();

    int jetVersion() const { return m_jetVersion; } // 3 or 4; 0 when not open
    const QList<JetFile::Table>& tables() const { return m_tables; }
    const JetFile::Table* table(const QString& name) const;
    QString lastError() const { return m_lastError; }
    // Whether the last failure was KeepGoing answering false.
    bool wasStopped() const { return m_stopped; }

    // Hands every stored row of the table to `row`, in stored order, as the reader sends them;
    // `row` answers false to stop, which ends the reader. False, with the reason, when the
    // table cannot be read whole: a caller must then keep nothing of what it was given.
    bool readRows(const JetFile::Table& table, const JetFile::RowHandler& row);

    // What the reader wrote on its standard error: each distinct line once, with how often.
    QString diagnostics() const;

    // The reader's program: QINGHE_JET_READER when set, else beside this program or among the
    // installed helper programs.
    static QString program();

private:
    struct Process;
    // The next message of the reader other than a crash report; nothing, with the reason in
    // m_lastError, when it ended, stalled, said nonsense or was stopped.
    std::optional<JetStream::Message> nextMessage();

    std::unique_ptr<Process> m_process;
    QString m_diagnostics; // of a reader that has ended
    QList<JetFile::Table> m_tables;
    int m_jetVersion = 0;
    QString m_lastError;
    bool m_stopped = false;
    KeepGoing m_keepGoing;
};
