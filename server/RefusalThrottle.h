// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHashFunctions> // std::hash<QString>
#include <QString>

#include <chrono>
#include <mutex>
#include <unordered_map>

// Slows down guessing passwords: after a form post from an address to a page was refused (a
// failed login answers 403), that address's next post to the same page waits until a second
// has passed, and such posts sent side by side wait in turn, so one address gets one try a
// second. The key is the address and the page together: a class search posted from the same
// computer room does not wait for someone's mistyped password.
class RefusalThrottle {
public:
    using Clock = std::chrono::steady_clock;
    explicit RefusalThrottle(Clock::duration pause = std::chrono::seconds(1));

    // When the address's post may run; the caller sleeps until then.
    Clock::time_point admit(const QString& address);
    void refused(const QString& address);

private:
    std::mutex m_mutex;
    std::unordered_map<QString, Clock::time_point> m_next; // the earliest moment of the next post
    Clock::duration m_pause;
};
