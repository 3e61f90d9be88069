// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/StartupCheck.h"

#include "archive/DatabaseConnection.h"
#include "exchange/DatabaseBackup.h"
#include "widgets/AppContext.h"
#include "widgets/Dialogs.h"

#include <QThread>
#include <QTimer>
#include <QWidget>

#include <optional>

StartupCheck::StartupCheck(AppContext& context, DatabaseConnection& database, bool opened, QWidget* window)
    : QObject(window)
    , m_context(context)
    , m_database(database)
    , m_window(window)
{
    const QString file = context.databaseFile();
    DatabaseBackup::removeLeftovers(file);
    if (!opened) {
        // A missing archive is the empty start of a new folder, not a fault, and the offer to
        // convert an Access archive has said all there is to say. A server that cannot be
        // reached is said once; every action tries it again and says why it cannot.
        const ErrorKind kind = database.lastErrorKind();
        const QString reason = database.lastError();
        QTimer::singleShot(0, this, [this, kind, reason] {
            if (kind != ErrorKind::Missing && kind != ErrorKind::NotConverted)
                report(kind, reason);
            emit finished();
        });
        return;
    }
    if (const QString readOnly = database.readOnlyReason(); !readOnly.isEmpty()) {
        // Lists, search and cards work; the operator learns before a save why it cannot be.
        QTimer::singleShot(0, this, [this, file, readOnly] {
            m_context.dialogs.message(m_window, readOnly + QStringLiteral("。\n") + file,
                                      QStringLiteral("错误信息"), MessageIcon::Warning);
        });
    }
    const auto check = database.pageCheck();
    if (!check) {
        QTimer::singleShot(0, this, &StartupCheck::finished);
        return;
    }
    auto problem = std::make_shared<std::optional<QString>>();
    m_thread = QThread::create([check, problem, cancel = m_cancel] {
        if (QString found; !check(cancel.get(), &found))
            *problem = found;
    });
    connect(m_thread, &QThread::finished, this, [this, problem] {
        if (*problem)
            report(ErrorKind::Damaged, **problem);
        emit finished();
    });
    m_thread->start(QThread::LowPriority);
}

StartupCheck::~StartupCheck()
{
    if (m_thread) {
        *m_cancel = true; // the check stops within a few milliseconds
        m_thread->wait();
        delete m_thread;
    }
}

void StartupCheck::report(ErrorKind kind, const QString& reason)
{
    if (kind == ErrorKind::Damaged)
        m_database.markDamaged(reason);
    m_context.reportDatabaseProblem(m_window, kind, reason);
}
