// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchange/DatabaseAdminWindow.h"

#include "ui_DatabaseAdminWindow.h"

#include "archive/ArchiveLocation.h"
#include "archive/StudentTable.h"
#include "desktop/SpreadsheetApp.h"
#include "exchange/DatabaseBackup.h"
#include "exchange/ListExport.h"
#include "widgets/AppContext.h"
#include "widgets/Dialogs.h"

#include <QDir>

DatabaseAdminWindow::DatabaseAdminWindow(AppContext& context, QWidget* parent)
    : QWidget(parent)
    , m_context(context)
    , m_ui(std::make_unique<Ui::DatabaseAdminWindow>())
{
    m_ui->setupUi(this);
    StudentTable::openArchive(m_database, m_context.databaseFile());
    m_administrator.attach(m_database);
    m_students.attach(m_database);
    m_administrator.open(StudentTable::selectAdministrator);
    m_students.open(StudentTable::selectAll);
    m_context.administratorPassword = m_administrator.readText(u"密码");

    connect(m_ui->按钮1, &QPushButton::clicked, this, &DatabaseAdminWindow::exportToSpreadsheet);
    connect(m_ui->按钮2, &QPushButton::clicked, this, &DatabaseAdminWindow::rebuildDatabase);
    connect(m_ui->按钮3, &QPushButton::clicked, this, &DatabaseAdminWindow::changePassword);
    connect(m_ui->按钮4, &QPushButton::clicked, this, &DatabaseAdminWindow::chooseArchive);
    showArchive();
}

void DatabaseAdminWindow::showArchive()
{
    m_ui->标签6->setText(m_database.describeLocation());
    m_ui->标签6->setToolTip(m_ui->标签6->text());
}

// A server is taken only once a connection to it finds the archive's tables there, so a
// mistyped address never leaves every window without its data.
void DatabaseAdminWindow::chooseArchive()
{
    if (!passwordAccepted(m_context.dialogs.password(this, QStringLiteral("密码："), windowTitle())))
        return;
    const auto entry =
        m_context.dialogs.input(this,
                                QStringLiteral("数据库服务器地址（postgresql://主机/数据库名，密码写在 "
                                               "~/.pgpass 里）\n留空则使用DB目录下的数据库文件"),
                                windowTitle(), ArchiveLocation::configuredServer(m_context.appFolder));
    if (!entry)
        return;
    const QString uri = entry->trimmed();
    QString error;
    if (!uri.isEmpty()) {
        if (!ArchiveLocation::isServerAddress(uri) || ArchiveLocation::carriesPassword(uri)) {
            ArchiveLocation::setServer(m_context.appFolder, uri, &error);
            warn(QStringLiteral("没有更换数据库：") + error);
            return;
        }
        DatabaseConnection test;
        if (!test.openLocation(uri, QStringLiteral("学生"))) {
            warn(QStringLiteral("没有更换数据库：") + test.lastError()
                 + (test.lastErrorKind() == ErrorKind::NotStudentArchive
                        ? QStringLiteral("\n请先用 qinghe-initdb --server 建立数据表，"
                                         "或用 qinghe archive copy 把数据库复制过去。")
                        : QString()));
            return;
        }
    }
    if (!ArchiveLocation::setServer(m_context.appFolder, uri, &error)) {
        warn(QStringLiteral("没有更换数据库：") + error);
        return;
    }
    QString text = uri.isEmpty() ? QStringLiteral("已改用数据库文件：")
                                       + QDir::toNativeSeparators(m_context.databaseFile())
                                 : QStringLiteral("连接成功，已改用服务器数据库：") + uri;
    text += QStringLiteral("\n重新启动程序后，所有窗口和网页服务器都使用它。");
    if (!qEnvironmentVariableIsEmpty("QINGHE_DATABASE"))
        text += QStringLiteral("\n注意：环境变量 QINGHE_DATABASE 已设置，它优先于这里的设置。");
    tell(text);
}

DatabaseAdminWindow::~DatabaseAdminWindow() = default;

void DatabaseAdminWindow::tell(const QString& text)
{
    m_context.dialogs.message(this, text, {}, MessageIcon::Information);
}

void DatabaseAdminWindow::warn(const QString& text)
{
    m_context.dialogs.message(this, text, {}, MessageIcon::Warning);
}

void DatabaseAdminWindow::exportToSpreadsheet()
{
    SpreadsheetApp spreadsheet(m_context.shell);
    if (!spreadsheet.isInstalled()) {
        warn(QStringLiteral("你没有安装EXCEL程序，请安装后再查看"));
        return;
    }
    QString error;
    if (!spreadsheet.open(ListExport::studentList(m_students), QStringLiteral("学生名单"), &error))
        warn(QStringLiteral("导出失败：") + error);
}

// A cancelled entry is no attempt: nothing is checked and nothing is said.
bool DatabaseAdminWindow::passwordAccepted(const std::optional<QString>& entry)
{
    if (!entry)
        return false;
    if (*entry == m_context.administratorPassword)
        return true;
    warn(QStringLiteral("密码不正确，不能执行此操作！！"));
    return false;
}

void DatabaseAdminWindow::rebuildDatabase()
{
    // A file that is not the student archive (another program's database, a damaged one)
    // is left as it is; without it there is no administrator password to ask for either.
    if (!m_database.isOpen()) {
        warn(QStringLiteral("数据库没有重建：") + m_database.lastError());
        return;
    }
    if (!passwordAccepted(m_context.dialogs.password(this, QStringLiteral("密码："), windowTitle())))
        return;
    // The warning beside the button is the only caution before every record goes, so a
    // copy is kept first; without one nothing is dropped.
    const QString backup = DatabaseBackup::backupFile(m_context.databaseFile(), QDateTime::currentDateTime());
    QString error;
    if (!DatabaseBackup::write(m_database, backup, &error)) {
        warn(QStringLiteral("数据库没有重建：备份原来的数据失败，") + error);
        return;
    }
    DatabaseTransaction rebuild(m_database);
    const bool rebuilt = rebuild.isActive() && m_database.execute(QStringLiteral("DROP TABLE 学生"))
                         && m_database.execute(StudentTable::createStudents) && rebuild.commit();
    if (!rebuilt) {
        warn(QStringLiteral("数据库没有重建：") + m_database.lastError());
        return;
    }
    // An export after the rebuild shows the table as it now is, not records that are gone.
    m_students.open(StudentTable::selectAll);
    tell(QStringLiteral("重建数据库成功！\n原来的数据已备份到：") + QDir::toNativeSeparators(backup));
}

void DatabaseAdminWindow::changePassword()
{
    if (!passwordAccepted(m_context.dialogs.password(this, QStringLiteral("请输入旧密码"), {})))
        return;
    const auto entered = m_context.dialogs.password(this, QStringLiteral("请输入新密码"), {});
    if (!entered)
        return;
    const auto confirmed = m_context.dialogs.password(this, QStringLiteral("请确认新密码"), {});
    if (!confirmed)
        return;
    if (*entered != *confirmed) {
        warn(QStringLiteral("两次密码不一致，不能执行此操作！！"));
        return;
    }
    // A table without its row would forget the change at the next opening.
    if (m_administrator.recordCount() == 0)
        m_administrator.addNew();
    if (!m_administrator.writeText(u"密码", *entered) || !m_administrator.update()) {
        warn(QStringLiteral("密码没有修改：") + m_administrator.lastError());
        return;
    }
    m_context.administratorPassword = *entered;
    tell(QStringLiteral("密码修改成功！"));
}
