// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/ArchiveLocks.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSet>
#include <QTest>
#include <QWidget>

#include <algorithm>

#include <unistd.h>

namespace {

const QString archiveName = QStringLiteral("学生信息.mdb");

QString linkTarget(const QString& link)
{
    char buffer[4096];
    const ssize_t n = ::readlink(QFile::encodeName(link).constData(), buffer, sizeof buffer - 1);
    return n > 0 ? QFile::decodeName(QByteArray(buffer, int(n))) : QString();
}

} // namespace

QString archiveLockFault(pid_t pid)
{
    const QString proc = QStringLiteral("/proc/%1").arg(pid);
    const QStringList fds = QDir(proc + QStringLiteral("/fd")).entryList(QDir::Files | QDir::System);
    QStringList faults;
    QMap<QString, QStringList> archives; // path → its descriptors
    QSet<QString> logs;
    for (const QString& fd : fds) {
        const QString target = linkTarget(proc + QStringLiteral("/fd/") + fd);
        if (!target.contains(archiveName))
            continue;
        if (target.endsWith(QLatin1String(" (deleted)")))
            faults << QStringLiteral("descriptor %1 is %2").arg(fd, target);
        else if (QFileInfo(target).fileName() == archiveName)
            archives[target] << fd;
        else if (target.endsWith(QLatin1String("-wal")))
            logs.insert(target.chopped(4));
    }
    // Between transactions a connection holds a lock only in WAL mode, which keeps the log
    // open; that lock is what tells the next program the log is still in use. The kernel
    // lists a lock under the descriptor it was taken through.
    for (auto it = archives.cbegin(); it != archives.cend(); ++it) {
        if (!logs.contains(it.key()))
            continue;
        const bool locked = std::any_of(it.value().cbegin(), it.value().cend(), [&proc](const QString& fd) {
            QFile info(proc + QStringLiteral("/fdinfo/") + fd);
            return info.open(QIODevice::ReadOnly) && info.readAll().contains("POSIX");
        });
        if (!locked)
            faults << QStringLiteral("%1 is open with its log but holds no lock").arg(it.key());
    }
    return faults.join(QStringLiteral("; "));
}

QString archiveLockFault() { return archiveLockFault(getpid()); }

ArchiveLockGuard::ArchiveLockGuard()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->installEventFilter(this);
}

ArchiveLockGuard::~ArchiveLockGuard() = default;

bool ArchiveLockGuard::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Show && watched->isWidgetType()
        && static_cast<QWidget*>(watched)->isWindow()) {
        const QString fault = archiveLockFault();
        if (!fault.isEmpty()) {
            const QByteArray message =
                QStringLiteral("after %1 opened: %2")
                    .arg(QString::fromLatin1(watched->metaObject()->className()), fault)
                    .toUtf8();
            QTest::qFail(message.constData(), __FILE__, __LINE__);
        }
    }
    return false;
}

void expectArchiveLocksHeld(pid_t pid, const char* where)
{
    QString fault = archiveLockFault(pid);
    if (!fault.isEmpty()) {
        usleep(20000); // a connection closing between two looks at another process is no fault
        fault = archiveLockFault(pid);
    }
    if (!fault.isEmpty()) {
        const QByteArray message = (QString::fromUtf8(where) + QStringLiteral(": ") + fault).toUtf8();
        QTest::qFail(message.constData(), __FILE__, __LINE__);
    }
}
