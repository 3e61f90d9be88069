// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/engine/Engine.h"

#include "server/engine/Interpreter.h"
#include "server/engine/PageObjects.h"
#include "server/engine/PageText.h"

#include <new>

namespace asp {

Engine::Engine(const QString& siteRoot)
    : m_cache(siteRoot)
{
}

namespace {

// The reason keeps its quotes as VBScript shows them; only markup is escaped.
QString escaped(const QString& text)
{
    QString out = text;
    out.replace(u'&', QLatin1String("&amp;"))
        .replace(u'<', QLatin1String("&lt;"))
        .replace(u'>', QLatin1String("&gt;"));
    return out;
}

} // namespace

QByteArray errorPage(const ScriptError& error)
{
    QString where = error.file;
    if (error.line > 0)
        where += QStringLiteral("，行 ") + QString::number(error.line);
    const QString html =
        QStringLiteral("<html><head><title>网页出错</title></head><body>\r\n"
                       "<font face=\"宋体\" size=2>\r\n<p>%1 <font face=\"宋体\" size=2>错误 '%2'</font>\r\n"
                       "<p>\r\n<font face=\"宋体\" size=2>%3</font>\r\n"
                       "<p>\r\n<font face=\"宋体\" size=2>%4</font>\r\n</font>\r\n</body></html>\r\n")
            .arg(escaped(error.source), error.code(), escaped(error.description), escaped(where));
    return encodeGbk(html);
}

bool Engine::run(const QString& sitePath, const PageRequest& request, SessionProvider* sessions,
                 PageResponse& response)
{
    const auto entry = m_cache.page(sitePath);
    if (!entry)
        return false;
    run(*entry, sitePath, request, sessions, response);
    return true;
}

void Engine::run(const PageCache::Entry& entry, const QString& sitePath, const PageRequest& request,
                 SessionProvider* sessions, PageResponse& response)
{
    auto fail = [&](const ScriptError& error) {
        response = PageResponse();
        response.status = 500;
        response.reason = "Internal Server Error";
        response.body = errorPage(error);
    };
    if (const auto* error = std::get_if<ScriptError>(&entry)) {
        fail(*error);
        return;
    }

    const auto& program = std::get<std::shared_ptr<const Program>>(entry);
    Interpreter interpreter(*program, response.body);
    interpreter.setDeadline(QDeadlineTimer(m_timeLimit));
    PageContext context{
        request, response, sessions, &m_application, m_cache.siteRoot(), sitePath, interpreter, {}, {}, {}};
    defineIntrinsics(interpreter, context);
    try {
        interpreter.run();
    } catch (const PageEnd&) {
    } catch (ScriptError& error) {
        if (error.file.isEmpty())
            error.file = sitePath;
        fail(error);
    } catch (const std::bad_alloc&) {
        fail(limitReached(QStringLiteral("内存不够")));
    }
}

} // namespace asp
