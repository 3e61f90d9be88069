// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "server/engine/Value.h"

#include <QByteArray>
#include <QString>

#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

namespace asp {

using Headers = std::vector<std::pair<QByteArray, QByteArray>>;

// A request as the server hands it to a page: taken apart, not yet decoded.
struct PageRequest {
    QByteArray method = "GET";
    QByteArray query; // as sent, percent-encoded
    QByteArray body;
    Headers headers;
    QString remoteAddress;
    QString localAddress;
    int serverPort = 80;

    QByteArray header(QByteArrayView name) const;
};

// What a page answers; the server turns it into HTTP.
struct PageResponse {
    int status = 200;
    QByteArray reason = "OK";
    QByteArray contentType = "text/html";
    QByteArray charset = "GBK";
    Headers headers; // Location, Set-Cookie and what the page added
    QByteArray body;
};

// One visitor's Session values. The server keeps them between requests and lets one request
// of a session run at a time, so a page reads and writes them without locking.
struct SessionState {
    QString id;
    std::unordered_map<QString, Value> values; // by lower-case name
    int timeoutMinutes = 20;
    bool abandoned = false;
    unsigned writes = 0; // values stored so far, so the server sees a page change them
};

// The site's Application values, shared by every page of the server. Application.Lock
// keeps other pages from changing them until UnLock or the end of the page.
struct ApplicationState {
    std::mutex values; // guards `data` for each single read or write
    std::timed_mutex lock;
    std::unordered_map<QString, Value> data; // by lower-case name; no arrays or objects shared
};

// Gives a page its session when it first touches Session, so a visitor who only looks up a
// class leaves no session behind.
class SessionProvider {
public:
    virtual ~SessionProvider() = default;
    virtual SessionState* session(bool create) = 0;
};

} // namespace asp
