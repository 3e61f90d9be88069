// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/journeys/Desktop.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLayout>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QWidget>

#include <fcntl.h>
#include <unistd.h>

Desktop::Desktop()
{
    // The X server writes the display number it found free to the descriptor it is given.
    int ends[2];
    if (::pipe(ends) != 0)
        return;
    m_xserver.setProgram(QStandardPaths::findExecutable(QStringLiteral("Xvfb")));
    m_xserver.setArguments(
        {"-displayfd", QString::number(ends[1]), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"});
    m_xserver.setChildProcessModifier([fd = ends[1]] { ::fcntl(fd, F_SETFD, 0); });
    m_xserver.start();
    ::close(ends[1]);
    QByteArray number;
    char c = 0;
    while (::read(ends[0], &c, 1) == 1 && c != '\n')
        number += c;
    ::close(ends[0]);
    if (number.isEmpty())
        return;
    const QString display = u':' + QString::fromLatin1(number);

    // The window manager says it is ready by running its start-up command.
    QTemporaryDir marks;
    const QString ready = marks.filePath(QStringLiteral("ready"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    m_windowManager.setProcessEnvironment(env);
    m_windowManager.start(QStringLiteral("openbox"),
                          {"--sm-disable", "--startup", QStringLiteral("touch ") + ready});
    QElapsedTimer waited;
    waited.start();
    while (!QFile::exists(ready) && waited.elapsed() < 15000
           && m_windowManager.state() != QProcess::NotRunning)
        QThread::msleep(20);
    if (QFile::exists(ready))
        m_display = display;
}

Desktop::~Desktop()
{
    stopProcess(m_windowManager);
    stopProcess(m_xserver);
}

QProcessEnvironment Desktop::environment(QProcessEnvironment base) const
{
    base.insert(QStringLiteral("DISPLAY"), m_display);
    base.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    return base;
}

QByteArray Desktop::runTool(const QString& program, const QStringList& arguments, int timeoutMs) const
{
    QProcess tool;
    tool.setProcessEnvironment(environment());
    tool.start(program, arguments);
    if (!tool.waitForFinished(timeoutMs)) {
        tool.kill();
        tool.waitForFinished();
        return {};
    }
    return tool.readAllStandardOutput();
}

QString Desktop::xdotool(const QStringList& arguments, int timeoutMs) const
{
    return QString::fromUtf8(runTool(QStringLiteral("xdotool"), arguments, timeoutMs)).trimmed();
}

QString Desktop::waitForWindow(const QString& title, int timeoutMs) const
{
    return xdotool({"search", "--sync", "--onlyvisible", "--name", title}, timeoutMs).section(u'\n', 0, 0);
}

bool Desktop::waitUntilClosed(const QString& window, int timeoutMs) const
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < timeoutMs) {
        if (!xdotool({"search", "--onlyvisible", "--name", "."}).split(u'\n').contains(window))
            return true;
        QThread::msleep(50);
    }
    return false;
}

void Desktop::click(const QString& window, QPoint at) const
{
    xdotool({"mousemove", "--sync", "--window", window, QString::number(at.x()), QString::number(at.y()),
             "click", "1"});
}

void Desktop::doubleClick(const QString& window, QPoint at) const
{
    xdotool({"mousemove", "--sync", "--window", window, QString::number(at.x()), QString::number(at.y()),
             "click", "--repeat", "2", "1"});
}

void Desktop::key(const QString& keys) const { xdotool({"key", "--delay", "50", keys}); }

void Desktop::type(const QString& text) const { xdotool({"type", "--delay", "50", text}); }

QString Desktop::copyFocusedText() const
{
    key(QStringLiteral("ctrl+a"));
    key(QStringLiteral("ctrl+c"));
    QString text;
    for (int tries = 0; tries < 20 && text.isEmpty(); ++tries) {
        QThread::msleep(50);
        text = QString::fromUtf8(runTool(QStringLiteral("xclip"), {"-o", "-selection", "clipboard"}, 5000));
    }
    return text;
}

QImage Desktop::screenshot(const QString& name) const
{
    const QImage shot =
        QImage::fromData(runTool(QStringLiteral("import"), {"-window", "root", "png:-"}, 20000), "PNG");
    if (!name.isEmpty())
        keepForAPerson(shot, name);
    return shot;
}

QImage Desktop::windowShot(const QString& window) const
{
    return QImage::fromData(runTool(QStringLiteral("import"), {"-window", window, "png:-"}, 20000), "PNG");
}

void stopProcess(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished();
    }
}

QRect rectOf(QWidget& twin, const char* control)
{
    if (QLayout* layout = twin.layout())
        layout->activate();
    const auto* widget = twin.findChild<QWidget*>(QString::fromUtf8(control));
    if (!widget)
        qFatal("the window has no control %s", control);
    return QRect(widget->mapTo(&twin, QPoint(0, 0)), widget->size());
}

QPoint centreOf(QWidget& twin, const char* control) { return rectOf(twin, control).center(); }

QImage browserScreenshot(const QString& url, int width, int height)
{
    QTemporaryDir dir;
    const QString shot = dir.filePath(QStringLiteral("page.png"));
    QProcess browser;
    browser.setWorkingDirectory(dir.path());
    browser.start(QStringLiteral("chromium"),
                  {"--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                   "--disable-background-networking", "--disable-component-update", "--disable-sync",
                   "--hide-scrollbars", "--user-data-dir=" + dir.filePath(QStringLiteral("profile")),
                   "--screenshot=" + shot, QStringLiteral("--window-size=%1,%2").arg(width).arg(height),
                   url});
    if (!browser.waitForFinished(90000)) {
        browser.kill();
        browser.waitForFinished();
        return {};
    }
    return QImage(shot);
}

int darkPixels(const QImage& image, const QRect& area)
{
    int dark = 0;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            if (qGray(image.pixel(x, y)) < 80)
                ++dark;
    return dark;
}

void keepForAPerson(const QImage& image, const QString& name)
{
    const QString folder = qEnvironmentVariable("QINGHE_JOURNEY_SHOTS");
    if (!folder.isEmpty() && QDir().mkpath(folder))
        image.save(folder + u'/' + name + QStringLiteral(".png"));
}
