// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/SiteServer.h"

#include "platform/Gbk.h"
#include "server/SitePath.h"

#include <QFileInfo>

#include <arpa/inet.h>
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

// Set on the accepting thread while it turns away a connection beyond the cap.
thread_local bool turningAway = false;

QByteArray messagePage(const QString& title)
{
    return gbk::encode(
        QStringLiteral("<html><head><title>%1</title></head><body><h2>%1</h2></body></html>").arg(title));
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
    case 503:
        return QStringLiteral("503 服务器忙，请稍后再试");
    default:
        return QString::number(status) + QStringLiteral(" 服务器错误");
    }
}

// The connections a server works on at once; one more is answered 503 at once instead of
// waiting behind clients that hold theirs open.
class ConnectionQueue final : public httplib::TaskQueue {
public:
    explicit ConnectionQueue(size_t capacity)
        : m_capacity(capacity)
    {
    }

    void enqueue(std::function<void()> fn) override
    {
        std::unique_lock lock(m_mutex);
        if (m_busy + m_jobs.size() >= m_capacity || m_stopping) {
            lock.unlock();
            turningAway = true;
            fn();
            turningAway = false;
            return;
        }
        m_jobs.push_back(std::move(fn));
        if (m_idle == 0 && m_threads.size() < m_capacity)
            m_threads.emplace_back([this] { work(); });
        m_ready.notify_one();
    }

    void shutdown() override
    {
        {
            std::lock_guard lock(m_mutex);
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
            ++m_idle;
            m_ready.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            --m_idle;
            if (m_jobs.empty())
                return;
            auto job = std::move(m_jobs.front());
            m_jobs.pop_front();
            ++m_busy;
            lock.unlock();
            job();
            lock.lock();
            --m_busy;
        }
    }

    const size_t m_capacity;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<std::function<void()>> m_jobs;
    std::vector<std::thread> m_threads;
    size_t m_busy = 0;
    size_t m_idle = 0;
    bool m_stopping = false;
};

// The socket of one connection as the library reads and writes it, counting the bytes of
// each request's headers and the time they take.
class ConnectionStream final : public httplib::Stream {
public:
    ConnectionStream(int sock, const ServerLimits& limits)
        : m_sock(sock)
        , m_limits(limits)
    {
        sockaddr_storage addr{};
        socklen_t length = sizeof addr;
        if (getpeername(sock, reinterpret_cast<sockaddr*>(&addr), &length) == 0)
            describe(addr, m_remoteAddress, m_remotePort);
        length = sizeof addr;
        if (getsockname(sock, reinterpret_cast<sockaddr*>(&addr), &length) == 0)
            describe(addr, m_localAddress, m_localPort);
    }

    const std::string& remoteAddress() const { return m_remoteAddress; }
    bool hasBuffered() const { return m_begin < m_end; }
    // A request whose headers never ended (too long, too slow, or no HTTP): what follows on
    // the connection cannot be told apart from it, so the connection ends with the answer.
    bool headersUnfinished() const { return m_inHeaders; }

    void startRequest()
    {
        m_inHeaders = true;
        m_headerBytes = 0;
        m_tail = 0;
        m_headerDeadline = Clock::now() + std::chrono::seconds(m_limits.headerSeconds);
    }

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
            const ssize_t n = ::recv(m_sock, m_buffer, sizeof m_buffer, 0);
            if (n <= 0)
                return n;
            m_begin = 0;
            m_end = size_t(n);
        }
        size_t n = std::min(size, m_end - m_begin);
        if (m_inHeaders) {
            for (size_t i = 0; i < n; ++i) {
                m_tail = (m_tail << 8) | quint8(m_buffer[m_begin + i]);
                if ((m_tail & 0xffffffffu) == 0x0d0a0d0au || (m_tail & 0xffffu) == 0x0a0au) {
                    m_inHeaders = false;
                    n = i + 1;
                    break;
                }
            }
            m_headerBytes += n;
            if (m_headerBytes > m_limits.maxHeaderBytes)
                return -1; // the library answers 400 and closes
        }
        std::memcpy(ptr, m_buffer + m_begin, n);
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
    static void describe(const sockaddr_storage& addr, std::string& ip, int& port)
    {
        char text[INET6_ADDRSTRLEN] = {};
        if (addr.ss_family == AF_INET) {
            const auto* a = reinterpret_cast<const sockaddr_in*>(&addr);
            inet_ntop(AF_INET, &a->sin_addr, text, sizeof text);
            port = ntohs(a->sin_port);
        } else if (addr.ss_family == AF_INET6) {
            const auto* a = reinterpret_cast<const sockaddr_in6*>(&addr);
            inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof text);
            port = ntohs(a->sin6_port);
        }
        ip = text;
    }

    Clock::duration readTimeout() const
    {
        const Clock::duration timeout = std::chrono::seconds(m_limits.readTimeoutSeconds);
        if (!m_inHeaders)
            return timeout;
        return std::max(Clock::duration::zero(), std::min(timeout, m_headerDeadline - Clock::now()));
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
    char m_buffer[4096];
    size_t m_begin = 0, m_end = 0;
    bool m_inHeaders = false;
    size_t m_headerBytes = 0;
    quint32 m_tail = 0;
    Clock::time_point m_headerDeadline;
    std::string m_remoteAddress, m_localAddress;
    int m_remotePort = 0, m_localPort = 0;
};

void answerBusyAndClose(int sock)
{
    const QByteArray body = messagePage(statusTitle(503));
    const QByteArray answer =
        "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/html; charset=GBK\r\nRetry-After: 1\r\n"
        "Connection: close\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    ::send(sock, answer.constData(), size_t(answer.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
    // What the client sent is read away, so closing does not reset the answer away.
    char drain[4096];
    while (::recv(sock, drain, sizeof drain, MSG_DONTWAIT) > 0) {
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
}

} // namespace

SiteServer::SiteServer(const QString& siteRoot, ServerLimits limits)
    : m_engine(siteRoot)
    , m_limits(limits)
{
    new_task_queue = [this] { return new ConnectionQueue(m_limits.maxConnections); };
    set_keep_alive_max_count(1000);
    set_keep_alive_timeout(m_limits.keepAliveSeconds);
    set_read_timeout(m_limits.readTimeoutSeconds);
    set_write_timeout(m_limits.readTimeoutSeconds);
    set_payload_max_length(m_limits.maxBodyBytes);
    // Without SO_REUSEPORT: a second server on the same port must fail, not share the port.
    set_socket_options([](socket_t sock) {
        const int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    set_default_headers({{"Server", serverName}, {"X-Content-Type-Options", "nosniff"}});

    Get(".*", [this](const httplib::Request& req, httplib::Response& res) { handle(req, res, {}); });
    Post(".*", [this](const httplib::Request& req, httplib::Response& res,
                      const httplib::ContentReader& reader) {
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

SiteServer::BindError SiteServer::bind(const QString& host, int port, QString* reason)
{
    if (port != 0) {
        // The library only says that binding failed; a socket of our own says why.
        const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
        const int yes = 1;
        setsockopt(probe, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(quint16(port));
        inet_pton(AF_INET, host.toLatin1().constData(), &addr.sin_addr);
        const int rc = ::bind(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        const int error = errno;
        ::close(probe);
        if (rc != 0) {
            if (reason)
                *reason = QString::fromLocal8Bit(strerror(error));
            if (error == EADDRINUSE)
                return BindError::InUse;
            if (error == EACCES || error == EPERM)
                return BindError::NoPermission;
            return BindError::Other;
        }
        if (!bind_to_port(host.toStdString(), port)) {
            if (reason)
                *reason = QStringLiteral("无法监听端口 %1").arg(port);
            return BindError::Other;
        }
        m_port = port;
        return BindError::None;
    }
    m_port = bind_to_any_port(host.toStdString());
    if (m_port < 0) {
        if (reason)
            *reason = QStringLiteral("没有空闲的端口");
        return BindError::Other;
    }
    return BindError::None;
}

bool SiteServer::admit(const std::string& address)
{
    std::lock_guard lock(m_mutex);
    size_t& count = m_connections[address];
    if (count >= m_limits.maxConnectionsPerAddress)
        return false;
    ++count;
    return true;
}

void SiteServer::release(const std::string& address)
{
    std::lock_guard lock(m_mutex);
    if (--m_connections[address] == 0)
        m_connections.erase(address);
}

bool SiteServer::process_and_close_socket(socket_t sock)
{
    if (turningAway) {
        answerBusyAndClose(sock);
        return false;
    }
    ConnectionStream stream(sock, m_limits);
    if (!admit(stream.remoteAddress())) {
        answerBusyAndClose(sock);
        return false;
    }
    const int yes = 1;
    setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);

    // Waits for the next request of a kept-alive connection, a little at a time, so the
    // server stops at once when asked to.
    auto nextRequest = [&] {
        if (stream.hasBuffered())
            return true;
        const auto deadline = Clock::now() + std::chrono::seconds(m_limits.keepAliveSeconds);
        while (svr_sock_ != INVALID_SOCKET && Clock::now() < deadline) {
            pollfd p{sock, POLLIN, 0};
            const int r = ::poll(&p, 1, 100);
            if (r > 0)
                return true;
            if (r < 0 && errno != EINTR)
                return false;
        }
        return false;
    };

    bool ok = false;
    for (size_t left = 1000; left > 0 && svr_sock_ != INVALID_SOCKET && nextRequest(); --left) {
        stream.startRequest();
        bool closed = false;
        ok = process_request(stream, left == 1, closed, nullptr);
        if (!ok || closed || stream.headersUnfinished())
            break;
    }
    release(stream.remoteAddress());
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return ok;
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
    if (post)
        std::this_thread::sleep_until(m_throttle.admit(request.remoteAddress));

    SessionStore::Lease lease(m_sessions, SessionStore::idFromCookies(request.header("Cookie")));
    asp::PageResponse page;
    if (!m_engine.run(sitePath, request, &lease, page)) {
        lease.finish();
        res.status = 404;
        return;
    }
    const QByteArray cookie = lease.finish();
    if (post && page.status == 403)
        m_throttle.refused(request.remoteAddress);

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
