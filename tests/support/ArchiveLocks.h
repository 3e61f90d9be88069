// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

#include <sys/types.h>

// Linux drops every POSIX lock a process holds on a file when the process closes any
// descriptor of it. A program that opened the archive behind SQLite's back then goes on
// believing it shares the file while the next program to close it deletes the live
// write-ahead log. These checks catch that from outside SQLite.

// What is wrong with a process's hold on the archives (学生信息.mdb) it has open: empty when
// it still holds SQLite's lock on every one and has no deleted -wal or -shm open.
QString archiveLockFault(pid_t pid);
QString archiveLockFault();

// While it lives, every top-level window shown is followed by that check on this process; a
// fault fails the running test.
class ArchiveLockGuard final : public QObject {
public:
    ArchiveLockGuard();
    ~ArchiveLockGuard() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// Fails the running test when `pid` shows a fault, twice in a row; for checks after each web
// request.
void expectArchiveLocksHeld(pid_t pid, const char* where);
