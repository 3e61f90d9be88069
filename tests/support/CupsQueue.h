// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QProcess>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A real print queue for a test: a CUPS scheduler of its own, its configuration, spool and
// logs in a temporary folder, listening on a free port of 127.0.0.1, with one queue whose
// printer is cups-pdf, so what a program prints comes back as the PDF file the whole filter
// chain made of it. Programs reach it through the environment (CUPS_SERVER=server()).
//
// cups-pdf writes as the job's user only when the scheduler runs as root, and takes its
// output folder from /etc/cups/cups-pdf-<queue>.conf: the queue's name is unique and that
// file is removed with the queue. Stopped and removed with the object.
//
// Its paper is A4, or the paper given (in millimetres), as the only page size of the
// printer's driver besides the usual ones and its default, as a card printer's driver has the card.
class CupsQueue {
public:
    explicit CupsQueue(QSizeF paper = {});
    ~CupsQueue();
    CupsQueue(const CupsQueue&) = delete;
    CupsQueue& operator=(const CupsQueue&) = delete;

    bool isRunning() const { return m_running; }
    // What went wrong starting it, with the scheduler's log.
    QString error() const { return m_error; }

    QString server() const { return m_server; }
    QString name() const { return m_name; }

    // The PDF files the printer has written, once there are `count` of them, or all there are
    // when `timeoutMs` has passed first.
    QStringList waitForPdfs(int count, int timeoutMs = 60000) const;

private:
    bool start();
    QString log() const;
    // The driver description of the queue's printer.
    QString driver();

    QTemporaryDir m_dir;
    QProcess m_scheduler;
    QString m_server;
    QString m_name;
    QString m_pdfConfig;
    QSizeF m_paper;
    QString m_error;
    bool m_running = false;
};
