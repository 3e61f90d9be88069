// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

#include <functional>

#include <sys/types.h>

// Runs `work` in a forked child and answers its exit code (work's result: 0 for true), or -1
// when the child died. For what a test must do in another process: hold a file size limit
// that stands in for a full disk, write settings beside the test, or be killed half-way.
int runInChild(const std::function<bool()>& work);

// The same with the child's file size limited to `bytes`: every file the child writes
// beyond that size fails as on a full disk.
int runWithFullDisk(qint64 bytes, const std::function<bool()>& work);

// Starts `work` in a child and answers its pid without waiting; the child exits with
// work's result.
pid_t startChild(const std::function<bool()>& work);
// Waits for a child started above: its exit code, or -1 when it died of a signal.
int waitForChild(pid_t pid);

// Runs `work` in a child that cannot write what its owner's permissions forbid: as root
// (which writes anywhere), the child becomes the unprivileged user nobody first. Files and
// folders the work needs must be open to that user.
int runWithoutPrivileges(const std::function<bool()>& work);

// The processes running `program`, found by their executable, and with `argument` on their
// command line when one is given: servers that detached from the program that started them,
// which a test must find to stop.
QList<pid_t> processesRunning(const QString& program, const QString& argument = {});
