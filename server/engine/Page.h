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
};

// Gives a page its session when it first touches Session, so a visitor who only looks up a
// class leaves no session behind.
class SessionProvider {
public:
    virtual ~SessionProvider() = default;
    virtual SessionState* session(bool create) = 0;
};

} // namespace asp
