// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// The short pages the server answers with itself when no page of the site runs.
namespace StatusPage {

// What the Server header says, so that a second start knows its own server on the port.
inline constexpr char serverName[] = "qinghe-asp";

QString title(int status);
// A GBK page with the status as its title and an optional paragraph saying why.
QByteArray html(int status, const QString& reason = {});
// A whole HTTP answer with that page, after which the connection closes.
QByteArray closingAnswer(int status, const QString& reason = {});

} // namespace StatusPage
