// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "server/engine/Page.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <memory>
#include <mutex>
#include <unordered_map>

// The visitors' sessions, by the random id of their cookie. A session ends 20 minutes (or its
// page's Session.Timeout) after its last request, or when a page abandons it.
class SessionStore {
    struct Entry;

public:
    using Clock = std::chrono::steady_clock;
    static constexpr const char* cookieName = "ASPSESSIONID";

    explicit SessionStore(size_t capacity = 10000);

    // One request's way to its session: found or made when the page first touches Session,
    // and held for that request alone until it ends.
    class Lease final : public asp::SessionProvider {
    public:
        Lease(SessionStore& store, QString cookieId);
        ~Lease() override;
        asp::SessionState* session(bool create) override;
        // The Set-Cookie value the answer needs, if any: a new session, or an abandoned one.
        // With `renew`, a session whose values the page changed moves to a new id (a login
        // form posted), so an id known before the login is worth nothing after it.
        QByteArray finish(bool renew = false);

    private:
        SessionStore& m_store;
        QString m_cookieId;
        std::shared_ptr<Entry> m_entry;
        std::unique_lock<std::mutex> m_running;
        bool m_looked = false;
        bool m_created = false;
        bool m_finished = false;
        unsigned m_writesBefore = 0;
    };

    // The session id in a Cookie header, if it has one.
    static QString idFromCookies(QByteArrayView cookieHeader);
    size_t size();

    // For tests: time moves on.
    void advance(std::chrono::seconds by);

private:
    struct Entry {
        asp::SessionState state;
        std::mutex running;
        Clock::time_point lastUsed;
    };
    friend class Lease;

    Clock::time_point now() const { return Clock::now() + m_offset; }
    std::shared_ptr<Entry> find(const QString& id);
    std::shared_ptr<Entry> create();
    void remove(const QString& id);
    void renew(const std::shared_ptr<Entry>& entry);
    void purge();

    std::mutex m_mutex;
    std::unordered_map<QString, std::shared_ptr<Entry>> m_sessions;
    size_t m_capacity;
    Clock::duration m_offset{};
};

// 128 bits from the system's generator, as 32 hexadecimal digits.
QString randomSessionId();
