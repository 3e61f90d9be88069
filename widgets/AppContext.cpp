// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/AppContext.h"

#include "archive/ProgramFolder.h"
#include "widgets/Dialogs.h"

AppContext::AppContext(Dialogs& dialogs, Navigator& navigator, Shell& shell)
    : dialogs(dialogs)
    , navigator(navigator)
    , shell(shell)
{
}

QString AppContext::databaseFile() const { return ProgramFolder::databaseFile(appFolder); }

QString AppContext::settingsFile() const { return ProgramFolder::settingsFile(appFolder); }

void AppContext::setClassList(const QStringList& classes)
{
    classList = classes;
    emit classListChanged();
}

void AppContext::reportDatabaseProblem(QWidget* parent, ErrorKind kind, const QString& reason)
{
    const bool damaged = kind == ErrorKind::Damaged;
    if (damaged && databaseDamage.isEmpty())
        databaseDamage = reason;
    if (m_databaseProblemReported)
        return;
    m_databaseProblemReported = true;
    if (kind == ErrorKind::ServerUnreachable) {
        dialogs.message(
            parent,
            reason + QStringLiteral("\n\n请检查网络和数据库服务器。服务器恢复后，各项操作会自动重新连接。"),
            QStringLiteral("错误信息"), MessageIcon::Warning);
        return;
    }
    dialogs.message(
        parent,
        QStringLiteral("无法使用数据库文件：%1。\n%2\n\n"
                       "数据库文件已损坏或不是学生数据库。程序没有改动这个文件，也不会往里面写入。"
                       "请从备份恢复数据库文件，然后重新启动程序。")
            .arg(reason, databaseFile()),
        QStringLiteral("错误信息"), MessageIcon::Warning);
}
