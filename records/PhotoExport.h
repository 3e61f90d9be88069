// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class DatabaseConnection;

// The export file of a student's photo: class + name + number + ".jpg". A character that a
// file system refuses in a name ("/" everywhere, and the ones Windows refuses, since these
// folders travel on USB sticks) becomes "_", so no name leads out of the chosen folder.
QString photoFileName(QStringView className, QStringView name, QStringView number);

struct PhotoExportResult {
    QString folderError; // the folder could not be made; nothing was written
    int written = 0;
    int withoutPhoto = 0; // skipped: an empty file is no picture
    QStringList failedFiles;
    QString firstFailure;

    bool succeeded() const { return folderError.isEmpty() && failedFiles.isEmpty(); }
};

// Writes the photos of the given records, in the given order, unchanged into `folder`
// (made if missing). A later record with the same file name replaces the earlier one's file.
// Reads through a recordset of its own, so the caller's loaded record is left alone.
PhotoExportResult exportPhotos(const DatabaseConnection& database, const QList<int>& ids,
                               const QString& folder);
