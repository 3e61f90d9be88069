// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/engine/PageCache.h"

#include "server/engine/Parser.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace asp {

namespace {

constexpr size_t maxCachedPages = 256;
constexpr qint64 maxPageBytes = 4 << 20;

} // namespace

PageCache::PageCache(QString siteRoot)
    : m_root(QDir::cleanPath(QDir(siteRoot).absolutePath()))
    , m_realRoot(QFileInfo(m_root).canonicalFilePath())
{
}

std::optional<QString> PageCache::realFileOf(const QString& sitePath) const
{
    if (!sitePath.startsWith(u'/') || sitePath.contains(u'\\') || sitePath.contains(QChar(0)))
        return std::nullopt;
    for (const QStringView part : QStringView(sitePath).split(u'/')) {
        if (part == u"..")
            return std::nullopt;
    }
    const QString real = QFileInfo(m_root + sitePath).canonicalFilePath();
    if (real.isEmpty() || m_realRoot.isEmpty() || !(real.startsWith(m_realRoot + u'/') || real == m_realRoot))
        return std::nullopt;
    return real;
}

std::optional<QString> PageCache::fileOf(const QString& sitePath) const
{
    if (!realFileOf(sitePath))
        return std::nullopt;
    return m_root + sitePath;
}

std::optional<PageCache::Signature> PageCache::signatureOf(const QString& file)
{
    struct stat info {};
    if (::stat(QFile::encodeName(file).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return Signature{qint64(info.st_size), qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec,
                     quint64(info.st_ino)};
}

std::optional<PageCache::Signature> PageCache::signature(const QString& sitePath) const
{
    const auto file = fileOf(sitePath);
    return file ? signatureOf(*file) : std::nullopt;
}

// A kept page stays only while each of its files is the very file it was read from: a link
// put in its place, or a page replaced, is another file (another inode or time), which is
// then checked from the start. So a request needs no walk through the path's links.
bool PageCache::current(const Cached& cached) const
{
    for (const auto& [path, sig] : cached.files) {
        if (signatureOf(m_root + path) != sig)
            return false;
    }
    return true;
}

PageCache::Cached PageCache::build(const QString& sitePath, const QByteArray& bytes) const
{
    Cached cached;
    std::vector<QString> files{sitePath};
    auto loader = [&](const QString& include) -> std::optional<QByteArray> {
        const auto file = fileOf(include);
        if (!file)
            return std::nullopt;
        QFile f(*file);
        if (f.size() > maxPageBytes || !f.open(QIODevice::ReadOnly))
            return std::nullopt;
        files.push_back(include);
        return f.readAll();
    };
    try {
        cached.entry = std::shared_ptr<const Program>(parseProgram(scanPage(sitePath, bytes, loader)));
    } catch (const ScriptError& e) {
        cached.entry = e;
    }
    for (const QString& f : files)
        cached.files.emplace_back(f, signature(f).value_or(Signature()));
    return cached;
}

std::optional<PageCache::Entry> PageCache::current(const QString& sitePath)
{
    std::shared_ptr<const Cached> known;
    {
        std::lock_guard lock(m_mutex);
        if (const auto it = m_pages.find(sitePath); it != m_pages.end())
            known = it->second;
    }
    if (!known || !current(*known))
        return std::nullopt;
    return known->entry;
}

std::optional<PageCache::Entry> PageCache::page(const QString& sitePath)
{
    std::shared_ptr<const Cached> known;
    {
        std::lock_guard lock(m_mutex);
        if (const auto it = m_pages.find(sitePath); it != m_pages.end())
            known = it->second;
    }
    if (known && current(*known))
        return known->entry;

    // The signature is taken before reading, so a page rewritten meanwhile is read again next time.
    const auto sig = signature(sitePath);
    if (!sig)
        return std::nullopt;
    QFile file(*fileOf(sitePath));
    if (sig->size > maxPageBytes || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    auto cached = std::make_shared<Cached>(build(sitePath, file.readAll()));
    cached->files.front().second = *sig;

    std::lock_guard lock(m_mutex);
    if (m_pages.size() >= maxCachedPages)
        m_pages.clear();
    m_pages[sitePath] = cached;
    return cached->entry;
}

} // namespace asp
