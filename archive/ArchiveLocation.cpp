// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/ArchiveLocation.h"

#include "archive/ProgramFolder.h"
#include "formats/IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHashFunctions>
#include <QUrl>
#include <QUrlQuery>

#include <sys/stat.h>

#include <mutex>
#include <tuple>
#include <unordered_map>

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

// The web server asks for every page it runs: the file is read again only once it has
// changed (it is always replaced whole, so a new inode or time says so).
QString configuredServer(const QString& appFolder)
{
    using Signature = std::tuple<bool, ino_t, off_t, long long>;
    static std::mutex mutex;
    static std::unordered_map<QString, std::pair<Signature, QString>> known;

    const QString file = ProgramFolder::settingsFile(appFolder);
    struct stat info {};
    const bool exists = ::stat(QFile::encodeName(file).constData(), &info) == 0;
    const Signature signature = exists ? Signature(true, info.st_ino, info.st_size,
                                                   info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec)
                                       : Signature();
    {
        std::lock_guard lock(mutex);
        if (const auto it = known.find(file); it != known.end() && it->second.first == signature)
            return it->second.second;
    }
    const QString value = IniFile::read(file, u"sys", u"数据库").trimmed();
    const QString server = isServerAddress(value) ? value : QString();
    std::lock_guard lock(mutex);
    if (known.size() > 64)
        known.clear();
    known[file] = {signature, server};
    return server;
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
