// SPDX-License-Identifier: GPL-3.0-or-later
#include "formats/workbook/XmlScanner.h"

#include <QByteArray>

#include <algorithm>
#include <cstring>

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

const char* find(const char* from, const char* end, const char* what)
{
    const size_t length = std::strlen(what);
    for (const char* p = from; p + length <= end; ++p) {
        p = static_cast<const char*>(std::memchr(p, what[0], size_t(end - p)));
        if (!p || p + length > end)
            return nullptr;
        if (std::memcmp(p, what, length) == 0)
            return p;
    }
    return nullptr;
}

QByteArrayView localPart(QByteArrayView name)
{
    const qsizetype colon = name.lastIndexOf(':');
    return colon < 0 ? name : name.sliced(colon + 1);
}

// Appends the character `&...;` at `p` stands for; answers where the text goes on.
const char* appendEntity(const char* p, const char* end, QByteArray& out)
{
    const char* semicolon = static_cast<const char*>(std::memchr(p, ';', size_t(end - p)));
    if (!semicolon || semicolon - p > 12) {
        out += '&';
        return p + 1;
    }
    const QByteArrayView entity(p + 1, semicolon - p - 1);
    if (entity == "lt")
        out += '<';
    else if (entity == "gt")
        out += '>';
    else if (entity == "amp")
        out += '&';
    else if (entity == "quot")
        out += '"';
    else if (entity == "apos")
        out += '\'';
    else if (entity.startsWith('#')) {
        bool ok = false;
        const uint code = entity.startsWith("#x") ? entity.sliced(2).toByteArray().toUInt(&ok, 16)
                                                  : entity.sliced(1).toByteArray().toUInt(&ok, 10);
        if (ok && code > 0 && code <= 0x10FFFF) {
            const char32_t character = code;
            out += QString::fromUcs4(&character, 1).toUtf8();
        }
    } else {
        out.append(p, semicolon - p + 1);
    }
    return semicolon + 1;
}

} // namespace

bool XmlScanner::fail()
{
    m_failed = true;
    m_at = m_end;
    return false;
}

bool XmlScanner::next()
{
    while (m_at < m_end) {
        const char* open = static_cast<const char*>(std::memchr(m_at, '<', size_t(m_end - m_at)));
        if (!open) {
            m_at = m_end;
            return false;
        }
        const char* p = open + 1;
        if (p < m_end && (*p == '?' || *p == '!')) {
            const char* close = nullptr;
            if (m_end - p >= 3 && std::memcmp(p, "!--", 3) == 0)
                close = find(p, m_end, "-->");
            else if (m_end - p >= 8 && std::memcmp(p, "![CDATA[", 8) == 0)
                close = find(p, m_end, "]]>");
            else
                close = static_cast<const char*>(std::memchr(p, '>', size_t(m_end - p)));
            if (!close)
                return fail();
            m_at = close + 1;
            continue;
        }
        m_start = p >= m_end || *p != '/';
        if (!m_start)
            ++p;
        const char* nameStart = p;
        while (p < m_end && !isSpace(*p) && *p != '>' && *p != '/')
            ++p;
        if (p == nameStart)
            return fail();
        m_name = localPart(QByteArrayView(nameStart, p - nameStart));
        // The tag ends at the first '>' outside quotes.
        const char* attributes = p;
        char quote = 0;
        while (p < m_end && (quote || *p != '>')) {
            if (quote && *p == quote)
                quote = 0;
            else if (!quote && (*p == '"' || *p == '\''))
                quote = *p;
            ++p;
        }
        if (p >= m_end)
            return fail();
        m_empty = m_start && p > attributes && p[-1] == '/';
        m_attributes = QByteArrayView(attributes, p - attributes - (m_empty ? 1 : 0));
        m_at = p + 1;
        return true;
    }
    return false;
}

QByteArrayView XmlScanner::attribute(QByteArrayView name) const
{
    const char* p = m_attributes.data();
    const char* end = p + m_attributes.size();
    while (p < end) {
        while (p < end && isSpace(*p))
            ++p;
        const char* nameStart = p;
        while (p < end && *p != '=' && !isSpace(*p))
            ++p;
        const QByteArrayView found(nameStart, p - nameStart);
        while (p < end && (isSpace(*p) || *p == '='))
            ++p;
        if (p >= end || (*p != '"' && *p != '\''))
            return {};
        const char quote = *p++;
        const char* valueStart = p;
        while (p < end && *p != quote)
            ++p;
        if (found == name)
            return QByteArrayView(valueStart, p - valueStart);
        ++p;
    }
    return {};
}

QString XmlScanner::text(qsizetype maxBytes, bool* cut)
{
    if (m_empty)
        return {};
    QByteArray out;
    const auto take = [&](const char* from, qsizetype size) {
        const qsizetype room = maxBytes < 0 ? size : std::max<qsizetype>(0, maxBytes - out.size());
        out.append(from, std::min(size, room));
        if (size > room && cut)
            *cut = true;
    };
    while (m_at < m_end) {
        const char* stop = m_at;
        while (stop < m_end && *stop != '<' && *stop != '&')
            ++stop;
        take(m_at, stop - m_at);
        m_at = stop;
        if (m_at >= m_end)
            break;
        if (*m_at == '&') {
            QByteArray entity;
            m_at = appendEntity(m_at, m_end, entity);
            take(entity.constData(), entity.size());
            continue;
        }
        if (m_end - m_at >= 9 && std::memcmp(m_at, "<![CDATA[", 9) == 0) {
            const char* close = find(m_at + 9, m_end, "]]>");
            if (!close) {
                fail();
                break;
            }
            take(m_at + 9, close - m_at - 9);
            m_at = close + 3;
            continue;
        }
        if (m_end - m_at >= 4 && std::memcmp(m_at, "<!--", 4) == 0) {
            const char* close = find(m_at + 4, m_end, "-->");
            m_at = close ? close + 3 : m_end;
            continue;
        }
        break;
    }
    return QString::fromUtf8(out);
}

void XmlScanner::skipElement()
{
    if (m_empty)
        return;
    int depth = 1;
    while (depth > 0 && next()) {
        if (!m_start)
            --depth;
        else if (!m_empty)
            ++depth;
    }
}
