// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>

#include "archive/ResultRows.h"

#include <memory>
#include <optional>
#include <vector>

class DatabaseConnection;
class DatabaseSession;

// An updatable query result held in memory. `open` fetches the whole result, so no lock
// outlives it and a table can be dropped while a window still shows its rows. Byte columns
// (photos, remarks) are fetched only when read, so listing thousands of students does not
// load thousands of photos.
//
// Writes go to the current record (or the new one after addNew) and are committed by
// update, by moving to another record, by addNew and by open/close. A record whose write or
// commit failed is dropped whole, so no field of an edit the user saw fail lands later. A
// run of addNew calls closed by update is stored as one transaction: all of its records, or
// none when one of them failed. Nothing throws: a failed call answers false and leaves its
// reason in lastError().
class Recordset {
public:
    Recordset();
    ~Recordset();
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    void attach(const DatabaseConnection& connection);
    bool open(const QString& sql);
    void close();

    int recordCount() const;
    bool atEnd() const;
    int fieldCount() const;
    // A reference, not a copy: a page looks a field up by name for every value it reads.
    const QString& fieldName(int index) const;

    bool moveFirst();
    bool moveLast();
    bool moveNext();

    QString readText(QStringView field) const;
    int readInteger(QStringView field) const;
    QByteArray readBytes(QStringView field) const;
    // Whether the field is NULL or holds nothing, without fetching a photo to find out.
    bool fieldIsEmpty(QStringView field) const;
    // The stored value with its type, for the web server's ADO objects: whole numbers as
    // qint64, text as QString, byte columns as QByteArray (fetched now), NULL as an invalid
    // QVariant.
    QVariant readValue(QStringView field) const;
    // The same by position, as a page that has found its field once reads it on every row.
    QVariant readValue(int column) const;
    // Whether a field holds bytes (photos, remarks), known without reading a record.
    bool isByteField(QStringView field) const;

    bool writeText(QStringView field, const QString& text);
    bool writeBytes(QStringView field, const QByteArray& bytes);
    bool addNew();
    bool update();
    bool deleteCurrent();

    QString lastError() const { return m_lastError; }

private:
    struct Pending {
        bool isNew = false;
        std::vector<std::pair<int, QVariant>> values;
        QString failure; // a write of this record failed: it is dropped, not committed
    };
    // An open run of addNew calls, inside a savepoint of the connection.
    struct Run {
        QString savepoint;
        qsizetype rowsBefore = 0;
        QString failure;
    };

    bool fail(const QString& message) const;
    bool failSession(const std::shared_ptr<DatabaseSession>& session) const;
    std::shared_ptr<DatabaseSession> session() const;
    int column(QStringView field) const;
    bool hasCurrentRecord() const;
    QVariant cell(int column) const;
    QByteArray bytesAt(int column) const;
    const QVariant* pendingValue(int column) const;
    bool write(QStringView field, const QVariant& value);
    bool commitPending();
    // Commits the pending record and ends an open run: what update and every move do.
    bool settle();
    bool beginRun(const std::shared_ptr<DatabaseSession>& session);
    void dropRowsFrom(qsizetype row);
    QString notOpenReason() const;
    bool openQuery(const QString& sql);
    void reset();

    std::weak_ptr<DatabaseSession> m_session;
    mutable QString m_lastError;

    mutable ResultRows m_rows; // the open result; deferred cells are filled in when read
    qsizetype m_current = 0;
    bool m_onDeletedRecord = false; // the current record was just deleted
    std::optional<Pending> m_pending;
    std::optional<Run> m_run;
    QString m_openFailure;
};
