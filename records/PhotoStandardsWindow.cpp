// SPDX-License-Identifier: GPL-3.0-or-later
#include "records/PhotoStandardsWindow.h"

#include "ui_PhotoStandardsWindow.h"

#include "archive/DatabaseConnection.h"
#include "archive/ProgramFolder.h"
#include "archive/StudentTable.h"
#include "desktop/OffThread.h"
#include "records/PhotoStandard.h"
#include "records/StandardExport.h"
#include "widgets/AppContext.h"
#include "widgets/Dialogs.h"

#include <QDir>

namespace {

QString defaultFolder(const QString& appFolder, const QString& standard)
{
    return QDir(ProgramFolder::photoFolder(appFolder)).filePath(standard);
}

QString who(const QString& name, const QString& number)
{
    return number.isEmpty() ? name : QStringLiteral("%1（%2）").arg(name, number);
}

} // namespace

PhotoStandardsWindow::PhotoStandardsWindow(AppContext& context, QWidget* parent)
    : QWidget(parent)
    , m_context(context)
    , m_ui(std::make_unique<Ui::PhotoStandardsWindow>())
{
    m_ui->setupUi(this);
    m_ui->班级框->addItems(m_context.classList);
    m_ui->结果列表->setColumnWidth(0, 200);
    m_ui->结果列表->setColumnWidth(1, 180);
    fillStandards(QStringLiteral("毕业"));
    m_ui->文件夹编辑框->setText(defaultFolder(m_context.appFolder, m_ui->规格框->currentText()));

    connect(&m_context, &AppContext::classListChanged, this, [this] {
        const QString current = m_ui->班级框->currentText();
        m_ui->班级框->clear();
        m_ui->班级框->addItems(m_context.classList);
        m_ui->班级框->setCurrentText(current);
    });
    connect(m_ui->规格框, &QComboBox::currentTextChanged, this, [this](const QString& name) {
        // A folder of the office's own choosing stays; the default one follows the standard.
        const QString folder = QDir::cleanPath(m_ui->文件夹编辑框->text());
        if (QDir(folder).dirName() != name
            && folder.startsWith(ProgramFolder::photoFolder(m_context.appFolder)))
            m_ui->文件夹编辑框->setText(defaultFolder(m_context.appFolder, name));
        showStandard();
    });
    connect(m_ui->保存规格按钮, &QPushButton::clicked, this, &PhotoStandardsWindow::saveStandard);
    connect(m_ui->浏览按钮, &QPushButton::clicked, this, &PhotoStandardsWindow::browseFolder);
    connect(m_ui->导出按钮, &QPushButton::clicked, this, &PhotoStandardsWindow::exportClass);
    connect(m_ui->载入按钮, &QPushButton::clicked, this, &PhotoStandardsWindow::planImport);
    connect(m_ui->存入按钮, &QPushButton::clicked, this, &PhotoStandardsWindow::storeImport);
}

PhotoStandardsWindow::~PhotoStandardsWindow() = default;

void PhotoStandardsWindow::fillStandards(const QString& current)
{
    QStringList problems;
    const QSignalBlocker quiet(m_ui->规格框);
    m_ui->规格框->clear();
    for (const PhotoStandard& s : PhotoStandards::load(m_context.settingsFile(), &problems))
        m_ui->规格框->addItem(s.name);
    m_ui->规格框->setCurrentText(current);
    showStandard();
    if (!problems.isEmpty())
        setStatus(problems.join(QStringLiteral("；")));
}

void PhotoStandardsWindow::showStandard()
{
    QString error;
    const std::optional<PhotoStandard> s =
        PhotoStandards::find(m_context.settingsFile(), m_ui->规格框->currentText(), &error);
    m_ui->规格编辑框->setText(s ? s->text() : QString());
}

void PhotoStandardsWindow::saveStandard()
{
    const QString name = m_ui->规格框->currentText();
    QString error;
    const std::optional<PhotoStandard> s = PhotoStandard::parse(name, m_ui->规格编辑框->text(), &error);
    if (!s || !PhotoStandards::save(m_context.settingsFile(), *s, &error)) {
        m_context.dialogs.message(this, QStringLiteral("保存失败：") + error, {}, MessageIcon::Warning);
        return;
    }
    fillStandards(name);
    setStatus(QStringLiteral("照片规格“%1”已保存").arg(name));
}

void PhotoStandardsWindow::browseFolder()
{
    const QString folder = m_context.dialogs.chooseFolder(this, QStringLiteral("请选择一个文件夹："),
                                                          m_ui->文件夹编辑框->text());
    if (!folder.isEmpty())
        m_ui->文件夹编辑框->setText(folder);
}

void PhotoStandardsWindow::exportClass()
{
    QString error;
    const std::optional<PhotoStandard> standard =
        PhotoStandards::find(m_context.settingsFile(), m_ui->规格框->currentText(), &error);
    if (!standard || m_ui->班级框->currentText().isEmpty()
        || m_ui->文件夹编辑框->text().trimmed().isEmpty()) {
        m_context.dialogs.message(this, standard ? QStringLiteral("请选择班级和导出文件夹") : error, {},
                                  MessageIcon::Warning);
        return;
    }
    StandardExport::Request request;
    request.className = m_ui->班级框->currentText();
    request.folder = m_ui->文件夹编辑框->text().trimmed();
    request.standard = *standard;
    request.force = m_ui->强制框->isChecked();
    request.thumbnails = true;
    m_plan = {};
    m_ui->存入按钮->setEnabled(false);
    m_ui->结果列表->clear();
    setStatus(QStringLiteral("正在导出……"));
    StandardExport::Report report;
    const QString databaseFile = m_context.databaseFile();
    OffThread::run([&] {
        DatabaseConnection database;
        if (!StudentTable::openArchive(database, databaseFile))
            report.error = QStringLiteral("打不开学生数据库：") + database.lastError();
        else
            report = StandardExport::run(database, request);
    });
    if (!report.error.isEmpty()) {
        setStatus({});
        m_context.dialogs.message(this, QStringLiteral("导出失败：") + report.error, {},
                                  MessageIcon::Warning);
        return;
    }
    // What needs the office's attention comes first.
    for (const StandardExport::Student& s : report.leftOut)
        addRow(who(s.name, s.number), {}, QStringLiteral("没有写出：") + s.reasons.join(QStringLiteral("；")),
               s.thumbnail, true);
    for (const StandardExport::Student& s : report.written)
        addRow(who(s.name, s.number), s.file,
               s.reasons.isEmpty() ? QStringLiteral("已写出")
                                   : QStringLiteral("已强制写出：") + s.reasons.join(QStringLiteral("；")),
               s.thumbnail, !s.reasons.isEmpty());
    setStatus(QStringLiteral("已按“%1”规格写出 %2 张照片到 %3%4")
                  .arg(standard->name)
                  .arg(report.written.size())
                  .arg(QDir::toNativeSeparators(request.folder),
                       report.leftOut.isEmpty()
                           ? QString()
                           : QStringLiteral("；%1 名学生没有写出").arg(report.leftOut.size())));
}

void PhotoStandardsWindow::planImport()
{
    const QString className = m_ui->班级框->currentText();
    if (className.isEmpty()) {
        m_context.dialogs.message(this, QStringLiteral("请先选择班级"), {}, MessageIcon::Warning);
        return;
    }
    const QString folder = m_context.dialogs.chooseFolder(this, QStringLiteral("请选择摄影师的照片文件夹："),
                                                          ProgramFolder::photoFolder(m_context.appFolder));
    if (folder.isEmpty())
        return;
    m_ui->结果列表->clear();
    m_ui->存入按钮->setEnabled(false);
    setStatus(QStringLiteral("正在配对照片……"));
    const QString databaseFile = m_context.databaseFile();
    const bool replace = m_ui->替换框->isChecked();
    OffThread::run([&] {
        DatabaseConnection database;
        if (!StudentTable::openArchive(database, databaseFile)) {
            m_plan = {};
            m_plan.error = QStringLiteral("打不开学生数据库：") + database.lastError();
        } else {
            m_plan = PhotoFolderImport::plan(database, folder, className, replace);
        }
    });
    if (!m_plan.error.isEmpty()) {
        setStatus({});
        m_context.dialogs.message(this, QStringLiteral("载入失败：") + m_plan.error, {},
                                  MessageIcon::Warning);
        return;
    }
    for (const PhotoFolderImport::Match& m : m_plan.toStore)
        addRow(who(m.name, m.number), m.file,
               m.hadPhoto ? QStringLiteral("将替换原来的照片") : QStringLiteral("将存入"), m.photo, false);
    for (const PhotoFolderImport::Match& m : m_plan.kept)
        addRow(who(m.name, m.number), m.file, QStringLiteral("已有照片，保留"), {}, false);
    for (const PhotoFolderImport::Refusal& r : m_plan.refused)
        addRow({}, r.file, QStringLiteral("不能载入：") + r.reason, {}, true);
    for (const QString& file : m_plan.unmatched)
        addRow({}, file, QStringLiteral("没有对应的学生"), {}, true);
    for (const QString& student : m_plan.stillWithout)
        addRow(student, {}, QStringLiteral("还没有照片"), {}, true);
    m_ui->存入按钮->setEnabled(!m_plan.toStore.isEmpty());
    setStatus(QStringLiteral("%1 张照片配好，还没有存入；请看过后按“%2”")
                  .arg(m_plan.toStore.size())
                  .arg(m_ui->存入按钮->text()));
}

void PhotoStandardsWindow::storeImport()
{
    QString error;
    int stored = -1;
    const QString databaseFile = m_context.databaseFile();
    OffThread::run([&] {
        DatabaseConnection database;
        if (!StudentTable::openArchive(database, databaseFile))
            error = database.lastError();
        else
            stored = PhotoFolderImport::store(database, m_plan, &error);
    });
    if (stored < 0) {
        m_context.dialogs.message(this, QStringLiteral("保存失败：") + error, {}, MessageIcon::Warning);
        return;
    }
    m_plan = {};
    m_ui->存入按钮->setEnabled(false);
    setStatus(QStringLiteral("已存入 %1 张照片").arg(stored));
    m_context.dialogs.message(this, QStringLiteral("已存入 %1 张照片").arg(stored));
}

void PhotoStandardsWindow::addRow(const QString& student, const QString& file, const QString& result,
                                  const QImage& photo, bool problem)
{
    auto* row = new QTreeWidgetItem(m_ui->结果列表, {student, file, result});
    if (!photo.isNull())
        row->setIcon(0, QIcon(QPixmap::fromImage(photo.scaled(m_ui->结果列表->iconSize(), Qt::KeepAspectRatio,
                                                              Qt::SmoothTransformation))));
    row->setToolTip(2, result);
    if (problem)
        row->setForeground(2, QColor(180, 0, 0));
}

void PhotoStandardsWindow::setStatus(const QString& text) { m_ui->状态标签->setText(text); }
