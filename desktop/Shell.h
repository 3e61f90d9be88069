// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// What a program run to its end said.
struct ProgramResult {
    bool finished = false; // started and ended within the time given
    int exitCode = -1;
    QString output;
    QString errorOutput;
};

// The desktop around the program: the browser, the file browser, other programs and the
// network address. Tests replace it, since none of these can run there.
class Shell {
public:
    virtual ~Shell() = default;
    virtual bool openUrl(const QString& url) = 0;
    virtual bool openFolder(const QString& path) = 0;
    virtual bool startDetached(const QString& program, const QStringList& arguments = {},
                               const QString& workingFolder = {}) = 0;
    // Runs a program and waits for it to end, for programs that only report and return.
    virtual ProgramResult run(const QString& program, const QStringList& arguments,
                              const QString& workingFolder, int timeoutMs) = 0;
    // The machine's address on the school network, in dotted IPv4 form.
    virtual QString localAddress() = 0;
    // Whether the desktop has a program registered for files of this MIME type.
    virtual bool hasProgramFor(const QString& mimeType) = 0;
    // Opens the file in the program registered for that type, without waiting for it.
    virtual bool openWithProgramFor(const QString& path, const QString& mimeType) = 0;
};

class DesktopShell final : public Shell {
public:
    bool openUrl(const QString& url) override;
    bool openFolder(const QString& path) override;
    bool startDetached(const QString& program, const QStringList& arguments,
                       const QString& workingFolder) override;
    ProgramResult run(const QString& program, const QStringList& arguments, const QString& workingFolder,
                      int timeoutMs) override;
    QString localAddress() override;
    bool hasProgramFor(const QString& mimeType) override;
    bool openWithProgramFor(const QString& path, const QString& mimeType) override;
};

// The first IPv4 address of an interface that is up and not the loopback; 127.0.0.1 when
// the machine has none.
QString firstLocalIPv4Address();
