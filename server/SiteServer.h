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

// What keeps one client from starving the rest.
struct ServerLimits {
    size_t maxConnections = 64;
    size_t maxConnectionsPerAddress = 16;
    size_t maxHeaderBytes = 16 * 1024;
    size_t maxBodyBytes = 1 << 20;
    int keepAliveSeconds = 5;
    int readTimeoutSeconds = 5;
    int headerSeconds = 10; // a request's headers must all arrive within this
};

// The web server of a site folder: its pages run through the classic-ASP engine, its plain
// files go out with their types, and nothing else of the folder is there.
class SiteServer final : public httplib::Server {
public:
    explicit SiteServer(const QString& siteRoot, ServerLimits limits = {});

    enum class BindError { None, InUse, NoPermission, Other };
    // Port 0 takes any free port; boundPort() tells which.
    BindError bind(const QString& host, int port, QString* reason);
    int boundPort() const { return m_port; }

    asp::Engine& engine() { return m_engine; }

private:
    // Replaces the library's own connection loop, to count each client's connections and
    // the bytes of each request's headers.
    bool process_and_close_socket(socket_t sock) override;

    void handle(const httplib::Request& req, httplib::Response& res, const std::string& body);
    void servePage(const QString& sitePath, const QByteArray& query, const httplib::Request& req,
                   httplib::Response& res, const std::string& body);
    void serveFile(const QString& sitePath, httplib::Response& res);
    bool admit(const std::string& address);
    void release(const std::string& address);

    asp::Engine m_engine;
    SessionStore m_sessions;
    RefusalThrottle m_throttle;
    ServerLimits m_limits;
    int m_port = 0;
    std::mutex m_mutex;
    std::unordered_map<std::string, size_t> m_connections; // by client address
};

// What answers the port: our own server (already running) or something else.
bool isOwnServerListening(int port);
