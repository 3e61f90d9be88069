// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "formats/Error.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

class AppContext;
class DatabaseConnection;
class QThread;
class QWidget;

// Looks at the archive once at start-up without keeping the window waiting. A file that is no
// student database is reported at once (once the window is up); the pages of one that is are
// read on a thread of their own, and damage found there is reported the same way and stops
// the window's connection from writing into the file.
class StartupCheck : public QObject {
    Q_OBJECT
public:
    StartupCheck(AppContext& context, DatabaseConnection& database, bool opened, QWidget* window);
    ~StartupCheck() override;

signals:
    void finished();

private:
    void report(ErrorKind kind, const QString& reason);

    AppContext& m_context;
    DatabaseConnection& m_database;
    QWidget* m_window;
    QThread* m_thread = nullptr;
    std::shared_ptr<std::atomic<bool>> m_cancel = std::make_shared<std::atomic<bool>>(false);
};
