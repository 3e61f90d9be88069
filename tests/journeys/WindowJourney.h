// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/MainWindow.h"
#include "tests/support/Controls.h"
#include "tests/support/TestFolder.h"
#include "tests/support/TestServices.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>

class QTreeWidget;
class RecordEditorWindow;

// A school office for a journey through the real windows: a program folder of its own with
// its classes, the main window as the program opens it, every other window opened through
// its buttons and menus, and a camera that shows a student's face.
class Office {
public:
    explicit Office(const QStringList& classes);
    ~Office();
    Office(const Office&) = delete;
    Office& operator=(const Office&) = delete;

    TestFolder folder;
    TestServices services;
    std::unique_ptr<MainWindow> main;

    template <typename T = QWidget> T* get(const char* name) const { return control<T>(*main, name); }
    // 拍照, then the wait until the frame sits on the face, as the operator watches it.
    void photograph();
    // The name typed key by key and the class picked from its list.
    void enter(const QString& name, const QString& className);
    // 保存: what the window said.
    QString save();
    // The window a button or menu item of `from` opened.
    template <typename T> T* open(const QWidget& from, const char* control)
    {
        clickOrTrigger(from, control);
        return qobject_cast<T*>(services.navigator.openings.last().window.data());
    }
    // Closes a window as its close box does; it is gone when this returns.
    static void close(QWidget* window);

private:
    static void clickOrTrigger(const QWidget& window, const char* control);
};

// Text typed into a box key by key.
void typeText(QWidget* box, const QString& text);
// One column of the record editor's list, top to bottom.
QStringList listColumn(const QTreeWidget* list, int column);

// The rows another program sees in a database file: the sqlite3 shell, one line per row.
QStringList shellRows(const QString& file, const QString& sql);
// A plain copy of `file` in `folder`, made by cp as a person or a backup script makes it.
QString plainCopy(const QString& file, const QString& folder);

// The sqlite3 shell with the archive open, as a school's own tool keeps it between reads.
class OpenShell {
public:
    explicit OpenShell(const QString& file);
    ~OpenShell();
    // Runs one query in the open shell; its rows.
    QStringList query(const QString& sql);
    pid_t pid() const { return pid_t(m_shell.processId()); }

private:
    QProcess m_shell;
};

// The real web server on a free port, serving the folder's DB.
class WebServer {
public:
    explicit WebServer(const QString& dbFolder);
    ~WebServer();
    int port() const { return m_port; }
    pid_t pid() const { return pid_t(m_process.processId()); }
    // The page at `path`, GBK decoded; empty when it did not come.
    QString page(const std::string& path) const;

private:
    QProcess m_process;
    int m_port = 0;
};
