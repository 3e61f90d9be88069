// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/ChildProcess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

pid_t startChild(const std::function<bool()>& work)
{
    const pid_t pid = fork();
    if (pid == 0)
        _exit(work() ? 0 : 1);
    return pid;
}

int waitForChild(pid_t pid)
{
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int runInChild(const std::function<bool()>& work) { return waitForChild(startChild(work)); }

int runWithFullDisk(qint64 bytes, const std::function<bool()>& work)
{
    return runInChild([bytes, &work] {
        const rlimit limit{rlim_t(bytes), rlim_t(bytes)};
        setrlimit(RLIMIT_FSIZE, &limit);
        return work();
    });
}

int runWithoutPrivileges(const std::function<bool()>& work)
{
    return runInChild([&work] {
        constexpr uid_t nobody = 65534;
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0))
            return false;
        return work();
    });
}

QList<pid_t> processesRunning(const QString& program, const QString& argument)
{
    const QString wanted = QFileInfo(program).canonicalFilePath();
    QList<pid_t> found;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const pid_t pid = pid_t(entry.toInt(&ok));
        if (!ok || QFile::symLinkTarget(QStringLiteral("/proc/") + entry + QStringLiteral("/exe")) != wanted)
            continue;
        QFile commandLine(QStringLiteral("/proc/") + entry + QStringLiteral("/cmdline"));
        if (argument.isEmpty()
            || (commandLine.open(QIODevice::ReadOnly)
                && commandLine.readAll().split('\0').contains(QFile::encodeName(argument))))
            found << pid;
    }
    return found;
}
