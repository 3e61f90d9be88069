// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "server/engine/Page.h"
#include "server/engine/PageCache.h"

namespace asp {

// Runs the classic ASP pages of one site folder. Safe to call from many threads at once.
class Engine {
public:
    explicit Engine(const QString& siteRoot);

    // False when there is no such page (the server answers 404). A page that fails answers
    // 500 with the file, the line and the reason, as classic ASP shows them.
    bool run(const QString& sitePath, const PageRequest& request, SessionProvider* sessions,
             PageResponse& response);
    // The same for a page already taken from the cache.
    void run(const PageCache::Entry& page, const QString& sitePath, const PageRequest& request,
             SessionProvider* sessions, PageResponse& response);

    PageCache& cache() { return m_cache; }

    // How long a page may run before it is stopped.
    void setTimeLimit(int milliseconds) { m_timeLimit = milliseconds; }

private:
    PageCache m_cache;
    ApplicationState m_application;
    int m_timeLimit = 30000;
};

// The HTML of the error classic ASP shows.
QByteArray errorPage(const ScriptError& error);

} // namespace asp
