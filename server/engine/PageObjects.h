// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "server/engine/FormData.h"
#include "server/engine/Interpreter.h"
#include "server/engine/Page.h"

#include <optional>

namespace asp {

// Everything the built-in objects of one page run share.
struct PageContext {
    const PageRequest& request;
    PageResponse& response;
    SessionProvider* sessions = nullptr;
    ApplicationState* application = nullptr;
    QString siteRoot; // the folder served, on disk
    QString pagePath; // the page's site path, such as /index.asp
    Interpreter& interpreter;

    // Decoded when a page first asks for them.
    std::optional<NamedValues> query, form, cookies;
    const NamedValues& queryValues();
    const NamedValues& formValues();
    const NamedValues& cookieValues();
    std::optional<QString> serverVariable(const QString& name) const;
};

// Request, Response, Server, Session, Application and Err, as the page's global names.
void defineIntrinsics(Interpreter& interpreter, PageContext& context);

// Server.HTMLEncode, also for quotes, so a value is safe inside an attribute.
QString htmlEncode(const QString& text);

} // namespace asp
