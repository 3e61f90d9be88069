// SPDX-License-Identifier: GPL-3.0-or-later
#include "formats/SafeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace SafeFile {

QString describeError(int errorNumber)
{
    switch (errorNumber) {
    case ENOSPC:
        return QStringLiteral("磁盘已满");
    case EDQUOT:
        return QStringLiteral("磁盘配额已用完");
    case EFBIG:
        return QStringLiteral("文件太大，超出了允许的大小");
    case EACCES:
    case EPERM:
        return QStringLiteral("没有写入这个文件夹的权限");
    case EROFS:
        return QStringLiteral("文件系统是只读的");
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("文件夹不存在");
    case EISDIR:
        return QStringLiteral("同名的文件夹已存在");
    case EIO:
        return QStringLiteral("磁盘读写出错");
    case ENAMETOOLONG:
        return QStringLiteral("文件名太长");
    default:
        return QString::fromLocal8Bit(strerror(errorNumber));
    }
}

namespace {

constexpr char temporarySuffix[] = ".part";

// Beside the real file, so a link to a settings file elsewhere keeps being a link.
QString resolvedTarget(const QString& path)
{
    const QFileInfo info(path);
    if (info.isSymLink()) {
        const QString target = info.canonicalFilePath();
        if (!target.isEmpty())
            return target;
    }
    return info.absoluteFilePath();
}

// Hidden, and named after the target and the writing process, so a later write can tell
// leftovers of a killed writer from the file another program is writing right now.
QString temporaryName(const QFileInfo& target)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QString random;
    for (int i = 0; i < 8; ++i)
        random += QLatin1Char(letters[QRandomGenerator::global()->bounded(int(sizeof letters - 1))]);
    return target.absolutePath() + QStringLiteral("/.") + target.fileName() + u'.' + QString::number(getpid())
           + u'.' + random + QLatin1StringView(temporarySuffix);
}

bool fail(QString* error, const QString& fileName, const QString& reason)
{
    if (error)
        *error = QStringLiteral("无法写入“%1”：%2").arg(fileName, reason);
    return false;
}

bool failErrno(QString* error, const QString& fileName)
{
    return fail(error, fileName, describeError(errno));
}

bool writeAll(int fd, QByteArrayView bytes)
{
    const char* data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(std::min<qsizetype>(left, 1 << 20)));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        data += n;
        left -= n;
    }
    return true;
}

bool syncFile(const QByteArray& path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return synced;
}

void syncFolder(const QString& folder)
{
    // Makes the rename itself survive a power cut; a folder that cannot be synced (some
    // network file systems) still holds the renamed file, so this is not a failure.
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

void keepPermissions(const QByteArray& temporary, const QByteArray& target)
{
    struct stat st {};
    if (::stat(target.constData(), &st) == 0)
        ::chmod(temporary.constData(), st.st_mode & 07777);
}

bool processIsGone(qint64 pid)
{
    return pid > 0 && pid != getpid() && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

void removeLeftovers(const QFileInfo& target)
{
    const QString prefix = u'.' + target.fileName() + u'.';
    QDir folder(target.absolutePath());
    const QStringList candidates = folder.entryList({prefix + u'*' + QLatin1StringView(temporarySuffix)},
                                                    QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : candidates) {
        const QStringView middle = QStringView(name).mid(prefix.size());
        const qsizetype dot = middle.indexOf(u'.');
        bool ok = false;
        const qint64 pid = dot > 0 ? middle.left(dot).toLongLong(&ok) : 0;
        if (ok && processIsGone(pid))
            folder.remove(name);
    }
}

bool commit(const QFileInfo& target, const QString& temporary, QString* error)
{
    const QByteArray tmp = QFile::encodeName(temporary);
    const QByteArray dst = QFile::encodeName(target.absoluteFilePath());
    if (!syncFile(tmp)) {
        failErrno(error, target.fileName());
        ::unlink(tmp.constData());
        return false;
    }
    keepPermissions(tmp, dst);
    if (::rename(tmp.constData(), dst.constData()) != 0) {
        failErrno(error, target.fileName());
        ::unlink(tmp.constData());
        return false;
    }
    syncFolder(target.absolutePath());
    removeLeftovers(target);
    return true;
}

// A process over its file size limit gets SIGXFSZ, which would end it; the write is then
// an ordinary failure instead.
void ignoreFileSizeSignal()
{
    static const bool ignored = [] {
        struct sigaction action {};
        sigaction(SIGXFSZ, nullptr, &action);
        if (action.sa_handler == SIG_DFL)
            signal(SIGXFSZ, SIG_IGN);
        return true;
    }();
    Q_UNUSED(ignored);
}

} // namespace

bool write(const QString& path, QByteArrayView bytes, QString* error)
{
    ignoreFileSizeSignal();
    const QFileInfo target(resolvedTarget(path));
    if (target.isDir())
        return fail(error, target.fileName(), describeError(EISDIR));
    const QString temporary = temporaryName(target);
    const QByteArray tmp = QFile::encodeName(temporary);
    const int fd = ::open(tmp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return failErrno(error, target.fileName());
    int failure = 0;
    if (!writeAll(fd, bytes) || ::fsync(fd) != 0)
        failure = errno;
    if (::close(fd) != 0 && failure == 0)
        failure = errno;
    if (failure != 0) {
        fail(error, target.fileName(), describeError(failure));
        ::unlink(tmp.constData());
        return false;
    }
    return commit(target, temporary, error);
}

bool writeWith(const QString& path, const Producer& produce, QString* error)
{
    ignoreFileSizeSignal();
    const QFileInfo target(resolvedTarget(path));
    if (target.isDir())
        return fail(error, target.fileName(), describeError(EISDIR));
    const QString temporary = temporaryName(target);
    QString reason;
    if (!produce(temporary, &reason)) {
        QFile::remove(temporary);
        return fail(error, target.fileName(), reason.isEmpty() ? QStringLiteral("写入失败") : reason);
    }
    if (!QFileInfo::exists(temporary))
        return fail(error, target.fileName(), QStringLiteral("没有写出文件"));
    return commit(target, temporary, error);
}

} // namespace SafeFile
