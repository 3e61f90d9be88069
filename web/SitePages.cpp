// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/SitePages.h"

#include "platform/Gbk.h"
#include "platform/ProgramFolder.h"
#include "platform/SafeFile.h"

namespace SitePages {

QByteArray homePage(const QString& title)
{
    return gbk::encode(title);
}

QByteArray editPage(const QString& options)
{
    return gbk::encode(options);
}

bool write(const QString& appFolder, const QString& title, const QString& options, QString* error)
{
    const QString folder = ProgramFolder::databaseFolder(appFolder);
    return SafeFile::write(folder + QStringLiteral("/index.asp"), homePage(title), error)
           && SafeFile::write(folder + QStringLiteral("/h2.asp"), editPage(options), error);
}

} // namespace SitePages
