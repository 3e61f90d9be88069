// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/SessionStore.h"

#include <QByteArrayList>

#include <sys/random.h>

#include <algorithm>
#include <stdexcept>

QString randomSessionId()
{
    unsigned char bytes[16];
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno != EINTR)
            throw std::runtime_error("no random bytes");
        if (n > 0)
            got += size_t(n);
    }
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(bytes), sizeof bytes).toHex());
}

SessionStore::SessionStore(size_t capacity)
    : m_capacity(capacity)
{
}

QString SessionStore::idFromCookies(QByteArrayView header)
{
    for (const QByteArray& part : header.toByteArray().split(';')) {
        const QByteArray item = part.trimmed();
        if (item.startsWith(QByteArray(cookieName) + '='))
            return QString::fromLatin1(item.mid(qsizetype(strlen(cookieName)) + 1));
    }
    return {};
}

size_t SessionStore::size()
{
    std::lock_guard lock(m_mutex);
    return m_sessions.size();
}

void SessionStore::advance(std::chrono::seconds by)
{
    std::lock_guard lock(m_mutex);
    m_offset += by;
}

std::shared_ptr<SessionStore::Entry> SessionStore::find(const QString& id)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_sessions.find(id);
    if (it == m_sessions.end())
        return nullptr;
    const auto entry = it->second;
    if (now() - entry->lastUsed > std::chrono::minutes(entry->state.timeoutMinutes)) {
        m_sessions.erase(it);
        return nullptr;
    }
    entry->lastUsed = now();
    return entry;
}

std::shared_ptr<SessionStore::Entry> SessionStore::create()
{
    auto entry = std::make_shared<Entry>();
    entry->state.id = randomSessionId();
    std::lock_guard lock(m_mutex);
    entry->lastUsed = now();
    if (m_sessions.size() >= m_capacity)
        purge();
    m_sessions[entry->state.id] = entry;
    return entry;
}

void SessionStore::remove(const QString& id)
{
    std::lock_guard lock(m_mutex);
    m_sessions.erase(id);
}

// Called with the lock held, when the store is full: the expired go, and if that is not
// enough, the longest unused one, so a flood of new visitors cannot exhaust memory.
void SessionStore::purge()
{
    const auto t = now();
    std::erase_if(m_sessions, [&](const auto& item) {
        return t - item.second->lastUsed > std::chrono::minutes(item.second->state.timeoutMinutes);
    });
    if (m_sessions.size() < m_capacity)
        return;
    const auto oldest =
        std::min_element(m_sessions.begin(), m_sessions.end(), [](const auto& a, const auto& b) {
            return a.second->lastUsed < b.second->lastUsed;
        });
    m_sessions.erase(oldest);
}

SessionStore::Lease::Lease(SessionStore& store, QString cookieId)
    : m_store(store)
    , m_cookieId(std::move(cookieId))
{
}

SessionStore::Lease::~Lease() { finish(); }

asp::SessionState* SessionStore::Lease::session(bool create)
{
    if (!m_entry && !m_looked) {
        m_looked = true;
        if (!m_cookieId.isEmpty()) {
            if (auto found = m_store.find(m_cookieId)) {
                m_entry = std::move(found);
                m_running = std::unique_lock(m_entry->running);
                m_writesBefore = m_entry->state.writes;
            }
        }
    }
    if (!m_entry && create) {
        m_entry = m_store.create();
        m_running = std::unique_lock(m_entry->running);
        m_created = true;
    }
    return m_entry ? &m_entry->state : nullptr;
}

void SessionStore::renew(const std::shared_ptr<Entry>& entry)
{
    std::lock_guard lock(m_mutex);
    m_sessions.erase(entry->state.id);
    entry->state.id = randomSessionId();
    m_sessions[entry->state.id] = entry;
}

QByteArray SessionStore::Lease::finish(bool renew)
{
    if (m_finished || !m_entry)
        return {};
    m_finished = true;
    if (renew && !m_created && !m_entry->state.abandoned && m_entry->state.writes != m_writesBefore) {
        m_store.renew(m_entry);
        m_created = true; // the answer carries the new id
    }
    QByteArray cookie;
    if (m_entry->state.abandoned) {
        m_store.remove(m_entry->state.id);
        if (!m_created)
            cookie = QByteArray(cookieName) + "=; path=/; Max-Age=0; HttpOnly; SameSite=Strict";
    } else {
        {
            std::lock_guard lock(m_store.m_mutex);
            m_entry->lastUsed = m_store.now();
        }
        if (m_created)
            cookie = QByteArray(cookieName) + '=' + m_entry->state.id.toLatin1()
                     + "; path=/; HttpOnly; SameSite=Strict";
    }
    if (m_running.owns_lock())
        m_running.unlock();
    return cookie;
}
