// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "server/RefusalThrottle.h"
#include "server/SessionStore.h"
#include "server/engine/Engine.h"

#include <httplib.h>

#include <QString>

#include <atomic>
#include <mutex>
#include <unordered_map>

// What keeps one client from starving the rest: time limits on each part of a request, not
// caps per address, since a school's computer room or Wi-Fi gateway is one address.
struct ServerLimits {
    size_t workers = 32;                 // requests run at once; the others wait their turn
    size_t maxWaitingConnections = 4000; // open connections between requests; beyond, 503
    size_t maxRequestLineBytes = 16 * 1024;
    size_t maxHeaderBytes = 16 * 1024;
    size_t maxBodyBytes = 1 << 20;
    int keepAliveSeconds = 5; // an idle connection between requests
    int headerSeconds = 10;   // a request's headers must all arrive within this
    int bodySeconds = 30;     // and its body within this
    int readTimeoutSeconds = 5;
};

class ConnectionGate;

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
    // Replaces the library's own connection loop: connections wait in the gate between
    // requests, and a worker serves one request at a time.
    bool process_and_close_socket(socket_t sock) override;
    void serveConnection(int sock, std::string buffered);

    void handle(const httplib::Request& req, httplib::Response& res, const std::string& body);
    bool refuseUnreadableForm(const httplib::Request& req, httplib::Response& res);
    void servePage(const QString& sitePath, const QByteArray& query, const httplib::Request& req,
                   httplib::Response& res, const std::string& body);
    void serveFile(const QString& sitePath, httplib::Response& res);

    asp::Engine m_engine;
    SessionStore m_sessions;
    RefusalThrottle m_throttle;
    ServerLimits m_limits;
    int m_port = 0;
    std::unique_ptr<httplib::TaskQueue> m_workers;
    std::unique_ptr<ConnectionGate> m_gate;
};

// What answers the port: our own server (already running) or something else.
bool isOwnServerListening(int port);
