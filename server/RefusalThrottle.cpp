// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/RefusalThrottle.h"

RefusalThrottle::RefusalThrottle(Clock::duration pause)
    : m_pause(pause)
{
}

RefusalThrottle::Clock::time_point RefusalThrottle::admit(const QString& address)
{
    const auto now = Clock::now();
    std::lock_guard lock(m_mutex);
    const auto it = m_next.find(address);
    if (it == m_next.end())
        return now;
    if (it->second <= now) {
        m_next.erase(it);
        return now;
    }
    // Waiting posts take the following seconds one by one.
    const auto slot = it->second;
    it->second = slot + m_pause;
    return slot;
}

void RefusalThrottle::refused(const QString& address)
{
    const auto now = Clock::now();
    std::lock_guard lock(m_mutex);
    if (m_next.size() > 10000)
        std::erase_if(m_next, [&](const auto& item) { return item.second <= now; });
    auto& next = m_next[address];
    next = std::max(next, now + m_pause);
}
