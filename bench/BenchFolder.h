// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A throw-away program folder holding many students with photos, as a large school has.
class BenchFolder {
public:
    // `photoBytes` of 0 leaves the photos empty; the students share `distinctPhotos` photos
    // in turn.
    BenchFolder(int students, int photoBytes, int classes = 50, int distinctPhotos = 8);

    QString path() const { return m_dir.path(); }
    QString databaseFile() const;
    static QString className(int index);

private:
    QTemporaryDir m_dir;
};

// A real JPEG of about the given size, so decoding costs what a camera photo costs.
QByteArray benchPhoto(int approximateBytes, int seed);
