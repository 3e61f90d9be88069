// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ArchiveLocation.h"

#include "platform/IniFile.h"
#include "platform/ProgramFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <QUrlQuery>

namespace ArchiveLocation {

namespace {
const QString environmentKey = QStringLiteral("QINGHE_DATABASE");
} // namespace

bool isServerAddress(const QString& location)
{
    const QString text = location.trimmed();
    return text.startsWith(u"postgresql://", Qt::CaseInsensitive)
           || text.startsWith(u"postgres://", Qt::CaseInsensitive);
}

bool carriesPassword(const QString& uri)
{
    const QUrl url(uri.trimmed());
    if (!url.password().isEmpty())
        return true;
    const QUrlQuery query(url);
    for (const auto& [key, value] : query.queryItems())
        if (key.compare(u"password", Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QString configuredServer(const QString& appFolder)
{
    const QString value = IniFile::read(ProgramFolder::settingsFile(appFolder), u"sys", u"数据库").trimmed();
    return isServerAddress(value) ? value : QString();
}

QString serverFor(const QString& databaseFile)
{
    const QFileInfo file(databaseFile);
    const QString folder = file.absolutePath();
    if (file.fileName() != u"学生信息.mdb"
        || QFileInfo(folder).fileName().compare(u"DB", Qt::CaseInsensitive) != 0)
        return {};
    const QString chosen = qEnvironmentVariable(environmentKey.toUtf8().constData()).trimmed();
    if (isServerAddress(chosen))
        return chosen;
    return configuredServer(QFileInfo(folder).absolutePath());
}

QString of(const QString& appFolder)
{
    const QString file = ProgramFolder::databaseFile(appFolder);
    const QString server = serverFor(file);
    return server.isEmpty() ? file : server;
}

bool setServer(const QString& appFolder, const QString& uri, QString* error)
{
    const QString value = uri.trimmed();
    if (!value.isEmpty() && !isServerAddress(value)) {
        if (error)
            *error = QStringLiteral("数据库服务器的地址应以 postgresql:// 开头");
        return false;
    }
    if (carriesPassword(value)) {
        if (error)
            *error = QStringLiteral("地址里不能有密码：密码请写在 ~/.pgpass 文件里");
        return false;
    }
    return IniFile::write(ProgramFolder::settingsFile(appFolder), u"sys", u"数据库", value, error);
}

} // namespace ArchiveLocation
