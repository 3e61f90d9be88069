// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/journeys/ProgramOnDesktop.h"

#include "ui_MainWindow.h"
#include "ui_RecordEditorWindow.h"

#include "formats/Gbk.h"
#include "tests/support/WebForm.h"

#include <httplib.h>

#include <algorithm>

#include <QElapsedTimer>
#include <QList>
#include <QThread>

ProgramOnDesktop::ProgramOnDesktop(const Desktop& desktop, const QString& executable,
                                   const QProcessEnvironment& environment,
                                   const std::function<void()>& asUser)
    : m_desktop(desktop)
{
    // Twins of the windows, built from the same forms, say where each control is drawn.
    Ui::MainWindow mainForm;
    mainForm.setupUi(&m_mainTwin);
    Ui::RecordEditorWindow editorForm;
    editorForm.setupUi(&m_editorTwin);

    m_process.setProcessEnvironment(desktop.environment(environment));
    if (asUser)
        m_process.setChildProcessModifier(asUser);
    m_process.start(executable, {});
}

ProgramOnDesktop::~ProgramOnDesktop() { stopProcess(m_process); }

bool ProgramOnDesktop::waitForMainWindow()
{
    if (!m_process.waitForStarted(5000))
        return false;
    m_mainWindow = m_desktop.waitForWindow(QStringLiteral("^青禾名录"));
    return !m_mainWindow.isEmpty();
}

QString ProgramOnDesktop::errorOutput() { return QString::fromLocal8Bit(m_process.readAllStandardError()); }

void ProgramOnDesktop::clickInMainWindow(const char* control)
{
    m_desktop.click(m_mainWindow, centreOf(m_mainTwin, control));
}

QImage ProgramOnDesktop::mainWindowControl(const char* control)
{
    return m_desktop.windowShot(m_mainWindow).copy(rectOf(m_mainTwin, control));
}

bool ProgramOnDesktop::openRecordEditor()
{
    clickInMainWindow("按钮7");
    m_recordEditor = m_desktop.waitForWindow(QStringLiteral("^数据修改$"));
    return !m_recordEditor.isEmpty();
}

void ProgramOnDesktop::clickInRecordEditor(const char* control)
{
    m_desktop.click(m_recordEditor, centreOf(m_editorTwin, control));
}

void ProgramOnDesktop::typeInRecordEditor(const char* control, const QString& text)
{
    // Into the text, left of a combo box's arrow, which would open its list instead.
    const QRect box = rectOf(m_editorTwin, control);
    m_desktop.click(m_recordEditor, QPoint(box.left() + std::min(8, box.width() / 4), box.center().y()));
    m_desktop.key(QStringLiteral("ctrl+a"));
    m_desktop.type(text);
}

void ProgramOnDesktop::chooseInRecordEditor(const char* control, int index)
{
    const QRect box = rectOf(m_editorTwin, control);
    m_desktop.click(m_recordEditor, QPoint(box.right() - 6, box.center().y()));
    m_desktop.key(QStringLiteral("Home"));
    for (int i = 0; i < index; ++i)
        m_desktop.key(QStringLiteral("Down"));
    m_desktop.key(QStringLiteral("Return"));
}

void ProgramOnDesktop::findInRecordEditor(const QString& numberOrName)
{
    typeInRecordEditor("编辑框3", numberOrName);
    clickInRecordEditor("按钮7");
}

QString ProgramOnDesktop::textInRecordEditor(const char* control)
{
    clickInRecordEditor(control);
    return m_desktop.copyFocusedText();
}

QString ProgramOnDesktop::activeWindow() const
{
    QProcess tool;
    tool.setProcessEnvironment(m_desktop.environment());
    tool.start(QStringLiteral("xdotool"), {"getactivewindow"});
    tool.waitForFinished(5000);
    return QString::fromLatin1(tool.readAllStandardOutput()).trimmed();
}

bool ProgramOnDesktop::acknowledgeMessage()
{
    QElapsedTimer waited;
    waited.start();
    QString active = activeWindow();
    while ((active == m_recordEditor || active == m_mainWindow || active.isEmpty())
           && waited.elapsed() < 10000) {
        QThread::msleep(50);
        active = activeWindow();
    }
    if (active == m_recordEditor || active == m_mainWindow || active.isEmpty())
        return false;
    m_desktop.key(QStringLiteral("Return"));
    return m_desktop.waitUntilClosed(active);
}

namespace site {

namespace {

httplib::Client clientOf(int port)
{
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(1);
    client.set_read_timeout(10);
    return client;
}

} // namespace

QString waitForPage(int port, const std::string& path, int timeoutMs)
{
    auto client = clientOf(port);
    QElapsedTimer waited;
    waited.start();
    auto answer = client.Get(path);
    while (!answer && waited.elapsed() < timeoutMs) {
        QThread::msleep(50);
        answer = client.Get(path);
    }
    return answer && answer->status == 200 ? gbk::decode(QByteArray::fromStdString(answer->body)) : QString();
}

QString page(int port, const std::string& path) { return waitForPage(port, path, 0); }

std::string login(int port, const QString& account, const QString& password)
{
    auto client = clientOf(port);
    const auto answer =
        client.Post("/login.asp", webForm({{"zh", account}, {"mm", password}, {"B1", "登陆"}}),
                    "application/x-www-form-urlencoded");
    if (!answer || answer->status != 302)
        return {};
    const std::string cookie = answer->get_header_value("Set-Cookie");
    return cookie.substr(0, cookie.find(';'));
}

int postEdit(int port, const std::string& session, int id, const QList<std::pair<QString, QString>>& fields)
{
    auto client = clientOf(port);
    const auto answer = client.Post("/up.asp?id=" + std::to_string(id), {{"Cookie", session}},
                                    webForm(fields), "application/x-www-form-urlencoded");
    return answer ? answer->status : 0;
}

} // namespace site

QStringList inPageOrder(const QString& page, const QStringList& names)
{
    QList<std::pair<qsizetype, QString>> found;
    for (const QString& name : names)
        if (const qsizetype at = page.indexOf(name); at >= 0)
            found.append({at, name});
    std::sort(found.begin(), found.end());
    QStringList ordered;
    for (const auto& [at, name] : found)
        ordered << name;
    return ordered;
}
