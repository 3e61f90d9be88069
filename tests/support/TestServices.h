// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "desktop/Shell.h"
#include "tests/support/ArchiveLocks.h"
#include "widgets/AppContext.h"
#include "widgets/Dialogs.h"
#include "widgets/Navigator.h"

#include <QList>
#include <QPointer>
#include <QQueue>
#include <QStringList>

#include <optional>

// What a window showed through Dialogs, in order.
struct ShownDialog {
    QString kind; // "message", "confirm", "input", "password", "openFile", "openPicture", "chooseFolder", …
    QString text;
    QString title;
    QString initial; // the text an input box starts with
    MessageIcon icon = MessageIcon::None;
};

// Answers dialogs from queues filled by the test and records every dialog shown. An empty
// queue answers "cancelled".
class ScriptedDialogs final : public Dialogs {
public:
    QList<ShownDialog> shown;
    QQueue<bool> confirmAnswers;
    QQueue<std::optional<QString>> textAnswers; // input and password
    QQueue<QString> pathAnswers;                // openFile, openPicture, chooseFolder
    QQueue<std::optional<FontChoice>> fontAnswers;
    QList<FontChoice> fontsOffered; // what each font dialog was opened on
    QQueue<bool> printerAnswers;
    // When set, an accepted print dialog and the print preview print to this PDF file, as the
    // dialog's "print to file" does.
    QString printToFile;
    int previewCount = 0;

    QStringList messages() const;
    ShownDialog last() const { return shown.isEmpty() ? ShownDialog{} : shown.last(); }

    void message(QWidget* parent, const QString& text, const QString& title, MessageIcon icon) override;
    bool confirm(QWidget* parent, const QString& text, const QString& title) override;
    std::optional<QString> input(QWidget* parent, const QString& prompt, const QString& title,
                                 const QString& initial) override;
    std::optional<QString> password(QWidget* parent, const QString& prompt, const QString& title) override;
    QString openFile(QWidget* parent, const QString& title, const QString& filter,
                     const QString& startPath) override;
    QString openPicture(QWidget* parent, const QString& title) override;
    QString chooseFolder(QWidget* parent, const QString& prompt, const QString& startFolder) override;
    std::optional<FontChoice> chooseFont(QWidget* parent, const FontChoice& initial) override;
    bool setUpPrinter(QWidget* parent, QPrinter& printer) override;
    void showPrintPreview(QWidget* parent, QPrinter& printer, const PageSource& pages) override;
};

// Opens windows without blocking and remembers how each was opened.
class RecordingNavigator final : public Navigator {
public:
    struct Opening {
        QPointer<QWidget> window;
        QString className;
        bool modal;
        QWidget* owner;
    };
    QList<Opening> openings;

protected:
    void present(QWidget* window, bool modal) override;
};

// Stands in for the browser, the file browser and other programs.
class QThread;

class RecordingShell final : public Shell {
public:
    QStringList openedUrls;
    QStringList openedFolders;
    QStringList startedPrograms;
    QList<QStringList> startedArguments;
    QString address = QStringLiteral("192.168.1.10");
    // The desktop's registered programs: a spreadsheet program for workbooks unless a test
    // takes it away.
    QStringList programTypes{
        QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.template"),
        QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.sheet")};
    QStringList openedFiles;
    bool browserFound = true;
    ProgramResult programResult{true, 0, {}, {}}; // what every run program answers
    QThread* lastRunThread = nullptr;             // where the last program was waited for

    bool openUrl(const QString& url) override;
    bool openFolder(const QString& path) override;
    bool startDetached(const QString& program, const QStringList& arguments,
                       const QString& workingFolder) override;
    ProgramResult run(const QString& program, const QStringList& arguments, const QString& workingFolder,
                      int timeoutMs) override;
    QString localAddress() override { return address; }
    bool hasProgramFor(const QString& mimeType) override { return programTypes.contains(mimeType); }
    bool openWithProgramFor(const QString& path, const QString& mimeType) override;
};

// The services and the shared state a window is made with, all of them doubles.
struct TestServices {
    ArchiveLockGuard lockGuard; // every window shown must leave the archive's locks held
    ScriptedDialogs dialogs;
    RecordingNavigator navigator;
    RecordingShell shell;
    AppContext context{dialogs, navigator, shell};
};
