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

ConnectionGate::ConnectionGate(const ServerLimits& limits, Ready ready)
    : m_limits(limits)
    , m_framing{limits.maxRequestLineBytes, limits.maxHeaderBytes, limits.maxBodyBytes}
    , m_ready(std::move(ready))
{
}

ConnectionGate::~ConnectionGate()
{
    stop();
    // Closed only now: a worker that posted just before the stop may still write to m_wake.
    for (int fd : {m_epoll, m_wake}) {
        if (fd >= 0)
            ::close(fd);
    }
}

void ConnectionGate::start()
{
    if (m_thread.joinable())
        return;
    m_epoll = epoll_create1(EPOLL_CLOEXEC);
    m_wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    epoll_event wake{};
    wake.events = EPOLLIN;
    wake.data.fd = m_wake;
    epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &wake);
    m_nextSweep = Clock::now() + sweepInterval;
    m_thread = std::thread([this] { watch(); });
}

void ConnectionGate::stop()
{
    std::vector<Event> left;
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping)
            return;
        m_stopping = true;
        left.swap(m_events);
    }
    if (m_wake >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(m_wake, &one, sizeof one);
    }
    if (m_thread.joinable())
        m_thread.join();
    // Connections a worker runs are closed by the worker; all others end here.
    for (auto& [sock, c] : m_connections) {
        if (c.phase != Connection::Phase::Running)
            ::close(sock);
    }
    m_connections.clear();
    for (Event& e : left)
        ::close(e.kind == Event::Kind::Deferred ? e.request.sock : e.sock);
}

void ConnectionGate::post(Event event)
{
    bool first = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping) {
            ::close(event.kind == Event::Kind::Deferred ? event.request.sock : event.sock);
            return;
        }
        first = m_events.empty();
        m_events.push_back(std::move(event));
    }
    // The gate is woken once for a batch of events it has not taken yet.
    if (first) {
        const uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(m_wake, &one, sizeof one);
    }
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
    Event e{Event::Kind::Accepted};
    e.sock = sock;
    post(std::move(e));
}

void ConnectionGate::answered(int sock, std::string unsent, std::string leftover, bool close)
{
    Event e{Event::Kind::Answered};
    e.sock = sock;
    e.unsent = std::move(unsent);
    e.leftover = std::move(leftover);
    e.close = close;
    post(std::move(e));
}

void ConnectionGate::defer(ArrivedRequest request, Clock::time_point until)
{
    Event e{Event::Kind::Deferred};
    e.request = std::move(request);
    e.until = until;
    post(std::move(e));
}

void ConnectionGate::watch()
{
    std::vector<epoll_event> ready(256);
    std::vector<Event> events;
    for (;;) {
        const int n = epoll_wait(m_epoll, ready.data(), int(ready.size()), nextWakeMs());
        for (int i = 0; i < n; ++i) {
            if (ready[size_t(i)].data.fd == m_wake) {
                uint64_t count;
                [[maybe_unused]] auto r = ::read(m_wake, &count, sizeof count);
                continue;
            }
            onReady(ready[size_t(i)].data.fd, ready[size_t(i)].events);
        }
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                return;
            events.swap(m_events);
        }
        for (Event& e : events)
            take(e);
        events.clear();
        if (Clock::now() >= m_nextSweep)
            sweep();
    }
}

int ConnectionGate::nextWakeMs() const
{
    auto next = m_nextSweep;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
    return int(std::clamp<long long>(ms + 1, 0, 1000));
}

void ConnectionGate::take(Event& e)
{
    const auto now = Clock::now();
    switch (e.kind) {
    case Event::Kind::Accepted: {
        const int flags = fcntl(e.sock, F_GETFL);
        fcntl(e.sock, F_SETFL, flags | O_NONBLOCK);
        const int yes = 1;
        setsockopt(e.sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        Connection& c = m_connections[e.sock];
        c = Connection{};
        c.sock = e.sock;
        c.ends = endsOf(e.sock);
        c.deadline = now + std::chrono::seconds(m_limits.headerSeconds);
        epoll_event interest{};
        interest.events = EPOLLIN | EPOLLONESHOT;
        interest.data.fd = e.sock;
        epoll_ctl(m_epoll, EPOLL_CTL_ADD, e.sock, &interest);
        return;
    }
    case Event::Kind::Answered: {
        const auto it = m_connections.find(e.sock);
        if (it == m_connections.end()) {
            ::close(e.sock);
            return;
        }
        Connection& c = it->second;
        c.in = std::move(e.leftover);
        c.length = 0;
        c.closeAfter = e.close || c.peerDone;
        c.out = std::move(e.unsent);
        c.sent = 0;
        if (c.out.empty()) {
            afterAnswer(c);
            return;
        }
        c.phase = Connection::Phase::Answering;
        c.deadline = now + std::chrono::seconds(m_limits.answerPauseSeconds);
        arm(c, EPOLLOUT);
        return;
    }
    case Event::Kind::Deferred: {
        const auto it = m_connections.find(e.request.sock);
        if (it == m_connections.end()) {
            ::close(e.request.sock);
            return;
        }
        Connection& c = it->second;
        c.phase = Connection::Phase::Waiting;
        c.waiting = std::move(e.request);
        c.waiting.waited = true;
        c.until = e.until;
        return;
    }
    }
}

void ConnectionGate::onReady(int sock, unsigned events)
{
    const auto it = m_connections.find(sock);
    if (it == m_connections.end())
        return;
    Connection& c = it->second;
    if (c.phase == Connection::Phase::Closing) {
        discard(c);
        return;
    }
    if (c.phase == Connection::Phase::Answering) {
        if (events & (EPOLLERR | EPOLLHUP))
            drop(c);
        else
            sendAnswer(c);
        return;
    }
    if (c.phase != Connection::Phase::Reading)
        return;
    if (!receive(c)) {
        drop(c);
        return;
    }
    progress(c, true);
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

void ConnectionGate::progress(Connection& c, bool arrived)
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
            return;
        }
    }
    if (c.length > 0 && c.in.size() >= c.length) {
        dispatch(c);
        return;
    }
    if (c.peerDone) {
        drop(c); // a request that can never be whole
        return;
    }
    // A body must keep coming: every arrival gives it the pause again, within its whole time.
    if (c.length > 0 && arrived)
        c.deadline = std::min(now + std::chrono::seconds(m_limits.bodyPauseSeconds), c.bodyEnd);
    arm(c, EPOLLIN);
}

void ConnectionGate::dispatch(Connection& c)
{
    ArrivedRequest request;
    request.sock = c.sock;
    request.bytes = std::move(c.in);
    request.ends = c.ends;
    c.in.clear();
    c.length = 0;
    c.started = false;
    c.phase = Connection::Phase::Running;
    m_ready(std::move(request));
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
    progress(c, false); // the next request may have come whole with the last one
}

void ConnectionGate::sweep()
{
    const auto now = Clock::now();
    m_nextSweep = now + sweepInterval;
    std::vector<int> late, due;
    for (auto& [sock, c] : m_connections) {
        if (c.phase == Connection::Phase::Waiting && now >= c.until)
            due.push_back(sock);
        else if ((c.phase == Connection::Phase::Reading || c.phase == Connection::Phase::Answering
                  || c.phase == Connection::Phase::Closing)
                 && now >= c.deadline)
            late.push_back(sock);
    }
    for (int sock : late) {
        Connection& c = m_connections[sock];
        if (c.phase == Connection::Phase::Reading && c.started)
            refuse(c, 408);
        else
            drop(c); // an idle connection simply ends, and so does one that takes no answer
    }
    for (int sock : due) {
        Connection& c = m_connections[sock];
        c.phase = Connection::Phase::Running;
        m_ready(std::move(c.waiting));
        c.waiting = {};
    }
}

void ConnectionGate::arm(const Connection& c, unsigned events)
{
    epoll_event interest{};
    interest.events = events | EPOLLONESHOT;
    interest.data.fd = c.sock;
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
    ::close(c.sock);
    m_open.fetch_sub(1);
    m_connections.erase(c.sock);
}
