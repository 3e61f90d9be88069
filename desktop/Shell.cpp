// SPDX-License-Identifier: GPL-3.0-or-later
// GLib's headers come before Qt's, whose keyword macros (signals) would rewrite them.
#include <gio/gio.h>

#include "desktop/Shell.h"

#include <QDesktopServices>
#include <QFile>
#include <QNetworkInterface>
#include <QProcess>
#include <QUrl>

bool DesktopShell::openUrl(const QString& url) { return QDesktopServices::openUrl(QUrl(url)); }

bool DesktopShell::openFolder(const QString& path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

bool DesktopShell::startDetached(const QString& program, const QStringList& arguments,
                                 const QString& workingFolder)
{
    return QProcess::startDetached(program, arguments, workingFolder);
}

ProgramResult DesktopShell::run(const QString& program, const QStringList& arguments,
                                const QString& workingFolder, int timeoutMs)
{
    QProcess process;
    process.setWorkingDirectory(workingFolder);
    process.start(program, arguments);
    ProgramResult result;
    if (!process.waitForStarted(timeoutMs))
        return result;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.finished = process.exitStatus() == QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.output = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.errorOutput = QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

QString DesktopShell::localAddress() { return firstLocalIPv4Address(); }

// The desktop's own registry of default programs (the MIME applications lists), as the file
// manager consults it.
bool DesktopShell::hasProgramFor(const QString& mimeType)
{
    GAppInfo* program = g_app_info_get_default_for_type(mimeType.toUtf8().constData(), FALSE);
    if (!program)
        return false;
    g_object_unref(program);
    return true;
}

bool DesktopShell::openWithProgramFor(const QString& path, const QString& mimeType)
{
    GAppInfo* program = g_app_info_get_default_for_type(mimeType.toUtf8().constData(), FALSE);
    if (!program)
        return false;
    GFile* file = g_file_new_for_path(QFile::encodeName(path).constData());
    GList files{file, nullptr, nullptr};
    GError* failure = nullptr;
    const bool started = g_app_info_launch(program, &files, nullptr, &failure);
    if (failure)
        g_error_free(failure);
    g_object_unref(file);
    g_object_unref(program);
    return started;
}

QString firstLocalIPv4Address()
{
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& interface : interfaces) {
        const auto flags = interface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) || !flags.testFlag(QNetworkInterface::IsRunning)
            || flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry& entry : interface.addressEntries()) {
            const QHostAddress address = entry.ip();
            if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback())
                return address.toString();
        }
    }
    return QStringLiteral("127.0.0.1");
}
