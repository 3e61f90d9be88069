// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "server/engine/Ast.h"
#include "server/engine/ScriptError.h"

#include <QString>

#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <variant>

namespace asp {

// The parsed pages of a site, each kept until its file or one of its includes changes on
// disk (the desktop program regenerates the pages while the server runs). A page that does
// not parse keeps its error the same way, so it is not parsed again for every request.
class PageCache {
public:
    explicit PageCache(QString siteRoot);

    using Entry = std::variant<std::shared_ptr<const Program>, ScriptError>;
    // Nothing when the page does not exist or lies outside the site.
    std::optional<Entry> page(const QString& sitePath);
    // The page when it is kept and still the very file it was read from.
    std::optional<Entry> current(const QString& sitePath);

    // The file of a site path, on disk, when it exists inside the site: no "..", no link that
    // leads out of it.
    std::optional<QString> fileOf(const QString& sitePath) const;
    // The same file with every link resolved: what the path really reaches.
    std::optional<QString> realFileOf(const QString& sitePath) const;

    const QString& siteRoot() const { return m_root; }

private:
    struct Signature {
        qint64 size = -1;
        qint64 modified = 0; // nanoseconds
        quint64 inode = 0;
        bool operator==(const Signature&) const = default;
    };
    struct Cached {
        Entry entry;
        std::vector<std::pair<QString, Signature>> files;
    };

    std::optional<Signature> signature(const QString& sitePath) const;
    static std::optional<Signature> signatureOf(const QString& file);
    bool current(const Cached& cached) const;
    Cached build(const QString& sitePath, const QByteArray& bytes) const;

    QString m_root;     // as given, used in paths handed to pages
    QString m_realRoot; // with links resolved, to check what a path reaches
    std::mutex m_mutex;
    std::unordered_map<QString, std::shared_ptr<const Cached>> m_pages;
};

} // namespace asp
