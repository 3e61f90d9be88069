// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/engine/PageText.h"

#include "server/engine/Object.h"
#include "server/engine/ScriptError.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace asp {

namespace {

void checkSize(const QByteArray& out, qsizetype adding)
{
    if (out.size() + adding > maxPageOutput)
        throw limitReached(QStringLiteral("网页输出超过 64 MB"));
}

bool isAscii(QStringView text)
{
    for (QChar c : text) {
        if (c.unicode() >= 0x80)
            return false;
    }
    return true;
}

} // namespace

QString decodeGbk(QByteArrayView bytes)
{
    thread_local QStringDecoder decoder("GB18030");
    decoder.resetState();
    return decoder.decode(bytes);
}

QByteArray encodeGbk(QStringView text)
{
    QByteArray out;
    appendGbk(out, text);
    return out;
}

void appendGbk(QByteArray& out, QStringView text)
{
    checkSize(out, text.size());
    if (isAscii(text)) {
        const qsizetype at = out.size();
        out.resize(at + text.size());
        char* p = out.data() + at;
        for (QChar c : text)
            *p++ = char(c.unicode());
        return;
    }
    // Straight into the page, without a string of its own for every value written.
    thread_local QStringEncoder encoder("GB18030");
    encoder.resetState();
    const qsizetype at = out.size();
    out.resize(at + encoder.requiredSpace(text.size()));
    out.resize(encoder.appendToBuffer(out.data() + at, text) - out.constData());
    checkSize(out, 0);
}

void appendValue(QByteArray& out, const Value& value)
{
    Value held;
    const Value& v = scalar(value, held);
    if (v.isEmpty() || v.isNull())
        return;
    if (v.type() == Value::Type::Bytes) {
        checkSize(out, v.bytes().size());
        out += v.bytes();
        return;
    }
    appendGbk(out, v.isString() ? v.string() : v.toString());
}

} // namespace asp
