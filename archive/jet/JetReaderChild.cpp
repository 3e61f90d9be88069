// SPDX-License-Identifier: GPL-3.0-or-later
// qinghe-jet-reader FILE: the Access reader's own process. libmdb reads the file here, under
// the limits the program set before starting it, so a damaged file that makes libmdb loop,
// eat memory or crash ends this process and never the program. It answers in JetStream
// messages on standard output: the catalogue once the file is open and checked, then the rows
// of each table whose number arrives on a line of standard input, until that closes.
#include "archive/jet/JetDatabase.h"
#include "archive/jet/JetStream.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <unistd.h>

namespace {

const JetDatabase* g_reading = nullptr;
volatile sig_atomic_t g_writing = 0;

bool writeAll(const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(STDOUT_FILENO, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= size_t(written);
    }
    return true;
}

bool send(JetStream::Kind kind, const QByteArray& payload = {})
{
    const QByteArray frame = JetStream::frame(kind, payload);
    g_writing = 1;
    const bool sent = writeAll(frame.constData(), size_t(frame.size()));
    g_writing = 0;
    // The program has gone away: nothing is left to read for.
    if (!sent)
        std::_Exit(1);
    return true;
}

// Tells the program which page libmdb was reading when the file's damage brought it down,
// then dies of the same signal.
void onCrash(int signal)
{
    if (!g_writing) {
        const auto frame = JetStream::crashFrame(quint32(signal), g_reading ? g_reading->pageInReading() : 0);
        writeAll(frame.data(), frame.size());
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fputs("用法：qinghe-jet-reader Access文件\n", stderr);
        return 2;
    }
    for (const int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
        std::signal(signal, onCrash);

    JetDatabase jet;
    g_reading = &jet;
    jet.setProgress([] { send(JetStream::Kind::Progress); });
    if (!jet.open(QFile::decodeName(argv[1]))) {
        send(JetStream::Kind::Failure, JetStream::text(jet.lastError()));
        return 0;
    }
    send(JetStream::Kind::Catalogue, JetStream::catalogue(jet.jetVersion(), jet.tables()));

    char line[32];
    while (std::fgets(line, sizeof line, stdin)) {
        char* end = nullptr;
        const long index = std::strtol(line, &end, 10);
        if (end == line || index < 0 || index >= jet.tables().size()) {
            send(JetStream::Kind::Failure, JetStream::text(QStringLiteral("读取程序收到的表号不对")));
            continue;
        }
        const JetFile::Table& table = jet.tables()[qsizetype(index)];
        qint64 rows = 0;
        const bool read = jet.readRows(table, [&rows](const QVariantList& values) {
            ++rows;
            return send(JetStream::Kind::Row, JetStream::row(values));
        });
        if (read)
            send(JetStream::Kind::TableEnd, JetStream::text(QString::number(rows)));
        else
            send(JetStream::Kind::Failure, JetStream::text(jet.lastError()));
    }
    return 0;
}
