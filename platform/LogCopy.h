// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

struct sqlite3;

// Keeps the archive file whole on its own: what a commit wrote into the write-ahead log is
// copied into the file right after it, so that a plain copy of 学生信息.mdb made after
// "保存成功" holds the student, whoever else has the file open. Copying never waits for
// other programs: a reader that began before the commit keeps those pages in the log until
// it ends, and the rest is copied then.
namespace LogCopy {

// Copies as much of the log as readers allow, at once, without waiting for anyone; true when
// the file now holds every commit (also when the file keeps no log).
bool now(sqlite3* db);

// Copies the log of `file` on a thread of its own, trying again for a few seconds while
// readers hold pages back; a later write or the close of the connection tries again after
// that. A request for a file whose copy is already under way extends that copy.
void soon(const QByteArray& file);

} // namespace LogCopy
