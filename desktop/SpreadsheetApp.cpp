// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/SpreadsheetApp.h"

#include "desktop/Shell.h"
#include "formats/SafeFile.h"
#include "formats/workbook/NewWorkbook.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

const QString SpreadsheetApp::templateType =
    QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.template");
const QString SpreadsheetApp::workbookType =
    QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.sheet");

SpreadsheetApp::SpreadsheetApp(Shell& shell)
    : m_shell(shell)
{
}

bool SpreadsheetApp::isInstalled() const
{
    return m_shell.hasProgramFor(templateType) || m_shell.hasProgramFor(workbookType);
}

QString SpreadsheetApp::workbookFolder()
{
    // The session's private runtime folder where the desktop has one; else a folder of this
    // user's own under the temporary folder.
    if (qEnvironmentVariableIsSet("XDG_RUNTIME_DIR"))
        return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)
               + QStringLiteral("/qinghe-workbooks");
    return QDir::tempPath() + QStringLiteral("/qinghe-workbooks-") + QString::number(::getuid());
}

bool SpreadsheetApp::open(const NewWorkbook& book, const QString& name, QString* error)
{
    const QString folder = workbookFolder();
    if (!QDir().mkpath(folder) || QFileInfo(folder).ownerId() != ::getuid()
        || QFileInfo(folder).isSymLink()) {
        *error = QStringLiteral("无法建立临时文件夹") + folder;
        return false;
    }
    // Names and remarks of students are nobody else's business on a shared machine.
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    // The program that opened a workbook has long read it by the next day.
    const QDateTime dayAgo = QDateTime::currentDateTime().addDays(-1);
    for (const QFileInfo& old : QDir(folder).entryInfoList({QStringLiteral("*.xltx")}, QDir::Files)) {
        if (old.lastModified() < dayAgo)
            QFile::remove(old.absoluteFilePath());
    }

    const QString path = folder + u'/' + name + u'-'
                         + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss-zzz"))
                         + QStringLiteral(".xltx");
    const bool written = SafeFile::writeWith(
        path,
        [&book](const QString& temporary, QString* reason) { return book.writeTemplate(temporary, reason); },
        error);
    if (!written)
        return false;
    const QString type = m_shell.hasProgramFor(templateType) ? templateType : workbookType;
    if (!m_shell.openWithProgramFor(path, type)) {
        *error = QStringLiteral("表格程序没有打开文件") + path;
        return false;
    }
    return true;
}
