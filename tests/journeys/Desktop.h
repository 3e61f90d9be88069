// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QPoint>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>

class QWidget;

// A desktop of a journey's own: an X server on a free display with a window manager, where
// the real program runs as a person sees it, and a person's hands (xdotool) and eyes
// (screenshots) to use it. Other tests run their own desktops at the same time.
class Desktop {
public:
    Desktop();
    ~Desktop();
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    // Empty when the X server or the window manager did not come up.
    QString display() const { return m_display; }
    // The environment of a program shown on this desktop.
    QProcessEnvironment
    environment(QProcessEnvironment base = QProcessEnvironment::systemEnvironment()) const;

    // The first visible window whose title matches `title` (a regular expression), once it
    // is shown; empty when none came within the time.
    QString waitForWindow(const QString& title, int timeoutMs = 30000) const;
    // Whether the window is gone (closed or hidden) within the time.
    bool waitUntilClosed(const QString& window, int timeoutMs = 10000) const;

    // A left click at a point of the window, in the window's own coordinates.
    void click(const QString& window, QPoint at) const;
    void doubleClick(const QString& window, QPoint at) const;
    // Keys as xdotool names them ("ctrl+a", "Return", "Down"), to the focused window.
    void key(const QString& keys) const;
    void type(const QString& text) const;
    // What the focused control holds, selected whole and copied as a person would.
    QString copyFocusedText() const;

    // The whole screen; also kept as `name`.png where QINGHE_JOURNEY_SHOTS names a folder,
    // for a person to look at.
    QImage screenshot(const QString& name = {}) const;
    // One window as it is drawn, in its own coordinates.
    QImage windowShot(const QString& window) const;

private:
    QString xdotool(const QStringList& arguments, int timeoutMs = 10000) const;
    QByteArray runTool(const QString& program, const QStringList& arguments, int timeoutMs) const;

    QProcess m_xserver;
    QProcess m_windowManager;
    QString m_display;
};

// Ends a program with SIGTERM, and SIGKILL when it does not end within a few seconds.
void stopProcess(QProcess& process);

// The centre of a control in its window's own coordinates, taken from a twin of the window
// built offscreen from the same form, so a click finds the control where it is drawn.
QPoint centreOf(QWidget& twin, const char* control);
QRect rectOf(QWidget& twin, const char* control);

// A page as a browser shows it: headless Chromium's screenshot of `url`; a null image when
// Chromium could not show it.
QImage browserScreenshot(const QString& url, int width = 1000, int height = 1400);

// Pixels of `area` dark enough to be text.
int darkPixels(const QImage& image, const QRect& area);
// Keeps `image` as `name`.png where QINGHE_JOURNEY_SHOTS names a folder.
void keepForAPerson(const QImage& image, const QString& name);
