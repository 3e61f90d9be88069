// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "server/engine/Value.h"

#include <QByteArray>
#include <QString>

namespace asp {

// The largest page the server builds; a runaway loop stops here instead of filling memory.
constexpr qsizetype maxPageOutput = 64 << 20;

// GBK at the page's edges, with one converter per thread: opening a converter for every
// Response.Write would cost more than the page itself.
QString decodeGbk(QByteArrayView bytes);
void appendGbk(QByteArray& out, QStringView text);
QByteArray encodeGbk(QStringView text);

// What Response.Write and <%= %> send for a value: nothing for Empty and Null, bytes as they are.
void appendValue(QByteArray& out, const Value& value);

} // namespace asp
