// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/MainWindow.h"

#include "ui_MainWindow.h"

#include "app/StartupCheck.h"
#include "archive/ProgramFolder.h"
#include "archive/ProgramFolderSetup.h"
#include "archive/StudentTable.h"
#include "archive/jet/JetFile.h"
#include "archive/workbook/WorkbookSource.h"
#include "desktop/OffThread.h"
#include "desktop/Shell.h"
#include "desktop/SpreadsheetApp.h"
#include "exchange/AccessConversion.h"
#include "exchange/Roster.h"
#include "formats/IniFile.h"
#include "formats/workbook/NewWorkbook.h"
#include "records/RecordEntry.h"
#include "web/ClassAccounts.h"
#include "widgets/AppContext.h"
#include "widgets/Dialogs.h"
#include "widgets/Navigator.h"
#include "widgets/WaitCursor.h"

#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QMouseEvent>

MainWindow::MainWindow(AppContext& context, QWidget* parent)
    : QMainWindow(parent)
    , m_context(context)
    , m_ui(std::make_unique<Ui::MainWindow>())
    , m_capture(QImage(QStringLiteral(":/images/placeholder.jpg")))
{
    m_ui->setupUi(this);
    m_ui->数据列表框->setColumnWidth(0, 80);
    m_ui->数据列表框->setColumnWidth(1, 70);
    m_ui->数据列表框->setColumnWidth(2, 150);
    m_ui->透明标签5->installEventFilter(this);

    m_context.appFolder = ProgramFolder::locate();
    // An archive copied across from Windows is still an Access file: offered for conversion
    // before anything opens it.
    if (JetFile::isJetFile(m_context.databaseFile()))
        AccessConversion::offer(m_context, this);
    showWaitCursorWhileLocked(m_database);
    const bool opened = StudentTable::openArchive(m_database, m_context.databaseFile());
    new StartupCheck(m_context, m_database, opened, this);
    loadClassList();
    refillClassSelectors();
    connect(&m_context, &AppContext::classListChanged, this, &MainWindow::refillClassSelectors);

    m_ui->视频设备1->switchOn();
    m_autoFraming = IniFile::read(m_context.settingsFile(), u"sys", u"自动框选") != u"假";

    m_students.attach(m_database);
    m_students.open(StudentTable::selectAll);

    m_ui->数据列表框->setCurrentCell(0, 0);
    m_rosterSelection.row = 0;

    showCapture();
    m_context.entryPhoto = [this] { return m_capture.entryPhoto(); };

    showWebAddress();
    watchSettingsFile();
    connectNavigation();
    connectEntry();
    connectRoster();
}

// The record editor may outlive this window; it must not reach a crop that is gone.
MainWindow::~MainWindow() { m_context.entryPhoto = nullptr; }

void MainWindow::loadClassList()
{
    QStringList names;
    for (const ClassAccount& account : ClassAccounts::load(m_database))
        names << account.单位;
    m_context.classList = names;
}

void MainWindow::refillClassSelectors()
{
    for (QComboBox* selector : {m_ui->编辑框2, m_ui->组合框1}) {
        selector->clear();
        selector->addItems(m_context.classList);
        selector->setCurrentIndex(m_context.classList.isEmpty() ? -1 : 0);
    }
}

void MainWindow::connectNavigation()
{
    const auto opener = [this](WindowKind kind) {
        return [this, kind] { m_context.navigator.open(kind, this); };
    };
    connect(m_ui->按钮7, &QPushButton::clicked, this, opener(WindowKind::RecordEditor));
    connect(m_ui->按钮8, &QPushButton::clicked, this, opener(WindowKind::WebSettings));
    connect(m_ui->数据管理, &QAction::triggered, this, opener(WindowKind::RecordEditor));
    connect(m_ui->WEB设置, &QAction::triggered, this, opener(WindowKind::WebSettings));
    connect(m_ui->证件设计, &QAction::triggered, this, opener(WindowKind::CardDesigner));
    connect(m_ui->数据库管理, &QAction::triggered, this, opener(WindowKind::DatabaseAdmin));
    connect(m_ui->班级管理员, &QAction::triggered, this, opener(WindowKind::ClassAdmin));
    connect(m_ui->照片规格, &QAction::triggered, this, opener(WindowKind::PhotoStandards));
    connect(m_ui->按钮4, &QPushButton::clicked, this, &MainWindow::startWebServer);
}

void MainWindow::connectEntry()
{
    connect(m_ui->画板1, &Canvas::mousePressed, &m_capture, &CaptureArea::mousePressed);
    connect(m_ui->画板1, &Canvas::mouseReleased, &m_capture, &CaptureArea::mouseReleased);
    connect(m_ui->画板1, &Canvas::mouseMoved, &m_capture, &CaptureArea::mouseMoved);
    connect(&m_capture, &CaptureArea::changed, this, &MainWindow::showCapture);
    connect(&m_capture, &CaptureArea::framingFinished, this, &MainWindow::showFramingHint);
    connect(m_ui->按钮1, &QPushButton::clicked, this, &MainWindow::grabFrame);
    connect(m_ui->表, &QCheckBox::toggled, this, &MainWindow::switchTableInputMode);
    connect(m_ui->数据列表框, &QTableWidget::currentCellChanged, this, &MainWindow::rosterRowSelected);
    // Ticking 表格输入 empties the form while a row stays current; a click on that row must
    // take it again, though the current row does not change.
    connect(m_ui->数据列表框, &QTableWidget::cellClicked, this, &MainWindow::rosterRowSelected);
    connect(m_ui->按钮2, &QPushButton::clicked, this, &MainWindow::saveStudent);
}

void MainWindow::grabFrame()
{
    m_capture.replaceSourceImage(m_ui->视频设备1->grabFrame());
    if (m_capture.sourceImage().isNull()) {
        // Said where the operator looks after pressing, not only in the video area.
        showFramingHint(m_ui->视频设备1->statusText());
        return;
    }
    m_ui->状态条1->clearMessage();
    if (m_autoFraming)
        m_capture.frameFace();
}

void MainWindow::showFramingHint(const QString& hint)
{
    if (hint.isEmpty())
        m_ui->状态条1->clearMessage();
    else
        m_ui->状态条1->showMessage(hint);
}

void MainWindow::showCapture()
{
    m_ui->画板2->setImage(m_capture.bufferCanvas());
    m_ui->画板1->setImage(m_capture.displayCanvas());
    m_ui->画板3->setImage(m_capture.cropCanvas());
    if (!m_capture.hasEntryPhoto())
        m_ui->图片框1->clear();
    else
        // The box is not quite of the crop's shape: fit the crop in, never squeeze it.
        m_ui->图片框1->setPixmap(QPixmap::fromImage(m_capture.cropCanvas().scaled(
            m_ui->图片框1->contentsRect().size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

void MainWindow::switchTableInputMode(bool rosterEntry)
{
    m_ui->编辑框1->clear();
    m_ui->编辑框2->setEditText({});
    m_ui->数据列表框->setEnabled(rosterEntry);
    m_ui->编辑框2->setEnabled(!rosterEntry);
    m_ui->编辑框1->setReadOnly(rosterEntry);
}

void MainWindow::rosterRowSelected(int row)
{
    if (row >= 0)
        takeRosterRow(row);
}

// Fills the form from a roster row; row -1 (no row) empties it.
void MainWindow::takeRosterRow(int row)
{
    const auto cell = [this, row](int column) {
        const QTableWidgetItem* item = row < 0 ? nullptr : m_ui->数据列表框->item(row, column);
        return item ? item->text() : QString();
    };
    m_ui->编辑框1->setText(cell(1));
    m_ui->编辑框2->setEditText(cell(0));
    m_rosterSelection.number = cell(2);
    m_rosterSelection.row = row;
}

// The saved student leaves the roster and the one after it (or the first, after the last)
// comes into the form.
void MainWindow::advanceRoster()
{
    QTableWidget* roster = m_ui->数据列表框;
    const int saved = m_rosterSelection.row;
    if (saved >= 0 && saved < roster->rowCount())
        roster->removeRow(saved);
    int next = saved >= 0 && saved < roster->rowCount() ? saved : 0;
    if (next >= roster->rowCount())
        next = -1;
    roster->setCurrentCell(next, 0);
    takeRosterRow(next);
}

void MainWindow::saveStudent()
{
    const NewStudent student{m_ui->编辑框1->text(), m_ui->编辑框2->currentText(), m_rosterSelection.number,
                             m_capture.entryPhoto()};
    const QString refusal = RecordEntry::refusal(student);
    if (!refusal.isEmpty()) {
        m_context.dialogs.message(this, refusal, QStringLiteral("错误信息"), MessageIcon::Warning);
        return;
    }
    // A refused write keeps the form as it is, so nothing typed or framed is lost.
    QString error;
    if (!RecordEntry::append(m_students, student, &error)) {
        m_context.dialogs.message(this, QStringLiteral("保存失败：") + error, QStringLiteral("错误信息"),
                                  MessageIcon::Warning);
        return;
    }
    // The student is stored either way; a roster that kept the row is said once, since the
    // student would otherwise come back at the next load unnoticed.
    QString rosterProblem;
    if (m_ui->表->isChecked()) {
        markRosterRowDone(student.className, student.name, student.number, &rosterProblem);
        advanceRoster();
    } else {
        m_ui->编辑框1->clear();
    }
    m_capture.clearEntryPhoto();
    if (!rosterProblem.isEmpty())
        m_context.dialogs.message(this, QStringLiteral("学生已保存，但名单文件无法更新：") + rosterProblem,
                                  QStringLiteral("错误信息"), MessageIcon::Warning);
    else
        m_context.dialogs.message(this, QStringLiteral("保存成功"), QStringLiteral("文件信息"),
                                  MessageIcon::Information);
}

QString MainWindow::webAddress() const
{
    const int port = ProgramFolder::webServerPort(m_context.appFolder);
    const QString address = QStringLiteral("http://") + m_context.shell.localAddress();
    return port == 80 ? address : address + u':' + QString::number(port);
}

void MainWindow::showWebAddress() { m_ui->透明标签5->setText(QStringLiteral("WEB网址：") + webAddress()); }

// The port lives in sys.ini, which people change by hand or from another program while the
// window is open; the label follows at once. Saving replaces the file, which ends a watch on
// the file itself, so the folder is watched too.
void MainWindow::watchSettingsFile()
{
    auto* watcher = new QFileSystemWatcher(this);
    const QString settings = m_context.settingsFile();
    if (QFileInfo(m_context.appFolder).isDir())
        watcher->addPath(m_context.appFolder);
    if (QFileInfo::exists(settings))
        watcher->addPath(settings);
    const auto follow = [this, watcher, settings] {
        if (QFileInfo::exists(settings) && !watcher->files().contains(settings))
            watcher->addPath(settings);
        showWebAddress();
    };
    connect(watcher, &QFileSystemWatcher::fileChanged, this, follow);
    connect(watcher, &QFileSystemWatcher::directoryChanged, this, follow);
}

void MainWindow::startWebServer()
{
    showWebAddress();
    const QString program = ProgramFolder::webServerProgram(m_context.appFolder);
    if (!QFileInfo(program).isExecutable()) {
        reportWebServerFailure(QStringLiteral("找不到网页服务器程序：") + program);
        return;
    }
    // The server answers once it holds its port (or why it cannot), then serves on by itself.
    // An installed server lies beside the installed program; the archive it must serve is
    // the one this window uses, on the port of this folder's settings.
    const QString site = ProgramFolder::databaseFolder(m_context.appFolder);
    const QStringList arguments{QStringLiteral("--root"), site, QStringLiteral("--port"),
                                QString::number(ProgramFolder::webServerPort(m_context.appFolder)),
                                QStringLiteral("--background")};
    ProgramResult result;
    m_ui->状态条1->showMessage(QStringLiteral("正在启动网页服务器……"));
    OffThread::run([&] { result = m_context.shell.run(program, arguments, site, 10000); });
    if (result.finished && result.exitCode == 0) {
        m_ui->状态条1->showMessage(QStringLiteral("网页服务器已启动：") + webAddress());
        return;
    }
    QString reason = result.errorOutput.trimmed();
    if (reason.isEmpty())
        reason = result.finished ? program : QStringLiteral("程序没有回应：") + program;
    reportWebServerFailure(QStringLiteral("网页服务器没有启动：") + reason);
}

void MainWindow::reportWebServerFailure(const QString& reason)
{
    m_ui->状态条1->showMessage(reason);
    m_context.dialogs.message(this, reason, QStringLiteral("错误信息"), MessageIcon::Warning);
}

void MainWindow::openWebAddress()
{
    showWebAddress();
    const QString address = webAddress();
    if (!m_context.shell.openUrl(address))
        m_context.dialogs.message(
            this, QStringLiteral("找不到可以打开网页的浏览器。请在浏览器中输入这个网址：") + address,
            QStringLiteral("错误信息"), MessageIcon::Warning);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_ui->透明标签5 && event->type() == QEvent::MouseButtonPress
        && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        openWebAddress();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::connectRoster()
{
    connect(m_ui->按钮9, &QPushButton::clicked, this, &MainWindow::makeRosterTemplate);
    connect(m_ui->按钮3, &QPushButton::clicked, this, &MainWindow::loadChosenRoster);
    connect(m_ui->按钮6, &QPushButton::clicked, this, &MainWindow::showWholeRoster);
    connect(m_ui->按钮5, &QPushButton::clicked, this, &MainWindow::showRosterClass);
}

void MainWindow::makeRosterTemplate()
{
    SpreadsheetApp spreadsheet(m_context.shell);
    if (!spreadsheet.isInstalled()) {
        m_context.dialogs.message(this, QStringLiteral("你没有安装EXCEL程序，请安装后再查看"), {},
                                  MessageIcon::Warning);
        return;
    }
    QString error;
    if (!spreadsheet.open(Roster::blankRoster(), QStringLiteral("学生名单模板"), &error))
        m_context.dialogs.message(this, QStringLiteral("名单模板没有打开：") + error,
                                  QStringLiteral("错误信息"), MessageIcon::Warning);
}

void MainWindow::loadChosenRoster()
{
    const QString path = m_context.dialogs.openFile(this, QStringLiteral("选择学生名单"),
                                                    QStringLiteral("EXCEL (*.xls *.xlsx)"), m_chosenRoster);
    if (path.isEmpty())
        return;
    m_chosenRoster = path;
    m_ui->数据列表框->setRowCount(0);
    bool opened = false;
    OffThread::run([&] {
        opened = m_rosterWorkbook.openConnectionString(Roster::readConnection(path), WorkbookSource::open);
        m_roster.attach(m_rosterWorkbook);
        m_roster.open(Roster::wholeRoster);
    });
    if (Roster::hasRosterHeader(m_roster)) {
        fillRosterList();
        m_rosterWorkbook.close();
        m_roster.close();
        m_rosterFile = path;
        selectFirstRosterRow();
        return;
    }
    // A file that is no workbook at all is not refused for its header.
    const QString reason = m_rosterWorkbook.lastError();
    m_rosterWorkbook.close();
    m_roster.close();
    if (!opened)
        m_context.dialogs.message(this, QStringLiteral("名单文件读不出来：") + reason,
                                  QStringLiteral("错误信息"), MessageIcon::Warning);
    else
        m_context.dialogs.message(this, QStringLiteral("请以“姓名”“班级”“编号”为表头！"), {},
                                  MessageIcon::Warning);
}

void MainWindow::showWholeRoster() { showFixedRoster(Roster::wholeRoster); }

void MainWindow::showRosterClass() { showFixedRoster(Roster::classRoster(m_ui->组合框1->currentText())); }

// The fixed roster is taken as it is: no header check, and a missing file only empties the
// list (the status bar says why).
void MainWindow::showFixedRoster(const QString& sql)
{
    const QString path = Roster::fixedFile(m_context.appFolder);
    m_ui->数据列表框->setRowCount(0);
    bool opened = false;
    OffThread::run([&] {
        opened = m_rosterWorkbook.openConnectionString(Roster::readConnection(path), WorkbookSource::open);
        m_roster.attach(m_rosterWorkbook);
        m_roster.open(sql);
    });
    if (opened)
        m_ui->状态条1->clearMessage();
    else
        m_ui->状态条1->showMessage(m_rosterWorkbook.lastError());
    fillRosterList();
    m_rosterWorkbook.close();
    m_roster.close();
    m_rosterFile = path;
    selectFirstRosterRow();
}

void MainWindow::fillRosterList()
{
    m_roster.moveFirst();
    m_ui->编辑框1->setText(m_roster.readText(u"姓名"));
    m_ui->编辑框2->setEditText(m_roster.readText(u"班级"));
    m_rosterSelection.number = m_roster.readText(u"编号");

    QTableWidget* list = m_ui->数据列表框;
    const int count = m_roster.recordCount();
    list->setUpdatesEnabled(false);
    list->setRowCount(count);
    for (int i = 0; i < count; ++i) {
        list->setItem(i, 0, new QTableWidgetItem(m_roster.readText(u"班级")));
        list->setItem(i, 1, new QTableWidgetItem(m_roster.readText(u"姓名")));
        list->setItem(i, 2, new QTableWidgetItem(m_roster.readText(u"编号")));
        m_roster.moveNext();
    }
    list->setUpdatesEnabled(true);
    m_roster.moveFirst();
}

void MainWindow::selectFirstRosterRow()
{
    QTableWidget* list = m_ui->数据列表框;
    if (list->rowCount() > 0) {
        list->setCurrentCell(0, 0);
        takeRosterRow(0); // also when row 0 was current already and no change was signalled
        list->scrollToItem(list->item(0, 0));
    }
    m_rosterSelection.row = 0;
}

bool MainWindow::markRosterRowDone(const QString& className, const QString& name, const QString& number,
                                   QString* error)
{
    QString reason;
    bool done = false;
    // Rewriting a large workbook takes a while; the window goes on painting meanwhile.
    OffThread::run([&] { done = Roster::markDone(m_rosterFile, className, name, number, &reason); });
    if (error)
        *error = reason;
    return done;
}
