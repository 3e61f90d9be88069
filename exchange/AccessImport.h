// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

#include <functional>

#include "archive/jet/JetFile.h"

// Brings an archive kept in an Access (Jet) file on Windows into this program's database.
// The Jet file is only read, by the Access reader's own process (JetReader). A new database
// is built whole and then put in place, so a failure at any point, a damaged file or a
// cancelled conversion leaves every file as it was.
namespace AccessImport {

// Rows copied so far and rows in all; answering false stops the work, which then counts as
// failed and leaves everything as it was. Also asked, with the same figures, every few
// hundredths of a second while the reader works, so a stop takes effect at once.
using Progress = std::function<bool(qint64 done, qint64 total)>;

struct Counts {
    qint64 students = 0;
    qint64 photos = 0;
    qint64 classes = 0;
    qint64 accounts = 0; // classes with a web login
};

// What a conversion did, for the message that tells the office.
struct Report {
    Counts counts;
    qint64 tables = 0; // tables copied
    qint64 rows = 0;   // rows copied, in all tables
    bool appended = false;
    bool cancelled = false;    // stopped through Progress
    QString readerNotes;       // the Access reader's standard error, summarised
    QString keptOriginal;      // where the Jet archive that was replaced now lies
    QStringList skippedTables; // tables the archive already has, left as they were
};

inline const QString notStudentArchive = QStringLiteral("这不是学生档案数据库");

// The declared SQLite type a Jet column becomes.
QString columnType(const JetFile::Column& column);

// A value read from Access as it goes into a column of the program's own tables: a remark
// kept as a memo becomes the GBK bytes the program keeps in 简介, a number typed into a
// number column becomes its text, a photo's bytes stay as they are. Columns the program
// does not know take the value as it is.
QVariant programValue(const QString& table, const QString& column, const QVariant& value);

// Every table of any Jet file into a new SQLite file `out`, as it is: for inspection.
bool copyTo(const QString& jetFile, const QString& out, Report* report = nullptr, QString* error = nullptr,
            const Progress& progress = {});

// A Jet student archive into the archive file `archive` (DB/学生信息.mdb). An archive that
// already holds students is refused unless `append`: then the students are added with new
// ids and the archive's own classes and password stay. When `archive` is itself a Jet file
// (the old archive where it always lay), it is kept byte for byte in DB/备份/ once it has
// been read whole, before it is replaced.
bool importArchive(const QString& jetFile, const QString& archive, bool append, Report* report = nullptr,
                   QString* error = nullptr, const Progress& progress = {});

// DB/备份/学生信息-access-<date>.mdb beside the archive, with -2, -3 … when that exists.
QString originalBackupFile(const QString& archive, const QDate& date);

} // namespace AccessImport
