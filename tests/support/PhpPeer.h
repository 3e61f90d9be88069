// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QProcess>
#include <QString>

// The site's class page written in PHP (bench/peer/index.php) over the same archive, served
// by PHP's own server with a worker per core: the peer the web benchmark measures ours
// against, on a free local port. Stopped with the object.
class PhpPeer {
public:
    explicit PhpPeer(const QString& databaseFile);
    ~PhpPeer();
    PhpPeer(const PhpPeer&) = delete;
    PhpPeer& operator=(const PhpPeer&) = delete;

    // 0 when PHP did not start; error() says why.
    int port() const { return m_port; }
    QString error() const { return m_error; }

private:
    QProcess m_process;
    int m_port = 0;
    QString m_error;
};
