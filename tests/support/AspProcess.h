// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QProcess>
#include <QString>

// The web server program serving a folder on a free port, stopped with the object.
class AspProcess {
public:
    AspProcess(const QString& program, const QString& root);
    ~AspProcess();
    AspProcess(const AspProcess&) = delete;
    AspProcess& operator=(const AspProcess&) = delete;

    // The port it said it listens on; 0 when it did not start.
    int port() const { return m_port; }

private:
    QProcess m_process;
    int m_port = 0;
};
