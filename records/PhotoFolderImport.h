// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class DatabaseConnection;

// A photographer's folder of pictures, each named by a student's number or name, brought
// into a class at once. Planned first, so a person sees every match before anything is
// written; then stored.
namespace PhotoFolderImport {

struct Match {
    QString file; // the file's name within the folder
    int id = 0;
    QString name;
    QString number;
    bool hadPhoto = false;
    QImage photo; // framed at the archive's photo size
};

struct Refusal {
    QString file;
    QString reason;
};

struct Plan {
    QString error; // the folder or the archive could not be read
    QList<Match> toStore;
    QList<Match> kept; // the student has a photo and it is not to be replaced
    QStringList unmatched;
    QList<Refusal> refused;   // ambiguous names, a second file for a student, no face, unreadable
    QStringList stillWithout; // students of the class left without a photo by this import
};

// Files (not folders) whose names end in a picture's suffix, in name order.
QStringList pictureFiles(const QString& folder);

// Frames the pictures on every core; `progress` hears (done, total) as they are framed.
Plan plan(const DatabaseConnection& database, const QString& folder, const QString& className, bool replace,
          const std::function<void(int, int)>& progress = {});

// Writes every planned photo in one transaction: all of them are stored, or none. Answers
// how many were, or -1 with the reason in `error`.
int store(DatabaseConnection& database, const Plan& plan, QString* error);

} // namespace PhotoFolderImport
