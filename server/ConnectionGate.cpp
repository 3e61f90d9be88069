// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/ConnectionGate.h"

#include "server/StatusPage.h"

#include <QString>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

using Clock = ConnectionGate::Clock;

// How often waiting connections are looked at for their deadlines.
constexpr auto sweepInterval = std::chrono::milliseconds(100);
// Read from one client at a time; a request longer than the limits is refused before this.
constexpr size_t receiveChunk = 16 * 1024;
// After its last answer, what a client still sends is read away for a while (up to this much),
// so that closing does not reset the connection, and the answer with it, before the client has
// read it: a browser still sending a form that was too large then shows why it was refused.
constexpr auto closingTime = std::chrono::seconds(2);
constexpr size_t closingBytes = 4 << 20;

void describe(const sockaddr_storage& addr, std::string& ip, int& port)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (addr.ss_family == AF_INET) {
        const auto* a = reinterpret_cast<const sockaddr_in*>(&addr);
        inet_ntop(AF_INET, &a->sin_addr, text, sizeof text);
        port = ntohs(a->sin_port);
    } else if (addr.ss_family == AF_INET6) {
        const auto* a = reinterpret_cast<const sockaddr_in6*>(&addr);
        if (IN6_IS_ADDR_V4MAPPED(&a->sin6_addr)) // an IPv4 client of the dual-stack socket
            inet_ntop(AF_INET, &a->sin6_addr.s6_addr[12], text, sizeof text);
        else
            inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof text);
        port = ntohs(a->sin6_port);
    }
    ip = text;
}

ConnectionEnds endsOf(int sock)
{
    ConnectionEnds ends;
    sockaddr_storage addr{};
    socklen_t length = sizeof addr;
    if (getpeername(sock, reinterpret_cast<sockaddr*>(&addr), &length) == 0)
        describe(addr, ends.remoteAddress, ends.remotePort);
    length = sizeof addr;
    if (getsockname(sock, reinterpret_cast<sockaddr*>(&addr), &length) == 0)
        describe(addr, ends.localAddress, ends.localPort);
    return ends;
}

int statusOf(RequestFraming::State state)
{
    switch (state) {
    case RequestFraming::State::Malformed:
        return 400;
    case RequestFraming::State::LengthRequired:
        return 411;
    case RequestFraming::State::BodyTooLarge:
        return 413;
    case RequestFraming::State::UriTooLong:
        return 414;
    case RequestFraming::State::HeadersTooLarge:
        return 431;
    case RequestFraming::State::Partial:
    case RequestFraming::State::Complete:
        break;
    }
    return 400;
}

} // namespace

ConnectionGate::ConnectionGate(const ServerLimits& limits, Run run)
    : m_limits(limits)
    , m_framing{limits.maxRequestLineBytes, limits.maxHeaderBytes, limits.maxBodyBytes}
    , m_run(std::move(run))
{
}

ConnectionGate::~ConnectionGate()
{
    stop();
    for (int fd : {m_epoll, m_wake}) {
        if (fd >= 0)
            ::close(fd);
    }
}

void ConnectionGate::start()
{
    if (m_watch.joinable())
        return;
    m_epoll = epoll_create1(EPOLL_CLOEXEC);
    m_wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    epoll_event wake{};
    wake.events = EPOLLIN; // not one-shot: it wakes every worker, and stays set
    wake.data.u64 = 0;
    epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &wake);
    for (size_t i = 0; i < std::max<size_t>(m_limits.workers, 1); ++i)
        m_workers.emplace_back([this] { work(); });
    m_watch = std::thread([this] { watch(); });
}

void ConnectionGate::stop()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping)
            return;
        m_stopping = true;
    }
    m_stopped.notify_all();
    if (m_wake >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(m_wake, &one, sizeof one);
    }
    for (std::thread& t : m_workers)
        t.join();
    if (m_watch.joinable())
        m_watch.join();
    // No worker runs a request any more: every connection ends here.
    std::lock_guard lock(m_mutex);
    for (auto& [id, c] : m_connections)
        ::close(c->sock);
    m_connections.clear();
}

void ConnectionGate::accept(int sock)
{
    if (m_open.fetch_add(1) >= m_limits.maxWaitingConnections) {
        m_open.fetch_sub(1);
        const QByteArray answer = StatusPage::closingAnswer(503);
        ::send(sock, answer.constData(), size_t(answer.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        ::shutdown(sock, SHUT_RDWR);
        ::close(sock);
        return;
    }
    const int flags = fcntl(sock, F_GETFL);
    fcntl(sock, F_SETFL, flags | O_NONBLOCK);
    const int yes = 1;
    setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    auto c = std::make_shared<Connection>();
    c->sock = sock;
    c->ends = endsOf(sock);
    c->deadline = Clock::now() + std::chrono::seconds(m_limits.headerSeconds);
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping) {
            m_open.fetch_sub(1);
            ::close(sock);
            return;
        }
        c->id = m_nextId++;
        m_connections.emplace(c->id, c);
    }
    epoll_event interest{};
    interest.events = EPOLLIN | EPOLLONESHOT;
    interest.data.u64 = c->id;
    epoll_ctl(m_epoll, EPOLL_CTL_ADD, sock, &interest);
}

std::shared_ptr<ConnectionGate::Connection> ConnectionGate::find(unsigned long long id)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_connections.find(id);
    return it == m_connections.end() ? nullptr : it->second;
}

void ConnectionGate::work()
{
    // One wake-up at a time: a worker running a page leaves the next client to another.
    epoll_event ready{};
    for (;;) {
        const int n = epoll_wait(m_epoll, &ready, 1, -1);
        if (n < 0 && errno != EINTR)
            return;
        if (n <= 0)
            continue;
        if (ready.data.u64 == 0)
            return; // stopping
        const auto c = find(ready.data.u64);
        if (!c)
            continue; // closed meanwhile
        std::lock_guard handling(c->handling);
        if (!c->gone)
            onReady(*c, ready.events);
    }
}

void ConnectionGate::watch()
{
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        m_stopped.wait_for(lock, sweepInterval);
        if (m_stopping)
            return;
        lock.unlock();
        sweep();
        lock.lock();
    }
}

void ConnectionGate::onReady(Connection& c, unsigned events)
{
    switch (c.phase) {
    case Connection::Phase::Closing:
        discard(c);
        return;
    case Connection::Phase::Answering:
        if (events & (EPOLLERR | EPOLLHUP))
            drop(c);
        else
            sendAnswer(c);
        return;
    case Connection::Phase::Waiting:
        // Its time has come (the watch woke a worker for it).
        if (c.due && run(c, std::move(c.waiting)))
            read(c, false);
        return;
    case Connection::Phase::Reading:
        if (!receive(c)) {
            drop(c);
            return;
        }
        read(c, true);
        return;
    case Connection::Phase::Running:
        return;
    }
}

// False when the connection has failed, or the client has gone with nothing left to run.
bool ConnectionGate::receive(Connection& c)
{
    const size_t most = m_limits.maxHeaderBytes + m_limits.maxBodyBytes + receiveChunk;
    thread_local char chunk[receiveChunk];
    while (c.in.size() < most) {
        const ssize_t n = ::recv(c.sock, chunk, sizeof chunk, 0);
        if (n > 0) {
            c.in.append(chunk, size_t(n));
            // Less than asked for is all there is for now; more wakes a worker again.
            if (size_t(n) < sizeof chunk)
                return true;
            continue;
        }
        if (n == 0) {
            c.peerDone = true;
            return !c.in.empty();
        }
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    }
    return true;
}

void ConnectionGate::read(Connection& c, bool arrived)
{
    // A loop, not a call from each request to the next: a client may send many at once.
    while (progress(c, arrived)) {
        ArrivedRequest request;
        request.sock = c.sock;
        request.bytes = std::move(c.in);
        request.ends = c.ends;
        c.in.clear();
        c.length = 0;
        c.started = false;
        if (!run(c, std::move(request)))
            return;
        arrived = false;
    }
}

bool ConnectionGate::progress(Connection& c, bool arrived)
{
    const auto now = Clock::now();
    if (arrived && !c.started && !c.in.empty()) {
        c.started = true;
        c.deadline = now + std::chrono::seconds(m_limits.headerSeconds);
    }
    if (c.length == 0) {
        auto frame = m_framing.frame(c.in);
        // The gate answers "100 Continue" itself, and only when the body has yet to come, so
        // the request goes on without the question.
        const bool asked = frame.headBytes > 0 && !frame.expectLine.empty();
        if (asked) {
            c.in.erase(size_t(frame.expectLine.data() - c.in.data()), frame.expectLine.size());
            frame = m_framing.frame(c.in);
        }
        switch (frame.state) {
        case RequestFraming::State::Partial:
            if (frame.headBytes > 0) {
                c.length = frame.length;
                c.bodyEnd = now + std::chrono::seconds(m_limits.bodySeconds);
                if (asked) {
                    static constexpr char goOn[] = "HTTP/1.1 100 Continue\r\n\r\n";
                    ::send(c.sock, goOn, sizeof goOn - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
                }
            }
            break;
        case RequestFraming::State::Complete:
            c.length = frame.length;
            break;
        default:
            refuse(c, statusOf(frame.state));
            return false;
        }
    }
    if (c.length > 0 && c.in.size() >= c.length)
        return true;
    if (c.peerDone) {
        drop(c); // a request that can never be whole
        return false;
    }
    // A body must keep coming: every arrival gives it the pause again, within its whole time.
    if (c.length > 0 && arrived)
        c.deadline = std::min(now + std::chrono::seconds(m_limits.bodyPauseSeconds), c.bodyEnd);
    arm(c, EPOLLIN);
    return false;
}

bool ConnectionGate::run(Connection& c, ArrivedRequest request)
{
    c.phase = Connection::Phase::Running;
    c.due = false;
    Outcome outcome = m_run(request);
    if (outcome.deferred) {
        // It waits here, on no worker, until the watch finds its time has come.
        c.phase = Connection::Phase::Waiting;
        c.waiting = std::move(request);
        c.waiting.waited = true;
        c.until = outcome.until;
        return false;
    }
    c.in = std::move(outcome.leftover);
    c.length = 0;
    c.closeAfter = outcome.close || c.peerDone;
    c.out = std::move(outcome.unsent);
    c.sent = 0;
    if (!c.out.empty()) {
        c.phase = Connection::Phase::Answering;
        c.deadline = Clock::now() + std::chrono::seconds(m_limits.answerPauseSeconds);
        arm(c, EPOLLOUT);
        return false;
    }
    if (c.closeAfter) {
        closeGently(c);
        return false;
    }
    c.phase = Connection::Phase::Reading;
    c.started = !c.in.empty();
    c.deadline =
        Clock::now() + std::chrono::seconds(c.started ? m_limits.headerSeconds : m_limits.keepAliveSeconds);
    return true; // the next request may have come whole with the last one
}

void ConnectionGate::sendAnswer(Connection& c)
{
    while (c.sent < c.out.size()) {
        const ssize_t n = ::send(c.sock, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL);
        if (n > 0) {
            c.sent += size_t(n);
            c.deadline = Clock::now() + std::chrono::seconds(m_limits.answerPauseSeconds);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            arm(c, EPOLLOUT);
            return;
        }
        drop(c);
        return;
    }
    c.out.clear();
    afterAnswer(c);
}

void ConnectionGate::afterAnswer(Connection& c)
{
    if (c.closeAfter) {
        closeGently(c);
        return;
    }
    c.phase = Connection::Phase::Reading;
    c.started = !c.in.empty();
    c.deadline =
        Clock::now() + std::chrono::seconds(c.started ? m_limits.headerSeconds : m_limits.keepAliveSeconds);
    read(c, false); // the next request may have come whole with the last one
}

void ConnectionGate::sweep()
{
    std::vector<std::shared_ptr<Connection>> all;
    {
        std::lock_guard lock(m_mutex);
        all.reserve(m_connections.size());
        for (const auto& [id, c] : m_connections)
            all.push_back(c);
    }
    const auto now = Clock::now();
    for (const auto& c : all) {
        // One a worker is handling is not late: it is being read or run right now.
        std::unique_lock handling(c->handling, std::try_to_lock);
        if (!handling || c->gone)
            continue;
        if (c->phase == Connection::Phase::Waiting) {
            if (now >= c->until && !c->due) {
                c->due = true;
                arm(*c, EPOLLOUT); // writable at once: a worker runs it
            }
        } else if (c->phase != Connection::Phase::Running && now >= c->deadline) {
            // What a client sent while every worker was running a page is not late.
            char next;
            if (c->phase == Connection::Phase::Reading
                && ::recv(c->sock, &next, 1, MSG_PEEK | MSG_DONTWAIT) > 0) {
                c->deadline = now + std::chrono::seconds(m_limits.headerSeconds);
                continue;
            }
            if (c->phase == Connection::Phase::Reading && c->started)
                refuse(*c, 408);
            else
                drop(*c); // an idle connection simply ends, and so does one that takes no answer
        }
    }
}

void ConnectionGate::arm(const Connection& c, unsigned events)
{
    epoll_event interest{};
    interest.events = events | EPOLLONESHOT;
    interest.data.u64 = c.id;
    epoll_ctl(m_epoll, EPOLL_CTL_MOD, c.sock, &interest);
}

void ConnectionGate::refuse(Connection& c, int status)
{
    QString reason;
    if (status == 413)
        reason = QStringLiteral("表单的内容不能超过 %1 KB。").arg(m_limits.maxBodyBytes / 1024);
    c.out = StatusPage::closingAnswer(status, reason).toStdString();
    c.sent = 0;
    c.closeAfter = true;
    c.phase = Connection::Phase::Answering;
    c.deadline = Clock::now() + std::chrono::seconds(m_limits.answerPauseSeconds);
    sendAnswer(c);
}

void ConnectionGate::closeGently(Connection& c)
{
    ::shutdown(c.sock, SHUT_WR);
    c.phase = Connection::Phase::Closing;
    c.in.clear();
    c.in.shrink_to_fit();
    c.deadline = Clock::now() + closingTime;
    discard(c);
}

void ConnectionGate::discard(Connection& c)
{
    char chunk[4096];
    for (int i = 0; i < 64; ++i) {
        const ssize_t n = ::recv(c.sock, chunk, sizeof chunk, 0);
        if (n > 0 && (c.discarded += size_t(n)) < closingBytes)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            break;
        drop(c); // the client has closed too, or sent more than it is worth waiting for
        return;
    }
    arm(c, EPOLLIN);
}

void ConnectionGate::drop(Connection& c)
{
    c.gone = true;
    ::close(c.sock);
    m_open.fetch_sub(1);
    std::lock_guard lock(m_mutex);
    m_connections.erase(c.id);
}
