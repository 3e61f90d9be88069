// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

namespace asp {

using NamedValues = std::vector<std::pair<QString, QString>>;

// Query strings and urlencoded form bodies: '+' is a blank, %XX a byte, and the bytes are
// GBK, because the browser sends a form in the encoding of the page that holds it.
NamedValues parseUrlEncoded(QByteArrayView raw);
// A stray '%' stays as browsers send it.
QByteArray percentDecode(QByteArrayView raw, bool plusIsSpace);
// For paths, where a broken escape is refused: nothing then.
std::optional<QByteArray> percentDecodeStrictly(QByteArrayView raw);
// "a=1; b=2" of a Cookie header, values percent-decoded.
NamedValues parseCookies(QByteArrayView header);

// Server.URLEncode: GBK bytes, blanks as '+'.
QByteArray urlEncode(QStringView text);

// The values of a name, case-insensitively; several are joined with ", " as classic ASP does.
std::optional<QString> lookup(const NamedValues& values, QStringView name);

} // namespace asp
