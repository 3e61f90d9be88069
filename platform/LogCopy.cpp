// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/LogCopy.h"

#include <QElapsedTimer>
#include <QHash>
#include <QThreadPool>

#include <algorithm>
#include <mutex>

#include <sqlite3.h>

namespace {

// How long a copy keeps trying after the last request for it: a web page reads for
// milliseconds; a reader that stays longer than this waits for the next write or close.
constexpr qint64 patienceMs = 1000;

std::mutex copiesMutex;
QHash<QByteArray, int> copies; // file → requests so far, while a copy of it runs

} // namespace

namespace LogCopy {

bool now(sqlite3* db)
{
    int logged = 0;
    int copied = 0;
    const int rc = sqlite3_wal_checkpoint_v2(db, "main", SQLITE_CHECKPOINT_PASSIVE, &logged, &copied);
    return rc == SQLITE_OK && copied >= logged;
}

void soon(const QByteArray& file)
{
    {
        const std::lock_guard lock(copiesMutex);
        const bool running = copies.contains(file);
        ++copies[file];
        if (running)
            return;
    }
    QThreadPool::globalInstance()->start([file] {
        sqlite3* db = nullptr;
        const bool opened =
            sqlite3_open_v2(file.constData(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK;
        QElapsedTimer sinceRequest;
        sinceRequest.start();
        int seen = -1;
        for (int delay = 2;; delay = std::min(delay * 2, 50)) {
            int requests = 0;
            {
                const std::lock_guard lock(copiesMutex);
                requests = copies.value(file);
            }
            if (requests != seen) {
                seen = requests;
                sinceRequest.restart();
            }
            // A new connection learns that the file keeps a log only when it first reads it.
            const bool whole =
                opened && sqlite3_exec(db, "PRAGMA schema_version", nullptr, nullptr, nullptr) == SQLITE_OK
                && now(db);
            bool done = false;
            {
                const std::lock_guard lock(copiesMutex);
                done =
                    (whole && copies.value(file) == seen) || !opened || sinceRequest.elapsed() > patienceMs;
                if (done)
                    copies.remove(file);
            }
            if (done)
                break;
            if (!whole)
                sqlite3_sleep(delay);
        }
        sqlite3_close(db);
    });
}

} // namespace LogCopy
