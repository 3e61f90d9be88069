// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CommandLine.h"
#include "app/Language.h"
#include "app/MainWindow.h"
#include "app/WindowCatalogue.h"
#include "desktop/Shell.h"
#include "formats/graphics/Fonts.h"
#include "widgets/AppContext.h"
#include "widgets/Dialogs.h"
#include "widgets/Navigator.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[])
{
    const CommandLine::Choice choice = CommandLine::choose(CommandLine::arguments(argc, argv));
    if (choice.exitCode)
        return *choice.exitCode;
    if (choice.command)
        return CommandLine::run(choice, argc, argv);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("青禾名录"));
    // Lets the desktop match the window to its menu entry (its icon, its name in the task bar).
    QGuiApplication::setDesktopFileName(QStringLiteral("qinghe"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/qinghe.png")));
    installFontSubstitutes();
    useSimplifiedChinese(app);

    DesktopDialogs dialogs;
    DesktopNavigator navigator;
    DesktopShell shell;
    AppContext context(dialogs, navigator, shell);
    navigator.setFactory([&context](WindowKind kind) { return createWindow(context, kind); });

    MainWindow window(context);
    window.move(50, 50);
    window.show();
    return app.exec();
}
