// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "formats/Error.h"
#include "widgets/AdvancedGrid.h"

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class Dialogs;
class Navigator;
class Shell;
class QWidget;

// The record editor's list survives closing and reopening the editor.
struct RecordEditorState {
    enum class ListMode { ByClass, All };
    ListMode listMode = ListMode::ByClass;
    int currentRow = 0;
};

// What the program shares between its windows, handed to each window when it is made: the
// program folder, the class list, the few values that outlive a window, and the services
// through which windows reach the desktop.
class AppContext : public QObject {
    Q_OBJECT
public:
    AppContext(Dialogs& dialogs, Navigator& navigator, Shell& shell);

    Dialogs& dialogs;
    Navigator& navigator;
    Shell& shell;

    QString appFolder;
    QStringList classList;
    RecordEditorState recordEditor;
    QString administratorPassword;
    // The card last copied on the card sheet, with what it is drawn from, so a pasted card
    // prints as sharply as a composed one; an empty picture until then.
    GridCell copiedCard = GridCell::fromPicture({});
    // The main window's current crop, for windows that take a photo from it.
    std::function<QByteArray()> entryPhoto;

    QString databaseFile() const;
    QString settingsFile() const;

    // Says, once per run of the program, that the database file cannot be used and what to do;
    // a window that meets the problem later says nothing more. Damage found is kept, so
    // windows opened afterwards refuse to write into the file too.
    void reportDatabaseProblem(QWidget* parent, ErrorKind kind, const QString& reason);
    QString databaseDamage;

    // Replaces the class list and lets every window that shows it refill its selectors.
    void setClassList(const QStringList& classes);

signals:
    void classListChanged();

private:
    bool m_databaseProblemReported = false;
};
