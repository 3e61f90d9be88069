// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/MainWindow.h"
#include "app/WindowCatalogue.h"
#include "tests/support/TestFolder.h"
#include "tests/support/TestServices.h"

#include <QAction>
#include <QPushButton>
#include <QTest>

// Every way of opening a window opens the right one, with its caption, size and mode.
class CatalogueTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void mainWindowOpens_data();
    void mainWindowOpens();
    void windowsOpenWindows_data();
    void windowsOpenWindows();
    void eachOpeningIsANewWindow();

private:
    std::unique_ptr<TestFolder> m_folder;
    std::unique_ptr<TestServices> m_services;
    std::unique_ptr<MainWindow> m_main;
};

void CatalogueTest::init()
{
    m_folder = std::make_unique<TestFolder>();
    m_services = std::make_unique<TestServices>();
    m_services->navigator.setFactory(
        [this](WindowKind kind) { return createWindow(m_services->context, kind); });
    m_main = std::make_unique<MainWindow>(m_services->context);
    m_main->show();
}

void CatalogueTest::cleanup()
{
    for (const auto& opening : m_services->navigator.openings)
        delete opening.window.data();
    m_main.reset();
    m_services.reset();
    m_folder.reset();
}

void CatalogueTest::mainWindowOpens_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("modal");
    QTest::newRow("按钮7") << "按钮7"
                           << "RecordEditorWindow"
                           << "数据修改" << QSize(810, 504) << false;
    QTest::newRow("menu 数据管理") << "数据管理"
                                   << "RecordEditorWindow"
                                   << "数据修改" << QSize(810, 504) << false;
    QTest::newRow("按钮8") << "按钮8"
                           << "WebSettingsWindow"
                           << "WEB设置" << QSize(447, 250) << false;
    QTest::newRow("menu WEB设置") << "WEB设置"
                                  << "WebSettingsWindow"
                                  << "WEB设置" << QSize(447, 250) << false;
    QTest::newRow("menu 证件设计") << "证件设计"
                                   << "CardDesignerWindow"
                                   << "证件设计" << QSize(1010, 454) << true;
    QTest::newRow("menu 数据库管理") << "数据库管理"
                                     << "DatabaseAdminWindow"
                                     << "数据库管理" << QSize(321, 248) << true;
    QTest::newRow("menu 班级管理员") << "班级管理员"
                                     << "ClassAdminWindow"
                                     << "班级管理员" << QSize(325, 302) << true;
    QTest::newRow("menu 照片规格") << "照片规格"
                                   << "PhotoStandardsWindow"
                                   << "照片规格" << QSize(760, 560) << false;
}

void CatalogueTest::mainWindowOpens()
{
    QFETCH(QString, control);
    QFETCH(QString, className);
    QFETCH(QString, caption);
    QFETCH(QSize, size);
    QFETCH(bool, modal);

    if (auto* button = m_main->findChild<QPushButton*>(control))
        button->click();
    else
        m_main->findChild<QAction*>(control)->trigger();

    const auto& openings = m_services->navigator.openings;
    QCOMPARE(openings.size(), 1);
    QCOMPARE(openings[0].className, className);
    QCOMPARE(openings[0].modal, modal);
    // Owned windows belong to the main window; modal ones have no owner.
    QCOMPARE(openings[0].owner, modal ? nullptr : static_cast<QWidget*>(m_main.get()));
    QVERIFY(openings[0].window->isWindow());
    QCOMPARE(openings[0].window->windowTitle(), caption);
    QCOMPARE(openings[0].window->size(), size);
    QCOMPARE(openings[0].window->windowModality(), modal ? Qt::ApplicationModal : Qt::NonModal);
    QVERIFY(openings[0].window->testAttribute(Qt::WA_DeleteOnClose));
    // A modal window is a dialog of the window it blocks, so the window manager keeps it on top.
    if (modal) {
        QCOMPARE(openings[0].window->windowType(), Qt::Dialog);
        QCOMPARE(openings[0].window->windowHandle()->transientParent(), m_main->windowHandle());
    }
}

void CatalogueTest::windowsOpenWindows_data()
{
    QTest::addColumn<WindowKind>("from");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QSize>("size");
    QTest::newRow("editor 按钮12") << WindowKind::RecordEditor << "按钮12"
                                   << "DatabaseAdminWindow"
                                   << "数据库管理" << QSize(321, 248);
    QTest::newRow("designer 按钮6") << WindowKind::CardDesigner << "按钮6"
                                    << "CardPreviewWindow"
                                    << "证件预览" << QSize(969, 702);
}

void CatalogueTest::windowsOpenWindows()
{
    QFETCH(WindowKind, from);
    QFETCH(QString, button);
    QFETCH(QString, className);
    QFETCH(QString, caption);
    QFETCH(QSize, size);

    QWidget* opener = m_services->navigator.open(from, m_main.get());
    QVERIFY(opener);
    opener->findChild<QPushButton*>(button)->click();
    const auto& openings = m_services->navigator.openings;
    QCOMPARE(openings.size(), 2);
    QCOMPARE(openings[1].className, className);
    QVERIFY(openings[1].modal);
    QCOMPARE(openings[1].owner, nullptr);
    QCOMPARE(openings[1].window->windowTitle(), caption);
    QCOMPARE(openings[1].window->size(), size);
    QCOMPARE(openings[1].window->windowHandle()->transientParent(), opener->windowHandle());
}

void CatalogueTest::eachOpeningIsANewWindow()
{
    auto* button = m_main->findChild<QPushButton*>("按钮7");
    button->click();
    QPointer<QWidget> first = m_services->navigator.openings[0].window;
    first->close();
    QVERIFY(QTest::qWaitFor([&] { return first.isNull(); }));
    button->click();
    QCOMPARE(m_services->navigator.openings.size(), 2);
    QVERIFY(m_services->navigator.openings[1].window);
}

QTEST_MAIN(CatalogueTest)
#include "tst_catalogue.moc"
