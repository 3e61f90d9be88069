// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tests/journeys/Desktop.h"

#include <QImage>
#include <QMainWindow>
#include <QProcess>
#include <QWidget>

#include <functional>
#include <string>

#include <sys/types.h>

// The real program on a desktop, used through its windows as a person does: its controls are
// found where the window's form puts them and clicked, typed into and read back there.
class ProgramOnDesktop {
public:
    // `asUser` runs in the child before the program starts (to become another user).
    ProgramOnDesktop(const Desktop& desktop, const QString& executable,
                     const QProcessEnvironment& environment, const std::function<void()>& asUser = {});
    ~ProgramOnDesktop();

    // Whether the main window came up; the program's own error output tells why not.
    bool waitForMainWindow();
    QString errorOutput();
    pid_t pid() const { return pid_t(m_process.processId()); }

    void clickInMainWindow(const char* control);
    // A control of the main window as it is drawn now.
    QImage mainWindowControl(const char* control);

    // 数据管理 clicked: whether the record editor came up.
    bool openRecordEditor();
    void clickInRecordEditor(const char* control);
    void typeInRecordEditor(const char* control, const QString& text);
    // Opens a combo box's list with its arrow and picks the item at `index`.
    void chooseInRecordEditor(const char* control, int index);
    QString textInRecordEditor(const char* control);
    // 编号或姓名查找 for a number or name: the record editor lists and shows that student.
    void findInRecordEditor(const QString& numberOrName);
    // Answers with Return the message box the last action raised.
    bool acknowledgeMessage();

private:
    QString activeWindow() const;

    const Desktop& m_desktop;
    QProcess m_process;
    QString m_mainWindow;
    QString m_recordEditor;
    QMainWindow m_mainTwin;
    QWidget m_editorTwin;
};

// The web site as a browser on the school's network reaches it.
namespace site {

// The page's GBK text, waiting up to `timeoutMs` for the server to answer at all; empty
// when it never did or did not answer 200.
QString waitForPage(int port, const std::string& path, int timeoutMs);
QString page(int port, const std::string& path);
// The session cookie of a class administrator's login; empty when refused.
std::string login(int port, const QString& account, const QString& password);
// The edit form of h2.asp for one student, posted to up.asp: the status answered.
int postEdit(int port, const std::string& session, int id, const QList<std::pair<QString, QString>>& fields);

} // namespace site

// The students' names in the order a page shows them.
QStringList inPageOrder(const QString& page, const QStringList& names);
