// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/engine/FormData.h"

#include "server/engine/PageText.h"

#include <QByteArrayList>

namespace asp {

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::optional<QByteArray> percentDecodeStrictly(QByteArrayView raw)
{
    QByteArray out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] != '%') {
            out += raw[i];
            continue;
        }
        if (i + 2 >= raw.size() || hexDigit(raw[i + 1]) < 0 || hexDigit(raw[i + 2]) < 0)
            return std::nullopt;
        out += char(hexDigit(raw[i + 1]) * 16 + hexDigit(raw[i + 2]));
        i += 2;
    }
    return out;
}

QByteArray percentDecode(QByteArrayView raw, bool plusIsSpace)
{
    QByteArray out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '+' && plusIsSpace) {
            out += ' ';
        } else if (c == '%' && i + 2 < raw.size() && hexDigit(raw[i + 1]) >= 0 && hexDigit(raw[i + 2]) >= 0) {
            out += char(hexDigit(raw[i + 1]) * 16 + hexDigit(raw[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

NamedValues parseUrlEncoded(QByteArrayView raw)
{
    NamedValues values;
    qsizetype start = 0;
    while (start <= raw.size()) {
        qsizetype end = raw.indexOf('&', start);
        if (end < 0)
            end = raw.size();
        const QByteArrayView pair = raw.sliced(start, end - start);
        if (!pair.isEmpty()) {
            const qsizetype eq = pair.indexOf('=');
            const QByteArrayView name = eq < 0 ? pair : pair.first(eq);
            const QByteArrayView value = eq < 0 ? QByteArrayView() : pair.sliced(eq + 1);
            values.emplace_back(decodeGbk(percentDecode(name, true)), decodeGbk(percentDecode(value, true)));
        }
        start = end + 1;
    }
    return values;
}

NamedValues parseCookies(QByteArrayView header)
{
    NamedValues values;
    for (const QByteArray& part : header.toByteArray().split(';')) {
        const QByteArray item = part.trimmed();
        const qsizetype eq = item.indexOf('=');
        if (eq <= 0)
            continue;
        values.emplace_back(decodeGbk(percentDecode(item.first(eq), true)),
                            decodeGbk(percentDecode(item.sliced(eq + 1), true)));
    }
    return values;
}

QByteArray urlEncode(QStringView text)
{
    static const char digits[] = "0123456789ABCDEF";
    QByteArray out;
    for (const char c : encodeGbk(text)) {
        const auto b = quint8(c);
        if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || b == '-' || b == '_'
            || b == '.') {
            out += c;
        } else if (b == ' ') {
            out += '+';
        } else {
            out += '%';
            out += digits[b >> 4];
            out += digits[b & 15];
        }
    }
    return out;
}

std::optional<QString> lookup(const NamedValues& values, QStringView name)
{
    std::optional<QString> found;
    for (const auto& [key, value] : values) {
        if (key.compare(name, Qt::CaseInsensitive) != 0)
            continue;
        found = found ? *found + QStringLiteral(", ") + value : value;
    }
    return found;
}

} // namespace asp
