// SPDX-License-Identifier: GPL-3.0-or-later
// Lays down the pages the default web settings generate (DB/index.asp, DB/h2.asp) in a
// program folder that has none yet, so its site works before anyone presses "保存". A page
// that exists is the school's own and is left alone.
#include "web/SitePages.h"
#include "archive/ProgramFolder.h"
#include "formats/SafeFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        QTextStream(stderr) << "用法：qinghe-sitepages 程序文件夹\n";
        return 2;
    }
    const QString folder = ProgramFolder::databaseFolder(QDir(args[1]).absolutePath());
    QDir().mkpath(folder);
    const std::pair<QString, QByteArray> pages[] = {
        {folder + QStringLiteral("/index.asp"), SitePages::homePage(SitePages::defaultTitle)},
        {folder + QStringLiteral("/h2.asp"), SitePages::editPage(SitePages::defaultOptions)},
    };
    for (const auto& [path, bytes] : pages) {
        if (QFileInfo::exists(path))
            continue;
        QString error;
        if (!SafeFile::write(path, bytes, &error)) {
            QTextStream(stderr) << "无法写入 " << path << "：" << error << '\n';
            return 1;
        }
    }
    return 0;
}
