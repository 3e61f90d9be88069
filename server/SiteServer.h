// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "server/ConnectionGate.h"
#include "server/RefusalThrottle.h"
#include "server/ServerLimits.h"
#include "server/SessionStore.h"
#include "server/engine/Engine.h"

#include <httplib.h>

#include <QString>

#include <memory>

// The web server of a site folder: its pages run through the classic-ASP engine, its plain
// files go out with their types, and nothing else of the folder is there.
class SiteServer final : public httplib::Server {
public:
    explicit SiteServer(const QString& siteRoot, ServerLimits limits = {});
    ~SiteServer() override;

    enum class BindError { None, InUse, NoPermission, Other };
    // Port 0 takes any free port; boundPort() tells which.
    BindError bind(const QString& host, int port, QString* reason);
    int boundPort() const { return m_port; }

    asp::Engine& engine() { return m_engine; }

private:
    // Replaces the library's own connection loop: connections wait in the gate until a
    // request has come whole, and a worker runs that request alone.
    bool process_and_close_socket(socket_t sock) override;
    ConnectionGate::Outcome run(const ArrivedRequest& request);

    void handle(const httplib::Request& req, httplib::Response& res, const std::string& body);
    bool refuseUnreadableForm(const httplib::Request& req, httplib::Response& res);
    // `page`: the page already taken from the cache, when it was.
    void servePage(const QString& sitePath, const QByteArray& query, const httplib::Request& req,
                   httplib::Response& res, const std::string& body,
                   const asp::PageCache::Entry* page = nullptr);
    void serveFile(const QString& sitePath, httplib::Response& res);

    asp::Engine m_engine;
    SessionStore m_sessions;
    RefusalThrottle m_throttle;
    ServerLimits m_limits;
    int m_port = 0;
    std::unique_ptr<ConnectionGate> m_gate;
};

// What answers the port: our own server (already running) or something else.
bool isOwnServerListening(int port);
