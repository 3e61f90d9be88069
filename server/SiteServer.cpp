// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/SiteServer.h"

#include "platform/Gbk.h"
#include "server/SitePath.h"

#include <QFileInfo>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* serverName = "qinghe-asp";
constexpr qint64 maxStaticFileBytes = 64 << 20;

QByteArray messagePage(const QString& title, const QString& reason = {})
{
    const QString paragraph = reason.isEmpty() ? QString() : QStringLiteral("<p>%1</p>").arg(reason);
    return gbk::encode(QStringLiteral("<html><head><title>%1</title></head><body><h2>%1</h2>%2</body></html>")
                           .arg(title, paragraph));
}

QString statusTitle(int status)
{
    switch (status) {
    case 400:
        return QStringLiteral("400 请求无效");
    case 403:
        return QStringLiteral("403 禁止访问");
    case 404:
        return QStringLiteral("404 找不到网页");
    case 405:
        return QStringLiteral("405 不支持这种请求");
    case 413:
        return QStringLiteral("413 提交的内容太大");
    case 414:
        return QStringLiteral("414 网址太长");
    case 415:
        return QStringLiteral("415 不支持这种提交方式");
    case 431:
        return QStringLiteral("431 请求头太大");
    case 503:
        return QStringLiteral("503 服务器忙，请稍后再试");
    default:
        return QString::number(status) + QStringLiteral(" 服务器错误");
    }
}

// Runs requests whose headers have arrived, a few at a time.
class WorkerPool final : public httplib::TaskQueue {
public:
    explicit WorkerPool(size_t threads)
    {
        for (size_t i = 0; i < threads; ++i)
            m_threads.emplace_back([this] { work(); });
    }
    ~WorkerPool() override { shutdown(); }

    void enqueue(std::function<void()> fn) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_jobs.push_back(std::move(fn));
        }
        m_ready.notify_one();
    }

    void shutdown() override
    {
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                return;
            m_stopping = true;
        }
        m_ready.notify_all();
        for (std::thread& t : m_threads)
            t.join();
    }

private:
    void work()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_ready.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            if (m_jobs.empty())
                return;
            auto job = std::move(m_jobs.front());
            m_jobs.pop_front();
            lock.unlock();
            job();
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<std::function<void()>> m_jobs;
    std::vector<std::thread> m_threads;
    bool m_stopping = false;
};

void answerAndClose(int sock, int status, const char* reason)
{
    const QByteArray body = messagePage(statusTitle(status));
    const QByteArray answer =
        "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason
        + "\r\nContent-Type: text/html; charset=GBK\r\n" + (status == 503 ? "Retry-After: 1\r\n" : "")
        + "Connection: close\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    ::send(sock, answer.constData(), size_t(answer.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
    // What the client sent is read away, so closing does not reset the answer away.
    char drain[4096];
    while (::recv(sock, drain, sizeof drain, MSG_DONTWAIT) > 0) {
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
}

// The socket of one connection as the library reads it for one request: first the bytes the
// gate has read (the whole head of the request, maybe more), then the body from the socket,
// which must come within the body time.
class ConnectionStream final : public httplib::Stream {
public:
    ConnectionStream(int sock, const ServerLimits& limits, std::string buffered)
        : m_sock(sock)
        , m_limits(limits)
        , m_buffer(std::move(buffered))
        , m_bodyDeadline(Clock::now() + std::chrono::seconds(limits.bodySeconds))
    {
        sockaddr_storage addr{};
        socklen_t length = sizeof addr;
        if (getpeername(sock, reinterpret_cast<sockaddr*>(&addr), &length) == 0)
            describe(addr, m_remoteAddress, m_remotePort);
        length = sizeof addr;
        if (getsockname(sock, reinterpret_cast<sockaddr*>(&addr), &length) == 0)
            describe(addr, m_localAddress, m_localPort);
    }

    // What came after this request: the start of the next one.
    std::string leftover() const { return m_buffer.substr(m_begin); }

    bool is_readable() const override { return hasBuffered() || wait(POLLIN, readTimeout()); }
    bool is_writable() const override
    {
        return wait(POLLOUT, std::chrono::seconds(m_limits.readTimeoutSeconds));
    }

    ssize_t read(char* ptr, size_t size) override
    {
        if (!hasBuffered()) {
            if (!wait(POLLIN, readTimeout()))
                return -1;
            m_buffer.resize(4096);
            const ssize_t n = ::recv(m_sock, m_buffer.data(), m_buffer.size(), 0);
            if (n <= 0) {
                m_buffer.clear();
                m_begin = 0;
                return n;
            }
            m_buffer.resize(size_t(n));
            m_begin = 0;
        }
        const size_t n = std::min(size, m_buffer.size() - m_begin);
        std::memcpy(ptr, m_buffer.data() + m_begin, n);
        m_begin += n;
        return ssize_t(n);
    }

    ssize_t write(const char* ptr, size_t size) override
    {
        if (!is_writable())
            return -1;
        return ::send(m_sock, ptr, size, MSG_NOSIGNAL);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override
    {
        ip = m_remoteAddress;
        port = m_remotePort;
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override
    {
        ip = m_localAddress;
        port = m_localPort;
    }
    socket_t socket() const override { return m_sock; }

private:
    bool hasBuffered() const { return m_begin < m_buffer.size(); }

    static void describe(const sockaddr_storage& addr, std::string& ip, int& port)
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

    Clock::duration readTimeout() const
    {
        const Clock::duration timeout = std::chrono::seconds(m_limits.readTimeoutSeconds);
        return std::max(Clock::duration::zero(), std::min(timeout, m_bodyDeadline - Clock::now()));
    }

    bool wait(short events, Clock::duration timeout) const
    {
        pollfd p{m_sock, events, 0};
        const int ms = int(std::chrono::duration_cast<std::chrono::milliseconds>(timeout).count());
        int r;
        do
            r = ::poll(&p, 1, ms);
        while (r < 0 && errno == EINTR);
        return r > 0 && (p.revents & (events | POLLHUP | POLLERR));
    }

    int m_sock;
    const ServerLimits& m_limits;
    std::string m_buffer;
    size_t m_begin = 0;
    Clock::time_point m_bodyDeadline;
    std::string m_remoteAddress, m_localAddress;
    int m_remotePort = 0, m_localPort = 0;
};

} // namespace

// Connections waiting for a request, new ones and those kept alive between requests, wait
// here instead of on a worker: one thread watches them all and hands a connection to a worker
// only once the head of its request has arrived whole. A slow, idle or half-open client thus
// costs a descriptor and a few bytes, never a worker, whatever address it comes from.
class ConnectionGate {
public:
    using Ready = std::function<void(int sock, std::string buffered)>;

    ConnectionGate(const ServerLimits& limits, Ready ready)
        : m_limits(limits)
        , m_ready(std::move(ready))
    {
        if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
            m_wake[0] = m_wake[1] = -1;
        m_thread = std::thread([this] { watch(); });
    }
    ~ConnectionGate() { stop(); }

    void add(int sock, std::string buffered, bool keptAlive)
    {
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping || m_count + m_incoming.size() >= m_limits.maxWaitingConnections) {
                if (m_stopping) {
                    ::close(sock);
                    return;
                }
                answerAndClose(sock, 503, "Service Unavailable");
                return;
            }
            Waiting w;
            w.sock = sock;
            w.buffer = std::move(buffered);
            w.started = !w.buffer.empty();
            w.deadline = Clock::now()
                         + std::chrono::seconds(keptAlive && !w.started ? m_limits.keepAliveSeconds
                                                                        : m_limits.headerSeconds);
            m_incoming.push_back(std::move(w));
        }
        wake();
    }

    void stop()
    {
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                return;
            m_stopping = true;
        }
        wake();
        if (m_thread.joinable())
            m_thread.join();
        for (int fd : m_wake) {
            if (fd >= 0)
                ::close(fd);
        }
    }

private:
    struct Waiting {
        int sock = -1;
        std::string buffer;
        bool started = false; // a byte of the request has come
        Clock::time_point deadline;
    };
    enum class Head { Partial, Complete, UriTooLong, TooLarge };

    void wake()
    {
        const char byte = 1;
        if (m_wake[1] >= 0) [[maybe_unused]]
            auto n = ::write(m_wake[1], &byte, 1);
    }

    Head headOf(const Waiting& w) const
    {
        const std::string& b = w.buffer;
        const size_t end = std::min(b.find("\r\n\r\n"), b.find("\n\n"));
        const size_t lineEnd = b.find('\n');
        const size_t line = lineEnd == std::string::npos ? b.size() : lineEnd;
        if (line > m_limits.maxRequestLineBytes)
            return Head::UriTooLong;
        if (end != std::string::npos)
            return end > m_limits.maxHeaderBytes ? Head::TooLarge : Head::Complete;
        return b.size() > m_limits.maxHeaderBytes ? Head::TooLarge : Head::Partial;
    }

    void watch()
    {
        std::vector<Waiting> waiting;
        std::vector<pollfd> fds;
        for (;;) {
            {
                std::lock_guard lock(m_mutex);
                if (m_stopping)
                    break;
                for (Waiting& w : m_incoming)
                    waiting.push_back(std::move(w));
                m_incoming.clear();
                m_count = waiting.size();
            }
            // Whoever is already whole goes on at once (a pipelined request, say).
            for (size_t i = 0; i < waiting.size();) {
                if (settle(waiting[i], headOf(waiting[i]))) {
                    waiting[i] = std::move(waiting.back());
                    waiting.pop_back();
                } else {
                    ++i;
                }
            }
            fds.assign(1, pollfd{m_wake[0], POLLIN, 0});
            auto next = Clock::now() + std::chrono::seconds(1);
            for (const Waiting& w : waiting) {
                fds.push_back(pollfd{w.sock, POLLIN, 0});
                next = std::min(next, w.deadline);
            }
            const auto ms =
                std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
            const int r = ::poll(fds.data(), nfds_t(fds.size()), int(std::clamp<qint64>(ms + 1, 0, 1000)));
            if (r < 0 && errno != EINTR)
                break;
            if (fds[0].revents & POLLIN) {
                char drain[64];
                while (::read(m_wake[0], drain, sizeof drain) > 0) {
                }
            }
            const auto now = Clock::now();
            std::vector<Waiting> still;
            still.reserve(waiting.size());
            for (size_t i = 0; i < waiting.size(); ++i) {
                Waiting& w = waiting[i];
                if (fds[i + 1].revents & (POLLIN | POLLHUP | POLLERR)) {
                    if (!receive(w)) {
                        ::close(w.sock);
                        continue;
                    }
                    if (settle(w, headOf(w)))
                        continue;
                } else if (now >= w.deadline) {
                    if (w.started)
                        answerAndClose(w.sock, 408, "Request Timeout");
                    else
                        ::close(w.sock); // an idle connection simply ends
                    continue;
                }
                still.push_back(std::move(w));
            }
            waiting = std::move(still);
        }
        for (Waiting& w : waiting)
            ::close(w.sock);
        std::lock_guard lock(m_mutex);
        for (Waiting& w : m_incoming)
            ::close(w.sock);
        m_incoming.clear();
    }

    // False when the client has gone.
    bool receive(Waiting& w)
    {
        char chunk[4096];
        const ssize_t n = ::recv(w.sock, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n == 0)
            return false;
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        if (!w.started) {
            w.started = true;
            w.deadline = Clock::now() + std::chrono::seconds(m_limits.headerSeconds);
        }
        w.buffer.append(chunk, size_t(n));
        return true;
    }

    // Hands on or answers a connection whose head is known; false while it is still coming.
    bool settle(Waiting& w, Head head)
    {
        switch (head) {
        case Head::Partial:
            return false;
        case Head::Complete:
            m_ready(w.sock, std::move(w.buffer));
            return true;
        case Head::UriTooLong:
            answerAndClose(w.sock, 414, "URI Too Long");
            return true;
        case Head::TooLarge:
            answerAndClose(w.sock, 431, "Request Header Fields Too Large");
            return true;
        }
        return false;
    }

    const ServerLimits& m_limits;
    Ready m_ready;
    int m_wake[2] = {-1, -1};
    std::mutex m_mutex;
    std::vector<Waiting> m_incoming;
    size_t m_count = 0;
    bool m_stopping = false;
    std::thread m_thread;
};

namespace {

// The library's accepting thread hands each new connection straight to the gate.
class AcceptedToGate final : public httplib::TaskQueue {
public:
    explicit AcceptedToGate(std::function<void()> onShutdown)
        : m_onShutdown(std::move(onShutdown))
    {
    }
    void enqueue(std::function<void()> fn) override { fn(); }
    void shutdown() override { m_onShutdown(); }

private:
    std::function<void()> m_onShutdown;
};

} // namespace

SiteServer::SiteServer(const QString& siteRoot, ServerLimits limits)
    : m_engine(siteRoot)
    , m_limits(limits)
{
    m_workers = std::make_unique<WorkerPool>(m_limits.workers);
    m_gate = std::make_unique<ConnectionGate>(m_limits, [this](int sock, std::string buffered) {
        auto job = std::make_shared<std::string>(std::move(buffered));
        m_workers->enqueue([this, sock, job] { serveConnection(sock, std::move(*job)); });
    });
    new_task_queue = [this] {
        return new AcceptedToGate([this] {
            m_gate->stop();
            m_workers->shutdown();
        });
    };
    set_keep_alive_max_count(1000);
    set_keep_alive_timeout(m_limits.keepAliveSeconds);
    set_read_timeout(m_limits.readTimeoutSeconds);
    set_write_timeout(m_limits.readTimeoutSeconds);
    set_payload_max_length(m_limits.maxBodyBytes);
    // Without SO_REUSEPORT: a second server on the same port must fail, not share the port.
    set_socket_options([](socket_t sock) {
        const int yes = 1, no = 0;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        // One socket on "::" takes IPv4 clients too (as ::ffff:a.b.c.d).
        setsockopt(sock, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
    });
    set_default_headers({{"Server", serverName}, {"X-Content-Type-Options", "nosniff"}});

    Get(".*", [this](const httplib::Request& req, httplib::Response& res) { handle(req, res, {}); });
    Post(".*", [this](const httplib::Request& req, httplib::Response& res,
                      const httplib::ContentReader& reader) {
        if (!refuseUnreadableForm(req, res)) {
            res.set_header("Connection", "close"); // the body is left unread
            return;
        }
        std::string body;
        const bool read = reader([&](const char* data, size_t length) {
            body.append(data, length);
            return body.size() <= m_limits.maxBodyBytes;
        });
        if (!read) {
            // The library has said 413 for a Content-Length above the limit; a chunked body
            // that grows past it stops here.
            if (res.status < 400 || body.size() > m_limits.maxBodyBytes)
                res.status = body.size() > m_limits.maxBodyBytes ? 413 : res.status < 400 ? 400 : res.status;
            return;
        }
        handle(req, res, body);
    });
    auto notAllowed = [](const httplib::Request&, httplib::Response& res) {
        res.status = 405;
        res.set_header("Allow", "GET, HEAD, POST");
    };
    Put(".*", notAllowed);
    Delete(".*", notAllowed);
    Patch(".*", notAllowed);
    Options(".*", notAllowed);

    set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty())
            res.set_content(messagePage(statusTitle(res.status)).toStdString(), "text/html; charset=GBK");
    });
    set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        res.status = 500;
        res.set_content(messagePage(statusTitle(500)).toStdString(), "text/html; charset=GBK");
    });
}

namespace {

// Whether this computer can listen on IPv6 at all (a kernel may have it switched off).
bool hasIpv6()
{
    const int probe = ::socket(AF_INET6, SOCK_STREAM, 0);
    if (probe < 0)
        return false;
    sockaddr_in6 addr{};
    addr.sin6_family = AF_INET6;
    addr.sin6_addr = in6addr_loopback;
    const bool ok = ::bind(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(probe);
    return ok;
}

// Binds a socket of our own the way the server will, to learn why binding fails.
int probeBind(const std::string& host, int port)
{
    sockaddr_storage addr{};
    socklen_t length = 0;
    int family = AF_INET;
    if (host.find(':') != std::string::npos) {
        family = AF_INET6;
        auto* a = reinterpret_cast<sockaddr_in6*>(&addr);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(quint16(port));
        inet_pton(AF_INET6, host.c_str(), &a->sin6_addr);
        length = sizeof *a;
    } else {
        auto* a = reinterpret_cast<sockaddr_in*>(&addr);
        a->sin_family = AF_INET;
        a->sin_port = htons(quint16(port));
        inet_pton(AF_INET, host.c_str(), &a->sin_addr);
        length = sizeof *a;
    }
    const int probe = ::socket(family, SOCK_STREAM, 0);
    const int yes = 1, no = 0;
    setsockopt(probe, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (family == AF_INET6)
        setsockopt(probe, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
    const int rc = ::bind(probe, reinterpret_cast<sockaddr*>(&addr), length);
    const int error = errno;
    ::close(probe);
    return rc == 0 ? 0 : error;
}

} // namespace

SiteServer::BindError SiteServer::bind(const QString& host, int port, QString* reason)
{
    // "All addresses" means IPv6 ones too, where the computer has IPv6.
    const std::string address = host == u"0.0.0.0" && hasIpv6() ? std::string("::") : host.toStdString();
    if (port != 0) {
        // The library only says that binding failed; a socket of our own says why.
        if (const int error = probeBind(address, port); error != 0) {
            if (reason)
                *reason = QString::fromLocal8Bit(strerror(error));
            if (error == EADDRINUSE)
                return BindError::InUse;
            if (error == EACCES || error == EPERM)
                return BindError::NoPermission;
            return BindError::Other;
        }
        if (!bind_to_port(address, port)) {
            if (reason)
                *reason = QStringLiteral("无法监听端口 %1").arg(port);
            return BindError::Other;
        }
        m_port = port;
    } else {
        m_port = bind_to_any_port(address);
        if (m_port < 0) {
            if (reason)
                *reason = QStringLiteral("没有空闲的端口");
            return BindError::Other;
        }
    }
    // The library listens with a backlog of 5: a room of browsers opening their connections at
    // once would see theirs dropped and retried a second later. Listening again enlarges it.
    ::listen(svr_sock_, SOMAXCONN);
    return BindError::None;
}

SiteServer::~SiteServer()
{
    m_gate->stop();
    m_workers->shutdown();
}

bool SiteServer::process_and_close_socket(socket_t sock)
{
    const int yes = 1;
    setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    m_gate->add(sock, {}, false);
    return true;
}

void SiteServer::serveConnection(int sock, std::string buffered)
{
    ConnectionStream stream(sock, m_limits, std::move(buffered));
    bool closed = false;
    const bool ok = svr_sock_ != INVALID_SOCKET && process_request(stream, false, closed, nullptr);
    if (ok && !closed && svr_sock_ != INVALID_SOCKET) {
        m_gate->add(sock, stream.leftover(), true);
        return;
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
}

void SiteServer::handle(const httplib::Request& req, httplib::Response& res, const std::string& body)
{
    const QByteArray target = QByteArray::fromStdString(req.target);
    const qsizetype question = target.indexOf('?');
    const QByteArray rawPath = question < 0 ? target : target.left(question);
    const QByteArray query = question < 0 ? QByteArray() : target.mid(question + 1);

    const auto decoded = SitePath::decode(rawPath);
    if (!decoded) {
        res.status = 404;
        return;
    }
    QString sitePath = *decoded;
    if (sitePath.endsWith(u'/')) {
        sitePath += QStringLiteral("index.asp");
    } else if (const auto folder = m_engine.cache().fileOf(sitePath); folder && QFileInfo(*folder).isDir()) {
        // A folder's pages link relative to it: send the browser to its address with a slash.
        res.set_redirect(
            rawPath.toStdString() + '/' + (query.isEmpty() ? std::string() : '?' + query.toStdString()), 301);
        return;
    }

    // A link inside the site is followed, but what it leads to must be of the kind asked for:
    // photo.jpg pointing at the database is still the database.
    const SitePath::Kind kind = SitePath::kindOf(sitePath);
    if (const auto file = m_engine.cache().fileOf(sitePath);
        file && SitePath::kindOf(QFileInfo(*file).canonicalFilePath()) != kind) {
        res.status = 404;
        return;
    }
    switch (kind) {
    case SitePath::Kind::Page:
        servePage(sitePath, query, req, res, body);
        return;
    case SitePath::Kind::File:
        serveFile(sitePath, res);
        return;
    case SitePath::Kind::Refused:
        res.status = 404;
        return;
    }
}

// The site's forms post their fields urlencoded; a body of files or parts in another form
// would reach the page as no fields at all, so the sender is told why instead.
bool SiteServer::refuseUnreadableForm(const httplib::Request& req, httplib::Response& res)
{
    const std::string type = req.get_header_value("Content-Type");
    if (type.rfind("multipart/", 0) != 0)
        return true;
    res.status = 415;
    res.set_content(
        messagePage(QStringLiteral("415 不支持这种提交方式"),
                    QStringLiteral("本站的网页只接受普通的表单提交（application/x-www-form-urlencoded），"
                                   "不接受上传文件的表单（multipart/form-data）。请不要选择文件，"
                                   "直接提交表单。"))
            .toStdString(),
        "text/html; charset=GBK");
    return false;
}

void SiteServer::servePage(const QString& sitePath, const QByteArray& query, const httplib::Request& req,
                           httplib::Response& res, const std::string& body)
{
    asp::PageRequest request;
    request.method = QByteArray::fromStdString(req.method);
    request.query = query;
    request.body = QByteArray::fromStdString(body);
    for (const auto& [name, value] : req.headers) {
        if (name != "REMOTE_ADDR" && name != "REMOTE_PORT" && name != "LOCAL_ADDR" && name != "LOCAL_PORT")
            request.headers.emplace_back(QByteArray::fromStdString(name), QByteArray::fromStdString(value));
    }
    request.remoteAddress = QString::fromStdString(req.remote_addr);
    request.localAddress = QString::fromStdString(req.local_addr);
    request.serverPort = m_port;

    const bool post = req.method == "POST";
    const QString throttleKey = request.remoteAddress + u'\n' + sitePath;
    if (post)
        std::this_thread::sleep_until(m_throttle.admit(throttleKey));

    SessionStore::Lease lease(m_sessions, SessionStore::idFromCookies(request.header("Cookie")));
    asp::PageResponse page;
    if (!m_engine.run(sitePath, request, &lease, page)) {
        lease.finish();
        res.status = 404;
        return;
    }
    const QByteArray cookie = lease.finish(post);
    if (post && page.status == 403)
        m_throttle.refused(throttleKey);

    res.status = page.status;
    bool cacheControl = false;
    for (const auto& [name, value] : page.headers) {
        cacheControl = cacheControl || name.compare("Cache-Control", Qt::CaseInsensitive) == 0;
        res.headers.emplace(name.toStdString(), value.toStdString());
    }
    if (!cookie.isEmpty())
        res.headers.emplace("Set-Cookie", cookie.toStdString());
    if (!cacheControl)
        res.set_header("Cache-Control", "private, no-cache");
    QByteArray type = page.contentType;
    if (type.startsWith("text/") && !type.contains("charset"))
        type += "; charset=" + page.charset;
    res.set_content(page.body.constData(), size_t(page.body.size()), type.constData());
}

void SiteServer::serveFile(const QString& sitePath, httplib::Response& res)
{
    const auto file = m_engine.cache().fileOf(sitePath);
    QFile f(file.value_or(QString()));
    if (!file || !QFileInfo(*file).isFile() || f.size() > maxStaticFileBytes
        || !f.open(QIODevice::ReadOnly)) {
        res.status = 404;
        return;
    }
    const QByteArray bytes = f.readAll();
    res.set_header("Cache-Control", "no-cache");
    res.set_content(bytes.constData(), size_t(bytes.size()), SitePath::mimeType(sitePath).constData());
}

bool isOwnServerListening(int port)
{
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(1);
    client.set_read_timeout(2);
    const auto answer = client.Head("/");
    return answer && answer->get_header_value("Server") == serverName;
}
