// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/journeys/WindowJourney.h"

#include "app/WindowCatalogue.h"
#include "formats/Gbk.h"
#include "tests/support/FacePicture.h"

#include <httplib.h>

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QTreeWidget>

namespace {

// Where the crop frame stands before a face is found.
const QRect unframed(100, 30, 170, 210);

QString cameraPicture(const QString& folder)
{
    const QString path = folder + QStringLiteral("/camera.png");
    if (!FacePicture::frameWithAstronaut(2.8, FacePicture::framePoint({150, 110})).save(path))
        qFatal("cannot write the camera picture");
    return path;
}

} // namespace

Office::Office(const QStringList& classes)
{
    folder.addClasses(classes);
    qputenv("QINGHE_CAMERA_IMAGE", cameraPicture(folder.path()).toUtf8());
    services.navigator.setFactory([this](WindowKind kind) { return createWindow(services.context, kind); });
    main = std::make_unique<MainWindow>(services.context);
    main->show();
}

Office::~Office()
{
    for (const auto& opening : services.navigator.openings)
        delete opening.window.data();
    main.reset();
}

void Office::photograph()
{
    get<QPushButton>("按钮1")->click();
    QTRY_VERIFY_WITH_TIMEOUT(
        FacePicture::shownFrame(*main) != unframed && !FacePicture::shownFrame(*main).isEmpty(), 20000);
}

void Office::enter(const QString& name, const QString& className)
{
    typeText(get<QLineEdit>("编辑框1"), name);
    auto* classes = get<QComboBox>("编辑框2");
    classes->setCurrentIndex(classes->findText(className));
}

QString Office::save()
{
    const qsizetype shown = services.dialogs.shown.size();
    get<QPushButton>("按钮2")->click();
    return services.dialogs.shown.size() > shown ? services.dialogs.last().text : QString();
}

void Office::clickOrTrigger(const QWidget& window, const char* name)
{
    if (auto* button = window.findChild<QPushButton*>(QString::fromUtf8(name)))
        button->click();
    else
        control<QAction>(window, name)->trigger();
}

void Office::close(QWidget* window)
{
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void typeText(QWidget* box, const QString& text)
{
    box->setFocus();
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

QStringList listColumn(const QTreeWidget* list, int column)
{
    QStringList texts;
    for (int row = 0; row < list->topLevelItemCount(); ++row)
        texts << list->topLevelItem(row)->text(column);
    return texts;
}

QStringList shellRows(const QString& file, const QString& sql)
{
    QProcess shell;
    shell.start(QStandardPaths::findExecutable(QStringLiteral("sqlite3")),
                {"-cmd", ".timeout 5000", file, sql});
    if (!shell.waitForFinished(10000) || shell.exitCode() != 0)
        return {QStringLiteral("sqlite3 failed: ") + QString::fromUtf8(shell.readAllStandardError())};
    return QString::fromUtf8(shell.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
}

QString plainCopy(const QString& file, const QString& folder)
{
    const QString copy = folder + u'/' + QFileInfo(file).completeBaseName() + QStringLiteral("-copy.")
                         + QFileInfo(file).suffix();
    QFile::remove(copy);
    if (QProcess::execute(QStringLiteral("cp"), {file, copy}) != 0)
        qFatal("cp failed");
    return copy;
}

OpenShell::OpenShell(const QString& file)
{
    m_shell.start(QStandardPaths::findExecutable(QStringLiteral("sqlite3")), {"-batch", file});
    m_shell.waitForStarted(10000);
}

OpenShell::~OpenShell()
{
    m_shell.closeWriteChannel();
    m_shell.waitForFinished(10000);
}

QStringList OpenShell::query(const QString& sql)
{
    // The rows end at a line of its own, so a query may answer no row at all.
    m_shell.write((sql + QStringLiteral(";\nSELECT 'end of rows';\n")).toUtf8());
    QByteArray out;
    while (!out.contains("end of rows\n") && m_shell.waitForReadyRead(10000))
        out += m_shell.readAllStandardOutput();
    out.chop(qsizetype(sizeof "end of rows\n") - 1);
    return QString::fromUtf8(out).split(u'\n', Qt::SkipEmptyParts);
}

WebServer::WebServer(const QString& dbFolder)
{
    m_process.start(QStringLiteral(QINGHE_ASP_PROGRAM), {"--root", dbFolder, "--port", "0"});
    QByteArray out;
    QElapsedTimer wait;
    wait.start();
    while (!out.contains('\n') && wait.elapsed() < 10000 && m_process.state() != QProcess::NotRunning) {
        m_process.waitForReadyRead(100);
        out += m_process.readAllStandardOutput();
    }
    const auto m = QRegularExpression(QStringLiteral("端口 (\\d+)")).match(QString::fromLocal8Bit(out));
    m_port = m.hasMatch() ? m.captured(1).toInt() : 0;
}

WebServer::~WebServer()
{
    m_process.terminate();
    m_process.waitForFinished(5000);
}

QString WebServer::page(const std::string& path) const
{
    httplib::Client client("127.0.0.1", m_port);
    client.set_read_timeout(10);
    const auto r = client.Get(path);
    expectArchiveLocksHeld(pid(), path.c_str());
    return r && r->status == 200 ? gbk::decode(QByteArray::fromStdString(r->body)) : QString();
}
