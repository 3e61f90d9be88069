// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "records/PhotoStandard.h"

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class DatabaseConnection;

// The photos of a class (or of every student) written to an authority's standard, each named
// by the student's number (class and name without one), and what could not be written.
namespace StandardExport {

struct Student {
    int id = 0;
    QString className;
    QString name;
    QString number;
    QString file;        // the written file's name; empty when left out
    QStringList reasons; // why it is left out, or what --force wrote past
    QImage thumbnail;    // the written photo, or the stored one when left out
};

struct Report {
    QString error; // nothing was done: the archive or the folder failed
    QList<Student> written;
    QList<Student> leftOut;
    bool complete() const { return error.isEmpty() && leftOut.isEmpty(); }
};

// `number` or `班级姓名`, made safe for a file name, then "-2", "-3" … where this export
// already gave the name to a student before. A student left out keeps the name, so fixing
// one photo and exporting again names every file as before.
QString fileName(const QString& className, const QString& name, const QString& number, QStringList& taken);

struct Request {
    std::optional<QString> className; // every student when absent
    QString folder;
    PhotoStandard standard;
    bool force = false;
    bool thumbnails = false; // for a window's list
};

// Reads through a recordset of its own and frames the photos on every core. `progress`
// hears (done, total) as students are done.
Report run(const DatabaseConnection& database, const Request& request,
           const std::function<void(int, int)>& progress = {});

} // namespace StandardExport
