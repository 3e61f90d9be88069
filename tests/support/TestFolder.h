// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QColor>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A fresh program folder with an empty student database, named by QINGHE_FOLDER while the
// object lives so that windows find it as their program folder.
class TestFolder {
public:
    struct Student {
        QString name;
        QString className;
        QString number;
        QByteArray photo;
    };

    explicit TestFolder(bool withDatabase = true);
    ~TestFolder();

    QString path() const { return m_dir.path(); }
    QString databaseFile() const;
    QString settingsFile() const;

    void addClasses(const QStringList& classes) const;
    // Appends students and answers their ids in order.
    QList<int> addStudents(const QList<Student>& students) const;
    // Runs statements straight on the database file, for set-ups the program cannot make.
    void execute(const QString& sql) const;
    // One text column of every student, in stored order, read through a connection of its
    // own as another window would.
    QStringList storedColumn(QStringView field) const;

private:
    QTemporaryDir m_dir;
    QByteArray m_previousFolder;
};

// A small JPEG of the given size and colour, as a camera or a photo file would give.
QByteArray jpegBytes(int width, int height, Qt::GlobalColor color = Qt::darkCyan);
// The same losslessly, for tests that read its colour back exactly.
QByteArray pngBytes(int width, int height, const QColor& color);

// A PNG whose header promises width × height pixels; its data holds only a few rows, as a
// decompression bomb's first bytes look.
QByteArray pngPromising(int width, int height);

// The bytes of a file; empty when it cannot be read.
QByteArray fileBytes(const QString& path);
// Writes a file a test sets up, and answers its path; ends the test when it cannot.
QString writeTestFile(const QString& path, const QByteArray& bytes);
// Bytes that compress badly and differ with every seed: stand-in photos, damage.
QByteArray noiseBytes(int size, quint32 seed);
