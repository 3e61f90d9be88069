// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/MainWindow.h"

#include "ui_MainWindow.h"

#include "platform/ProgramFolder.h"
#include "platform/Shell.h"
#include "platform/StudentTable.h"
#include "platform/widgets/AppContext.h"
#include "platform/widgets/Dialogs.h"
#include "platform/widgets/Navigator.h"

#include <QFileInfo>
#include <QMouseEvent>
#include <QPainter>

namespace {
// The password of the original database format; kept so every opening reads the same.
const QString databasePassword = QStringLiteral("2961574");
} // namespace

MainWindow::MainWindow(AppContext& context, QWidget* parent)
    : QMainWindow(parent)
    , m_context(context)
    , m_ui(std::make_unique<Ui::MainWindow>())
{
    m_ui->setupUi(this);
    m_ui->数据列表框->setColumnWidth(0, 80);
    m_ui->数据列表框->setColumnWidth(1, 70);
    m_ui->数据列表框->setColumnWidth(2, 150);
    m_ui->透明标签5->installEventFilter(this);

    m_context.appFolder = ProgramFolder::locate();
    m_database.openDatabaseFile(m_context.databaseFile(), databasePassword);
    loadClassList();
    refillClassSelectors();
    connect(&m_context, &AppContext::classListChanged, this, &MainWindow::refillClassSelectors);

    m_students.attach(m_database);
    m_students.open(StudentTable::selectAll);

    m_ui->数据列表框->setCurrentCell(0, 0);
    m_rosterSelection.row = 0;

    QImage canvas(m_ui->画板1->size(), QImage::Format_RGB32);
    QPainter(&canvas).drawImage(canvas.rect(), QImage(QStringLiteral(":/images/placeholder.jpg")));
    m_ui->画板1->setImage(canvas);

    m_ui->透明标签5->setText(QStringLiteral("WEB网址：") + webAddress());
    connectNavigation();
}

MainWindow::~MainWindow() = default;

void MainWindow::loadClassList()
{
    Recordset classes;
    classes.attach(m_database);
    classes.open(StudentTable::selectClasses);
    QStringList names;
    for (int i = 0, n = classes.recordCount(); i < n; ++i) {
        names << classes.readText(u"单位");
        classes.moveNext();
    }
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
    const auto opener = [this](WindowKind kind) { return [this, kind] { m_context.navigator.open(kind, this); }; };
    connect(m_ui->按钮7, &QPushButton::clicked, this, opener(WindowKind::RecordEditor));
    connect(m_ui->按钮8, &QPushButton::clicked, this, opener(WindowKind::WebSettings));
    connect(m_ui->数据管理, &QAction::triggered, this, opener(WindowKind::RecordEditor));
    connect(m_ui->WEB设置, &QAction::triggered, this, opener(WindowKind::WebSettings));
    connect(m_ui->证件设计, &QAction::triggered, this, opener(WindowKind::CardDesigner));
    connect(m_ui->数据库管理, &QAction::triggered, this, opener(WindowKind::DatabaseAdmin));
    connect(m_ui->班级管理员, &QAction::triggered, this, opener(WindowKind::ClassAdmin));
    connect(m_ui->按钮4, &QPushButton::clicked, this, &MainWindow::startWebServer);
}

QString MainWindow::webAddress() const { return QStringLiteral("http://") + m_context.shell.localAddress(); }

void MainWindow::startWebServer()
{
    const QString program = ProgramFolder::webServerProgram(m_context.appFolder);
    if (!QFileInfo(program).isExecutable()) {
        m_context.dialogs.message(this, QStringLiteral("找不到网页服务器程序：") + program, QStringLiteral("错误信息"),
                                  MessageIcon::Warning);
        return;
    }
    if (!m_context.shell.startDetached(program, {}, ProgramFolder::databaseFolder(m_context.appFolder)))
        m_context.dialogs.message(this, QStringLiteral("网页服务器没有启动：") + program, QStringLiteral("错误信息"),
                                  MessageIcon::Warning);
}

void MainWindow::openWebAddress() { m_context.shell.openUrl(webAddress()); }

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_ui->透明标签5 && event->type() == QEvent::MouseButtonPress
        && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        openWebAddress();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}
