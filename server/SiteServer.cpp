// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/SiteServer.h"

#include "server/SitePath.h"
#include "server/StatusPage.h"

#include <QFileInfo>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstring>
#include <optional>

namespace {

constexpr qint64 maxStaticFileBytes = 64 << 20;

// What the request a worker runs asks of the worker: a form post that must wait its turn
// after a refused one goes back to the gate to wait there.
struct RunningRequest {
    bool waited = false;
    std::optional<std::chrono::steady_clock::time_point> deferUntil;
};
thread_local RunningRequest* running = nullptr;

// One request as the library reads it: the bytes the gate has read whole, never the socket,
// so a worker never waits for a client. The answer goes to the client as it is written, as
// far as the system takes it without waiting; the rest is kept for the gate to send.
class RequestStream final : public httplib::Stream {
public:
    explicit RequestStream(const ArrivedRequest& request)
        : m_request(request)
    {
    }

    // What came after this request: the start of the next one.
    std::string leftover() const { return m_request.bytes.substr(m_begin); }
    // The start of the answer, its status line and headers.
    const std::string& head() const { return m_head; }
    // Sends what is still held; what the client does not take now is the gate's to send.
    std::string finish()
    {
        if (!m_held.empty())
            send({}, m_held.data(), m_held.size());
        m_held.clear();
        return std::move(m_unsent);
    }

    bool is_readable() const override { return m_begin < m_request.bytes.size(); }
    bool is_writable() const override { return true; }

    ssize_t read(char* ptr, size_t size) override
    {
        const size_t n = std::min(size, m_request.bytes.size() - m_begin);
        std::memcpy(ptr, m_request.bytes.data() + m_begin, n);
        m_begin += n;
        return ssize_t(n);
    }

    ssize_t write(const char* ptr, size_t size) override
    {
        // A request that must wait its turn runs again later; this answer is not its answer.
        if (running && running->deferUntil)
            return ssize_t(size);
        if (m_head.empty())
            m_head.assign(ptr, size);
        // The head and other small pieces wait for the body, to go with it in one call.
        if (m_unsent.empty() && size < heldPiece) {
            m_held.append(ptr, size);
            return ssize_t(size);
        }
        send(m_held, ptr, size);
        m_held.clear();
        return ssize_t(size);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override
    {
        ip = m_request.ends.remoteAddress;
        port = m_request.ends.remotePort;
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override
    {
        ip = m_request.ends.localAddress;
        port = m_request.ends.localPort;
    }
    socket_t socket() const override { return m_request.sock; }

private:
    static constexpr size_t heldPiece = 4096;

    // `first`, then the piece, in one call: what the socket does not take now is kept, in order.
    void send(std::string_view first, const char* piece, size_t size)
    {
        size_t fromFirst = 0, fromPiece = 0;
        while (m_unsent.empty() && (fromFirst < first.size() || fromPiece < size)) {
            iovec parts[2];
            size_t count = 0;
            if (fromFirst < first.size())
                parts[count++] = {const_cast<char*>(first.data()) + fromFirst, first.size() - fromFirst};
            parts[count++] = {const_cast<char*>(piece) + fromPiece, size - fromPiece};
            msghdr message{};
            message.msg_iov = parts;
            message.msg_iovlen = count;
            const ssize_t n = ::sendmsg(m_request.sock, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n <= 0)
                break;
            const size_t taken = std::min(size_t(n), first.size() - fromFirst);
            fromFirst += taken;
            fromPiece += size_t(n) - taken;
        }
        m_unsent.append(first.substr(fromFirst)).append(piece + fromPiece, size - fromPiece);
    }

    const ArrivedRequest& m_request;
    size_t m_begin = 0;
    std::string m_head;
    std::string m_held;   // small pieces not yet sent
    std::string m_unsent; // what the client did not take: from here on, everything is kept
};

// The library keeps a connection open after a request it could not read, and after a page
// that asked for it to close (a form refused unread); neither can go on.
bool endsConnection(std::string_view answer)
{
    const size_t end = answer.find("\r\n\r\n");
    const std::string_view head = answer.substr(0, end == answer.npos ? answer.size() : end + 2);
    return head.starts_with("HTTP/1.1 400 ") || head.find("\r\nConnection: close\r\n") != head.npos;
}

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
    , m_gate(std::make_unique<ConnectionGate>(m_limits,
                                              [this](const ArrivedRequest& request) { return run(request); }))
{
    // Threads start with listening, so a server that forks first keeps them.
    new_task_queue = [this] {
        m_gate->start();
        return new AcceptedToGate([this] { m_gate->stop(); });
    };
    set_keep_alive_max_count(1000);
    set_keep_alive_timeout(m_limits.keepAliveSeconds);
    set_payload_max_length(m_limits.maxBodyBytes);
    // Without SO_REUSEPORT: a second server on the same port must fail, not share the port.
    set_socket_options([](socket_t sock) {
        const int yes = 1, no = 0;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        // One socket on "::" takes IPv4 clients too (as ::ffff:a.b.c.d).
        setsockopt(sock, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
    });
    set_default_headers({{"Server", StatusPage::serverName}, {"X-Content-Type-Options", "nosniff"}});

    Get(".*", [this](const httplib::Request& req, httplib::Response& res) { handle(req, res, {}); });
    Post(".*",
         [this](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
             if (!refuseUnreadableForm(req, res)) {
                 res.set_header("Connection", "close"); // the body is left unread
                 return;
             }
             // The gate has read the body whole and within its limit.
             std::string body;
             if (!reader([&](const char* data, size_t length) {
                     body.append(data, length);
                     return true;
                 })) {
                 res.status = 400;
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
            res.set_content(StatusPage::html(res.status).toStdString(), "text/html; charset=GBK");
    });
    set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        res.status = 500;
        res.set_content(StatusPage::html(500).toStdString(), "text/html; charset=GBK");
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

SiteServer::~SiteServer() { m_gate->stop(); }

bool SiteServer::process_and_close_socket(socket_t sock)
{
    m_gate->accept(sock);
    return true;
}

ConnectionGate::Outcome SiteServer::run(const ArrivedRequest& request)
{
    RunningRequest state{request.waited, std::nullopt};
    running = &state;
    RequestStream stream(request);
    bool closed = false;
    const bool ok = process_request(stream, false, closed, nullptr);
    running = nullptr;
    ConnectionGate::Outcome outcome;
    if (state.deferUntil) {
        outcome.deferred = true;
        outcome.until = *state.deferUntil;
        return outcome;
    }
    // Most answers fit in what the system buffers for the socket: they have gone already, and
    // the gate sends the rest to a client that reads slowly.
    outcome.unsent = stream.finish();
    outcome.close = closed || !ok || endsConnection(stream.head());
    outcome.leftover = stream.leftover();
    return outcome;
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
    const bool folder = decoded->endsWith(u'/');
    const QString sitePath = folder ? *decoded + QStringLiteral("index.asp") : *decoded;
    const SitePath::Kind kind = SitePath::kindOf(sitePath);
    // A page the engine keeps is still the very file that passed the checks below when it was
    // read: a link put in its place is another file, which the cache does not take for it.
    if (const auto page = kind == SitePath::Kind::Page ? m_engine.cache().current(sitePath) : std::nullopt) {
        servePage(sitePath, query, req, res, body, &*page);
        return;
    }
    const auto file = m_engine.cache().realFileOf(sitePath);
    if (!folder && file && QFileInfo(*file).isDir()) {
        // A folder's pages link relative to it: send the browser to its address with a slash.
        res.set_redirect(
            rawPath.toStdString() + '/' + (query.isEmpty() ? std::string() : '?' + query.toStdString()), 301);
        return;
    }

    // A link inside the site is followed, but what it leads to must be of the kind asked for:
    // photo.jpg pointing at the database is still the database.
    if (file && SitePath::kindOf(*file) != kind) {
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
        StatusPage::html(
            415, QStringLiteral("本站的网页只接受普通的表单提交（application/x-www-form-urlencoded），"
                                "不接受上传文件的表单（multipart/form-data）。请不要选择文件，"
                                "直接提交表单。"))
            .toStdString(),
        "text/html; charset=GBK");
    return false;
}

void SiteServer::servePage(const QString& sitePath, const QByteArray& query, const httplib::Request& req,
                           httplib::Response& res, const std::string& body,
                           const asp::PageCache::Entry* cached)
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
    if (post && running && !running->waited) {
        if (const auto turn = m_throttle.admit(throttleKey); turn > RefusalThrottle::Clock::now()) {
            running->deferUntil = turn;
            return;
        }
    }

    SessionStore::Lease lease(m_sessions, SessionStore::idFromCookies(request.header("Cookie")));
    asp::PageResponse page;
    page.body.reserve(64 * 1024); // a class page or a photo, without growing on the way
    if (cached) {
        m_engine.run(*cached, sitePath, request, &lease, page);
    } else if (!m_engine.run(sitePath, request, &lease, page)) {
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
    return answer && answer->get_header_value("Server") == StatusPage::serverName;
}
