// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/WebSettingsWindow.h"

#include "ui_WebSettingsWindow.h"

#include "archive/DatabaseConnection.h"
#include "archive/StudentTable.h"
#include "formats/IniFile.h"
#include "web/SitePages.h"
#include "widgets/AppContext.h"
#include "widgets/Dialogs.h"

namespace {

const QString section = QStringLiteral("sys");
const QString titleKey = QStringLiteral("WEB标题");
const QString optionsKey = QStringLiteral("学生选项");

} // namespace

WebSettingsWindow::WebSettingsWindow(AppContext& context, QWidget* parent)
    : QWidget(parent)
    , m_context(context)
    , m_ui(std::make_unique<Ui::WebSettingsWindow>())
{
    m_ui->setupUi(this);
    connect(m_ui->按钮1, &QPushButton::clicked, this, &WebSettingsWindow::saveAndGenerate);
    connect(m_ui->按钮2, &QPushButton::clicked, this, &WebSettingsWindow::clearOptions);

    const QString settings = m_context.settingsFile();
    m_ui->编辑框1->setText(IniFile::read(settings, section, titleKey, SitePages::defaultTitle));
    m_ui->编辑框2->setText(IniFile::read(settings, section, optionsKey, SitePages::defaultOptions));
}

WebSettingsWindow::~WebSettingsWindow() = default;

void WebSettingsWindow::saveAndGenerate()
{
    const QString title = m_ui->编辑框1->text();
    const QString options = m_ui->编辑框2->text();
    // Pages first, settings after: when a page cannot be written, the stored settings still
    // describe the pages the site serves.
    QString error;
    if (!SitePages::write(m_context.appFolder, title, options, &error)
        || !IniFile::write(m_context.settingsFile(), section, {{titleKey, title}, {optionsKey, options}},
                           &error)) {
        m_context.dialogs.message(this, QStringLiteral("保存失败：") + error, {}, MessageIcon::Warning);
        return;
    }
    m_context.dialogs.message(this, QStringLiteral("保存成功！"));
}

void WebSettingsWindow::clearOptions()
{
    // One statement: every student's option is cleared, or none is.
    DatabaseConnection connection;
    if (!StudentTable::openArchive(connection, m_context.databaseFile())
        || !connection.execute(QStringLiteral("UPDATE 学生 SET 选项=''"))) {
        m_context.dialogs.message(this, QStringLiteral("清理失败：") + connection.lastError(), {},
                                  MessageIcon::Warning);
        return;
    }
    m_context.dialogs.message(this, QStringLiteral("清理成功！"));
}
