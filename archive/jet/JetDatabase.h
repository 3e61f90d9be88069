// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "archive/jet/JetFile.h"

#include <functional>
#include <memory>

// An Access (Jet 3 or Jet 4) file read through libmdb and never written. libmdb trusts the
// file: a damaged one can make it loop, eat memory or crash, so this runs only in the Access
// reader's own process (JetReader), and the file's structure is checked independently of
// libmdb's scans before anything is read as data. A file that lacks pages, a page that is not
// what the structure says, a catalogue that cannot be read whole and a table whose rows do not
// add up to what its own pages and definition say are refusals, never warnings.
class JetDatabase {
public:
    JetDatabase();
    ~JetDatabase();
    JetDatabase(const JetDatabase&) = delete;
    JetDatabase& operator=(const JetDatabase&) = delete;

    // Called now and then during long checks, so whoever waits knows the work goes on.
    void setProgress(std::function<void()> progress) { m_progress = std::move(progress); }

    // Opens read-only, reads the catalogue and every user table's definition, and checks the
    // pages they stand on. A database password (a masked field of the header) and Jet 4's
    // page encoding need nothing from the caller. False, with the reason, for anything that
    // cannot be read whole.
    bool open(const QString& path);
    void close();

    int jetVersion() const; // 3 or 4; 0 when not open
    const QList<JetFile::Table>& tables() const { return m_tables; }
    const JetFile::Table* table(const QString& name) const;
    QString lastError() const { return m_lastError; }

    // Hands every stored row of the table to `row`, in stored order; `row` answers false to
    // stop. False, with the reason, when the table cannot be read whole: a caller must then
    // keep nothing of what it was given.
    bool readRows(const JetFile::Table& table, const JetFile::RowHandler& row);

    // The page being read at this moment; safe to ask from a signal handler.
    quint32 pageInReading() const;

private:
    struct Handle;
    std::unique_ptr<Handle> m_handle;
    QList<JetFile::Table> m_tables;
    QString m_lastError;
    std::function<void()> m_progress;
};
