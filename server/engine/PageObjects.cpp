// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/engine/PageObjects.h"

#include "server/engine/Ado.h"
#include "server/engine/PageText.h"
#include "server/engine/Scanner.h"
#include "server/engine/ScriptError.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

namespace asp {

QByteArray PageRequest::header(QByteArrayView name) const
{
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

const NamedValues& PageContext::queryValues()
{
    if (!query)
        query = parseUrlEncoded(request.query);
    return *query;
}

const NamedValues& PageContext::formValues()
{
    if (!form) {
        // Only urlencoded bodies are fields; classic ASP leaves multipart bodies to the page too.
        const QByteArray type = request.header("Content-Type").toLower();
        form = type.startsWith("application/x-www-form-urlencoded") ? parseUrlEncoded(request.body)
                                                                    : NamedValues();
    }
    return *form;
}

const NamedValues& PageContext::cookieValues()
{
    if (!cookies)
        cookies = parseCookies(request.header("Cookie"));
    return *cookies;
}

std::optional<QString> PageContext::serverVariable(const QString& key) const
{
    const QString name = key.toUpper();
    const QString host = QString::fromLatin1(request.header("Host"));
    if (name == u"REQUEST_METHOD")
        return QString::fromLatin1(request.method);
    if (name == u"QUERY_STRING")
        return QString::fromLatin1(request.query);
    if (name == u"SCRIPT_NAME" || name == u"URL" || name == u"PATH_INFO")
        return pagePath;
    if (name == u"PATH_TRANSLATED")
        return siteRoot + pagePath;
    if (name == u"APPL_PHYSICAL_PATH")
        return siteRoot + u'/';
    if (name == u"SERVER_NAME")
        return host.isEmpty() ? request.localAddress : host.section(u':', 0, 0);
    if (name == u"SERVER_PORT")
        return QString::number(request.serverPort);
    if (name == u"SERVER_PROTOCOL")
        return QStringLiteral("HTTP/1.1");
    if (name == u"SERVER_SOFTWARE")
        return QStringLiteral("qinghe-asp");
    if (name == u"REMOTE_ADDR" || name == u"REMOTE_HOST")
        return request.remoteAddress;
    if (name == u"LOCAL_ADDR")
        return request.localAddress;
    if (name == u"HTTPS")
        return QStringLiteral("off");
    if (name == u"CONTENT_TYPE")
        return QString::fromLatin1(request.header("Content-Type"));
    if (name == u"CONTENT_LENGTH")
        return QString::number(request.body.size());
    if (name.startsWith(u"HTTP_")) {
        QByteArray header = name.mid(5).toLatin1();
        header.replace('_', '-');
        for (const auto& [k, v] : request.headers) {
            if (k.compare(header, Qt::CaseInsensitive) == 0)
                return decodeGbk(v);
        }
        return QString();
    }
    return std::nullopt;
}

QString htmlEncode(const QString& text)
{
    // Most values hold nothing to escape: they are given back as they are, not copied.
    const bool plain = std::none_of(text.begin(), text.end(), [](QChar c) {
        return c == u'<' || c == u'>' || c == u'&' || c == u'"' || c == u'\'';
    });
    if (plain)
        return text;
    QString out;
    out.reserve(text.size() + text.size() / 8);
    for (QChar c : text) {
        switch (c.unicode()) {
        case '<':
            out += QLatin1String("&lt;");
            break;
        case '>':
            out += QLatin1String("&gt;");
            break;
        case '&':
            out += QLatin1String("&amp;");
            break;
        case '"':
            out += QLatin1String("&quot;");
            break;
        case '\'':
            out += QLatin1String("&#39;");
            break;
        default:
            out += c;
        }
    }
    return out;
}

namespace {

QString argText(const Value& v)
{
    Value held;
    const Value& s = scalar(v, held);
    return s.isNull() ? QString() : s.toString();
}

// Header values come from pages; a line break in one would start a header of the page's choosing.
QByteArray headerSafe(const QByteArray& value)
{
    QByteArray out = value;
    out.replace('\r', ' ').replace('\n', ' ');
    return out;
}

class RequestCollection final : public Object {
public:
    enum class Kind { QueryString, Form, Cookies, ServerVariables };
    RequestCollection(PageContext& context, Kind kind)
        : m_context(context)
        , m_kind(kind)
    {
    }
    QString typeName() const override { return QStringLiteral("IRequestDictionary"); }

    Value get(const QString& name, const Args& args) override
    {
        if (name.isEmpty() || name == u"item") {
            if (args.empty())
                return Value::fromString(whole());
            const std::optional<QString> v = lookupValue(argText(args[0]));
            return v ? Value::fromString(*v) : Value();
        }
        if (name == u"count")
            return Value::fromLong(qint32(values().size()));
        if (name == u"key") {
            expectArgs(name, args, 1, 1);
            const qint32 i = scalar(args[0]).toLong();
            if (i < 1 || i > qint32(values().size()))
                throw invalidArgument(QStringLiteral("Key"));
            return Value::fromString(values()[size_t(i - 1)].first);
        }
        refuse(name);
    }

    std::vector<Value> items() override
    {
        std::vector<Value> keys;
        for (const auto& [key, value] : values())
            keys.push_back(Value::fromString(key));
        return keys;
    }

    std::optional<QString> lookupValue(const QString& key)
    {
        if (m_kind == Kind::ServerVariables)
            return m_context.serverVariable(key);
        return lookup(values(), key);
    }

private:
    const NamedValues& values()
    {
        static const NamedValues none;
        switch (m_kind) {
        case Kind::QueryString:
            return m_context.queryValues();
        case Kind::Form:
            return m_context.formValues();
        case Kind::Cookies:
            return m_context.cookieValues();
        default:
            return none;
        }
    }

    QString whole()
    {
        switch (m_kind) {
        case Kind::QueryString:
            return decodeGbk(m_context.request.query);
        case Kind::Form:
            return decodeGbk(m_context.request.body);
        case Kind::Cookies:
            return decodeGbk(m_context.request.header("Cookie"));
        default:
            return {};
        }
    }

    PageContext& m_context;
    Kind m_kind;
};

class RequestObject final : public Object {
public:
    explicit RequestObject(PageContext& context)
        : m_context(context)
    {
        using K = RequestCollection::Kind;
        for (K k : {K::QueryString, K::Form, K::Cookies, K::ServerVariables})
            m_collections.push_back(std::make_shared<RequestCollection>(context, k));
    }
    QString typeName() const override { return QStringLiteral("IRequest"); }

    Value get(const QString& name, const Args& args) override
    {
        int index = -1;
        if (name == u"querystring")
            index = 0;
        else if (name == u"form")
            index = 1;
        else if (name == u"cookies")
            index = 2;
        else if (name == u"servervariables")
            index = 3;
        if (index >= 0) {
            if (args.empty())
                return Value::fromObject(m_collections[size_t(index)]);
            return m_collections[size_t(index)]->get(QString(), args);
        }
        if (name.isEmpty() || name == u"item") {
            expectArgs(QStringLiteral("Item"), args, 1, 1);
            // Request("id") looks in the query string, the form, the cookies and the server variables.
            const QString key = argText(args[0]);
            for (const auto& collection : m_collections) {
                if (const auto v = collection->lookupValue(key))
                    return Value::fromString(*v);
            }
            return {};
        }
        if (name == u"totalbytes")
            return Value::fromLong(qint32(m_context.request.body.size()));
        if (name == u"binaryread") {
            expectArgs(name, args, 1, 1);
            return Value::fromBytes(m_context.request.body.left(scalar(args[0]).toLong()));
        }
        if (name == u"clientcertificate")
            throw unsupported(QStringLiteral("的属性：Request.ClientCertificate"));
        refuse(name);
    }

private:
    PageContext& m_context;
    std::vector<std::shared_ptr<RequestCollection>> m_collections;
};

class ResponseObject final : public Object {
public:
    explicit ResponseObject(PageContext& context)
        : m_context(context)
    {
    }
    QString typeName() const override { return QStringLiteral("IResponse"); }

    Value get(const QString& name, const Args& args) override
    {
        PageResponse& r = m_context.response;
        if (name == u"write") {
            expectArgs(name, args, 1, 1);
            appendValue(r.body, args[0]);
            return {};
        }
        if (name == u"binarywrite") {
            expectArgs(name, args, 1, 1);
            const Value v = scalar(args[0]);
            if (!v.isNull() && !v.isEmpty()) {
                const QByteArray bytes = v.toBytes();
                if (r.body.size() + bytes.size() > maxPageOutput)
                    throw limitReached(QStringLiteral("网页输出超过 64 MB"));
                // A photo is most often all a page sends: then the page's answer is the photo's
                // own bytes, not a copy.
                if (r.body.isEmpty())
                    r.body = bytes;
                else
                    r.body += bytes;
            }
            return {};
        }
        if (name == u"redirect") {
            expectArgs(name, args, 1, 1);
            redirect(argText(args[0]));
            m_context.interpreter.endPage();
            return {};
        }
        if (name == u"end") {
            m_context.interpreter.endPage();
            return {};
        }
        if (name == u"clear") {
            r.body.clear();
            return {};
        }
        if (name == u"flush" || name == u"appendtolog")
            return {};
        if (name == u"addheader") {
            expectArgs(name, args, 2, 2);
            r.headers.emplace_back(headerSafe(encodeGbk(argText(args[0]))),
                                   headerSafe(encodeGbk(argText(args[1]))));
            return {};
        }
        if (name == u"contenttype")
            return Value::fromString(QString::fromLatin1(r.contentType));
        if (name == u"charset")
            return Value::fromString(QString::fromLatin1(r.charset));
        if (name == u"status")
            return Value::fromString(QString::number(r.status) + u' ' + QString::fromLatin1(r.reason));
        if (name == u"buffer" || name == u"isclientconnected")
            return Value::fromBool(true);
        if (name == u"codepage")
            return Value::fromLong(936);
        if (name == u"cookies")
            throw unsupported(QStringLiteral("的属性：读取 Response.Cookies"));
        refuse(name);
    }

    void set(const QString& name, const Args& args, const Value& value) override
    {
        PageResponse& r = m_context.response;
        const QString text = argText(value);
        if (name == u"contenttype") {
            r.contentType = headerSafe(text.toLatin1()).trimmed();
        } else if (name == u"charset") {
            static const QStringList gbkNames = {"gbk", "gb2312", "gb18030", "cp936"};
            if (!gbkNames.contains(text.toLower()))
                throw unsupported(QStringLiteral("的字符集：") + text
                                  + QStringLiteral("（网页按 GBK 发送）"));
            r.charset = text.toLatin1();
        } else if (name == u"codepage") {
            if (scalar(value).toLong() != 936)
                throw unsupported(QStringLiteral("的代码页：") + text
                                  + QStringLiteral("（网页按 GBK 发送）"));
        } else if (name == u"status") {
            setStatus(text);
        } else if (name == u"buffer") {
            // Pages are always buffered, so any answer they give is kept whole.
        } else if (name == u"expires" || name == u"expiresabsolute") {
            setHeader("Cache-Control", "no-cache");
        } else if (name == u"cachecontrol") {
            setHeader("Cache-Control", headerSafe(text.toLatin1()));
        } else if (name == u"cookies") {
            expectArgs(name, args, 1, 1);
            setCookie(argText(args[0]), text);
        } else {
            refuse(name);
        }
    }

private:
    void setHeader(const QByteArray& header, const QByteArray& value)
    {
        auto& headers = m_context.response.headers;
        for (auto& [k, v] : headers) {
            if (k.compare(header, Qt::CaseInsensitive) == 0) {
                v = value;
                return;
            }
        }
        headers.emplace_back(header, value);
    }

    void setCookie(const QString& name, const QString& value)
    {
        const QByteArray key = urlEncode(name);
        auto& headers = m_context.response.headers;
        headers.erase(std::remove_if(headers.begin(), headers.end(),
                                     [&](const auto& h) {
                                         return h.first == "Set-Cookie" && h.second.startsWith(key + '=');
                                     }),
                      headers.end());
        headers.emplace_back("Set-Cookie",
                             key + '=' + urlEncode(value) + "; path=/; HttpOnly; SameSite=Strict");
    }

    void setStatus(const QString& text)
    {
        bool ok = false;
        const int code = text.section(u' ', 0, 0).toInt(&ok);
        if (!ok || code < 100 || code > 599)
            throw invalidArgument(QStringLiteral("Response.Status"));
        m_context.response.status = code;
        m_context.response.reason = headerSafe(text.section(u' ', 1).toLatin1()).trimmed();
    }

    void redirect(const QString& url)
    {
        PageResponse& r = m_context.response;
        // Non-ASCII characters of the address go as GBK bytes, the encoding of the site.
        QByteArray location;
        for (const char c : encodeGbk(url)) {
            const auto b = quint8(c);
            if (b >= 0x80 || b == ' ')
                location += '%' + QByteArray::number(b, 16).toUpper().rightJustified(2, '0');
            else if (b >= 0x20)
                location += c;
        }
        r.status = 302;
        r.reason = "Object moved";
        setHeader("Location", location);
        r.contentType = "text/html";
        r.body =
            "<head><title>Object moved</title></head><body><h1>Object Moved</h1>This object may be found <a "
            "HREF=\""
            + encodeGbk(htmlEncode(decodeGbk(location))) + "\">here</a>.</body>";
    }

    PageContext& m_context;
};

// ADODB.Stream as pages use it to send a picture of the site: Type = 1, Open, LoadFromFile,
// Read, Close. Only picture files inside the site are read, so a page cannot hand out the
// database or the pages themselves.
class PictureStream final : public Object {
public:
    explicit PictureStream(QString siteRoot)
        : m_siteRoot(std::move(siteRoot))
    {
    }
    QString typeName() const override { return QStringLiteral("Stream"); }

    Value get(const QString& name, const Args& args) override
    {
        if (name == u"open" || name == u"close") {
            m_open = name == u"open";
            if (!m_open)
                m_bytes.clear();
            return {};
        }
        if (name == u"type")
            return Value::fromLong(m_type);
        if (name == u"size")
            return Value::fromLong(qint32(m_bytes.size()));
        if (name == u"eos")
            return Value::fromBool(m_position >= m_bytes.size());
        if (name == u"position")
            return Value::fromLong(qint32(m_position));
        if (name == u"loadfromfile") {
            expectArgs(QStringLiteral("LoadFromFile"), args, 1, 1);
            load(argText(args[0]));
            return {};
        }
        if (name == u"read") {
            expectArgs(QStringLiteral("Read"), args, 0, 1);
            if (m_type != 1)
                throw unsupported(QStringLiteral("的用法：文本方式的 ADODB.Stream"));
            const qint32 count = args.empty() || scalar(args[0]).isEmpty() ? -1 : scalar(args[0]).toLong();
            const QByteArray part = m_bytes.mid(m_position, count < 0 ? -1 : count);
            m_position += part.size();
            return Value::fromBytes(part);
        }
        refuse(name);
    }

    void set(const QString& name, const Args&, const Value& value) override
    {
        if (name == u"type") {
            m_type = scalar(value).toLong();
            return;
        }
        if (name == u"position") {
            m_position = std::clamp<qsizetype>(scalar(value).toLong(), 0, m_bytes.size());
            return;
        }
        refuse(name);
    }

private:
    void load(const QString& path)
    {
        if (!m_open)
            throw ScriptError(ScriptError::Kind::Runtime, 3704, QStringLiteral("ADODB.Stream"),
                              QStringLiteral("对象关闭时，不允许操作。"));
        static const QStringList pictures = {"png", "jpg", "jpeg", "gif", "bmp"};
        const QFileInfo file(path);
        const QString real = file.canonicalFilePath();
        const QString root = QFileInfo(m_siteRoot).canonicalFilePath();
        if (real.isEmpty() || !real.startsWith(root + u'/')
            || !pictures.contains(QFileInfo(real).suffix().toLower())
            || !pictures.contains(file.suffix().toLower()))
            throw ScriptError(ScriptError::Kind::Runtime, 3002, QStringLiteral("ADODB.Stream"),
                              QStringLiteral("无法打开文件（只能读取网站中的图片文件）：") + path);
        QFile f(real);
        if (f.size() > (16 << 20) || !f.open(QIODevice::ReadOnly))
            throw ScriptError(ScriptError::Kind::Runtime, 3002, QStringLiteral("ADODB.Stream"),
                              QStringLiteral("无法打开文件：") + path);
        m_bytes = f.readAll();
        m_position = 0;
    }

    QString m_siteRoot;
    QByteArray m_bytes;
    qsizetype m_position = 0;
    qint32 m_type = 2;
    bool m_open = false;
};

class ServerObject final : public Object {
public:
    explicit ServerObject(PageContext& context)
        : m_context(context)
    {
    }
    QString typeName() const override { return QStringLiteral("IServer"); }

    Value get(const QString& name, const Args& args) override
    {
        if (name == u"mappath") {
            expectArgs(name, args, 1, 1);
            const QString path = argText(args[0]);
            const bool fromRoot = path.startsWith(u'/') || path.startsWith(u'\\');
            const QString site = resolveSitePath(m_context.pagePath, path, fromRoot);
            if (site.isEmpty())
                throw ScriptError(ScriptError::Kind::Runtime, 0x80004005, QStringLiteral("Server.MapPath()"),
                                  QStringLiteral("不允许的路径：'") + path + QStringLiteral("' 在网站之外"));
            return Value::fromString(site == u"/" ? m_context.siteRoot : m_context.siteRoot + site);
        }
        if (name == u"htmlencode") {
            expectArgs(name, args, 1, 1);
            return Value::fromString(htmlEncode(argText(args[0])));
        }
        if (name == u"urlencode") {
            expectArgs(name, args, 1, 1);
            return Value::fromString(QString::fromLatin1(urlEncode(argText(args[0]))));
        }
        if (name == u"createobject") {
            expectArgs(name, args, 1, 1);
            if (argText(args[0]).trimmed().compare(u"ADODB.Stream", Qt::CaseInsensitive) == 0)
                return Value::fromObject(std::make_shared<PictureStream>(m_context.siteRoot));
            return createAdoObject(argText(args[0]));
        }
        if (name == u"scripttimeout")
            return Value::fromLong(m_timeout);
        if (name == u"execute" || name == u"transfer" || name == u"getlasterror")
            throw unsupported(QStringLiteral("的方法：Server.") + name);
        refuse(name);
    }

    void set(const QString& name, const Args&, const Value& value) override
    {
        if (name != u"scripttimeout")
            refuse(name);
        m_timeout = std::clamp(scalar(value).toLong(), 1, 600);
        m_context.interpreter.setDeadline(QDeadlineTimer(qint64(m_timeout) * 1000));
    }

private:
    PageContext& m_context;
    qint32 m_timeout = 30;
};

class SessionObject final : public Object {
public:
    explicit SessionObject(PageContext& context)
        : m_context(context)
    {
    }
    QString typeName() const override { return QStringLiteral("ISessionObject"); }

    Value get(const QString& name, const Args& args) override
    {
        if (name.isEmpty() || name == u"contents" || name == u"item") {
            expectArgs(QStringLiteral("Contents"), args, 1, 1);
            SessionState* s = session(false);
            if (!s)
                return {};
            const auto it = s->values.find(argText(args[0]).toLower());
            return it == s->values.end() ? Value() : it->second;
        }
        if (name == u"abandon") {
            if (SessionState* s = session(false))
                s->abandoned = true;
            return {};
        }
        if (name == u"timeout") {
            SessionState* s = session(false);
            return Value::fromLong(s ? s->timeoutMinutes : 20);
        }
        if (name == u"sessionid")
            return Value::fromString(session(true)->id);
        if (name == u"codepage")
            return Value::fromLong(936);
        if (name == u"lcid")
            return Value::fromLong(2052);
        refuse(name);
    }

    void set(const QString& name, const Args& args, const Value& value) override
    {
        if (name.isEmpty() || name == u"contents" || name == u"item") {
            expectArgs(QStringLiteral("Contents"), args, 1, 1);
            // A session outlives the page; an ADO object kept in it would hold a database handle of
            // a thread the next request may not run on.
            if (value.isObject() && !value.isNothing())
                throw unsupported(QStringLiteral("在 Session 中保存对象"));
            SessionState* s = session(true);
            s->values[argText(args[0]).toLower()] = value.copied();
            ++s->writes;
            return;
        }
        if (name == u"timeout") {
            session(true)->timeoutMinutes = std::clamp(scalar(value).toLong(), 1, 1440);
            return;
        }
        if (name == u"codepage" || name == u"lcid")
            return;
        refuse(name);
    }

private:
    SessionState* session(bool create)
    {
        SessionState* s = m_context.sessions ? m_context.sessions->session(create) : nullptr;
        if (create && !s)
            throw runtimeError(0x80004005, QStringLiteral("这个网页不能使用 Session"));
        return s;
    }

    PageContext& m_context;
};

class ErrObject final : public Object {
public:
    explicit ErrObject(ErrState& err)
        : m_err(err)
    {
    }
    QString typeName() const override { return QStringLiteral("ErrObject"); }

    Value get(const QString& name, const Args& args) override
    {
        if (name.isEmpty() || name == u"number")
            return Value::fromLong(qint32(m_err.number));
        if (name == u"description")
            return Value::fromString(m_err.description);
        if (name == u"source")
            return Value::fromString(m_err.source);
        if (name == u"helpfile")
            return Value::fromString({});
        if (name == u"helpcontext")
            return Value::fromLong(0);
        if (name == u"clear") {
            m_err.clear();
            return {};
        }
        if (name == u"raise") {
            expectArgs(name, args, 1, 5);
            const qint32 number = scalar(args[0]).toLong();
            if (number == 0)
                throw invalidArgument(QStringLiteral("Err.Raise"));
            // What is not given is what VBScript itself would say of that number.
            const QString known = errDescriptionOf(number);
            ScriptError e(ScriptError::Kind::Runtime, number, errSourceOfVbscript,
                          known.isEmpty() ? QStringLiteral("Unknown runtime error") : known);
            if (args.size() > 1 && !scalar(args[1]).isEmpty())
                e.source = argText(args[1]);
            if (args.size() > 2 && !scalar(args[2]).isEmpty())
                e.description = argText(args[2]);
            throw e;
        }
        refuse(name);
    }

    void set(const QString& name, const Args&, const Value& value) override
    {
        if (name.isEmpty() || name == u"number")
            m_err.number = scalar(value).toLong();
        else if (name == u"description")
            m_err.description = argText(value);
        else if (name == u"source")
            m_err.source = argText(value);
        else
            refuse(name);
    }

private:
    ErrState& m_err;
};

} // namespace

class ApplicationObject final : public Object {
public:
    ApplicationObject(ApplicationState* state, QDeadlineTimer deadline)
        : m_state(state)
        , m_deadline(deadline)
    {
    }
    ~ApplicationObject() override
    {
        if (m_locked)
            m_state->lock.unlock();
    }
    QString typeName() const override { return QStringLiteral("IApplicationObject"); }

    Value get(const QString& name, const Args& args) override
    {
        if (name.isEmpty() || name == u"contents" || name == u"item") {
            expectArgs(QStringLiteral("Contents"), args, 1, 1);
            std::lock_guard guard(state().values);
            const auto it = m_state->data.find(argText(args[0]).toLower());
            return it == m_state->data.end() ? Value() : it->second.copied();
        }
        if (name == u"lock") {
            expectArgs(QStringLiteral("Lock"), args, 0, 0);
            if (!m_locked) {
                if (!state().lock.try_lock_until(deadline()))
                    throw limitReached(QStringLiteral("Application.Lock 等待太久"));
                m_locked = true;
            }
            return {};
        }
        if (name == u"unlock") {
            expectArgs(QStringLiteral("UnLock"), args, 0, 0);
            if (m_locked) {
                m_locked = false;
                m_state->lock.unlock();
            }
            return {};
        }
        refuse(name);
    }

    void set(const QString& name, const Args& args, const Value& value) override
    {
        if (!name.isEmpty() && name != u"contents" && name != u"item")
            refuse(name);
        expectArgs(QStringLiteral("Contents"), args, 1, 1);
        // Values outlive the page and are read by other pages' threads at once.
        if (value.isObject() && !value.isNothing())
            throw unsupported(QStringLiteral("在 Application 中保存对象"));
        Value stored = value.copied();
        const bool mine = m_locked;
        if (!mine && !state().lock.try_lock_until(deadline()))
            throw limitReached(QStringLiteral("Application.Lock 等待太久"));
        {
            std::lock_guard guard(m_state->values);
            m_state->data[argText(args[0]).toLower()] = std::move(stored);
        }
        if (!mine)
            m_state->lock.unlock();
    }

private:
    ApplicationState& state() const
    {
        if (!m_state)
            throw unsupported(QStringLiteral("的函数或对象：Application"));
        return *m_state;
    }
    std::chrono::steady_clock::time_point deadline() const
    {
        return std::chrono::steady_clock::now()
               + std::chrono::milliseconds(std::max<qint64>(0, m_deadline.remainingTime()));
    }

    ApplicationState* m_state;
    QDeadlineTimer m_deadline;
    bool m_locked = false;
};

void defineIntrinsics(Interpreter& interpreter, PageContext& context)
{
    // Made only for a page that names them: a photo needs no Session or Application.
    auto define = [&interpreter](const QString& name, auto make) {
        if (interpreter.uses(name))
            interpreter.define(name, Value::fromObject(make()));
    };
    define(QStringLiteral("application"),
           [&] { return std::make_shared<ApplicationObject>(context.application, interpreter.deadline()); });
    define(QStringLiteral("request"), [&] { return std::make_shared<RequestObject>(context); });
    define(QStringLiteral("response"), [&] { return std::make_shared<ResponseObject>(context); });
    define(QStringLiteral("server"), [&] { return std::make_shared<ServerObject>(context); });
    define(QStringLiteral("session"), [&] { return std::make_shared<SessionObject>(context); });
    define(QStringLiteral("err"), [&] { return std::make_shared<ErrObject>(interpreter.err()); });
}

} // namespace asp
