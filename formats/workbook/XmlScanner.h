// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>
#include <QString>

// Walks the tags of an XML part in one pass over its bytes, for parts too large to hold as a
// tree (a worksheet of a hundred thousand rows): no node is built and nothing is copied but
// the texts asked for. Comments, processing instructions and declarations are passed over;
// names are compared without their namespace prefix ("x:c" is "c").
class XmlScanner {
public:
    explicit XmlScanner(QByteArrayView xml)
        : m_at(xml.data())
        , m_end(xml.data() + xml.size())
    {
    }

    // Moves to the next start or end tag; false at the end of the part or where it is not
    // well formed (then failed() says so).
    bool next();
    bool isStart() const { return m_start; }
    // A start tag that is its own end (<c r="A1"/>).
    bool isEmptyElement() const { return m_empty; }
    QByteArrayView name() const { return m_name; }
    // The value of an attribute of the current start tag as written; empty when absent.
    QByteArrayView attribute(QByteArrayView name) const;

    // After a start tag: its text up to the next tag, entities and CDATA sections decoded.
    // Beyond `maxBytes` of it (in UTF-8) the rest is passed over and *cut set.
    QString text(qsizetype maxBytes = -1, bool* cut = nullptr);
    // After a start tag: passes over everything up to its own end tag.
    void skipElement();

    bool failed() const { return m_failed; }

private:
    bool fail();

    const char* m_at;
    const char* m_end;
    QByteArrayView m_name;
    QByteArrayView m_attributes;
    bool m_start = false;
    bool m_empty = false;
    bool m_failed = false;
};
