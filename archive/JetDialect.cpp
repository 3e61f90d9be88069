// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/JetDialect.h"

#include <QDateTime>

namespace JetDialect {

namespace {

bool isWordStart(QChar c) { return c.isLetter() || c == u'_' || c.unicode() >= 0x80; }
bool isWordChar(QChar c) { return c.isLetterOrNumber() || c == u'_' || c.unicode() >= 0x80; }

// Where a run quoted by `close` ends: after the closing mark, a doubled mark being part of the
// run when `doubles`.
qsizetype quotedEnd(QStringView sql, qsizetype from, QChar close, bool doubles)
{
    for (qsizetype i = from + 1; i < sql.size(); ++i) {
        if (sql[i] != close)
            continue;
        if (doubles && i + 1 < sql.size() && sql[i + 1] == close) {
            ++i;
            continue;
        }
        return i + 1;
    }
    return sql.size();
}

// A #date# holds digits, separators, blanks and AM/PM; anything else makes '#' a mere symbol.
qsizetype dateEnd(QStringView sql, qsizetype from)
{
    for (qsizetype i = from + 1; i < sql.size(); ++i) {
        const QChar c = sql[i];
        if (c == u'#')
            return i > from + 1 ? i + 1 : -1;
        if (!c.isDigit() && !QStringView(u"/-:. AaPpMm").contains(c))
            return -1;
    }
    return -1;
}

} // namespace

std::vector<Token> tokens(QStringView sql)
{
    std::vector<Token> out;
    qsizetype i = 0;
    const auto push = [&](TokenKind kind, qsizetype end) {
        out.push_back({kind, sql.sliced(i, end - i)});
        i = end;
    };
    while (i < sql.size()) {
        const QChar c = sql[i];
        const QChar next = i + 1 < sql.size() ? sql[i + 1] : QChar();
        qsizetype end = i + 1;
        if (c.isSpace()) {
            while (end < sql.size() && sql[end].isSpace())
                ++end;
            push(TokenKind::Space, end);
        } else if (c == u'-' && next == u'-') {
            end = sql.indexOf(u'\n', i);
            push(TokenKind::Comment, end < 0 ? sql.size() : end);
        } else if (c == u'/' && next == u'*') {
            end = sql.indexOf(QStringView(u"*/"), i + 2);
            push(TokenKind::Comment, end < 0 ? sql.size() : end + 2);
        } else if (c == u'\'') {
            push(TokenKind::Text, quotedEnd(sql, i, u'\'', true));
        } else if (c == u'"') {
            push(TokenKind::Name, quotedEnd(sql, i, u'"', true));
        } else if (c == u'[') {
            push(TokenKind::Bracket, quotedEnd(sql, i, u']', false));
        } else if (c == u'#' && dateEnd(sql, i) > 0) {
            push(TokenKind::Date, dateEnd(sql, i));
        } else if (c.isDigit()) {
            while (end < sql.size() && (sql[end].isDigit() || sql[end] == u'.'))
                ++end;
            push(TokenKind::Number, end);
        } else if (isWordStart(c)) {
            while (end < sql.size() && isWordChar(sql[end]))
                ++end;
            push(TokenKind::Word, end);
        } else {
            push(TokenKind::Symbol, end);
        }
    }
    return out;
}

QString nameOf(const Token& token)
{
    if (token.kind == TokenKind::Bracket)
        return token.text.sliced(1, token.text.size() - (token.text.endsWith(u']') ? 2 : 1)).toString();
    if (token.kind == TokenKind::Name) {
        QString name =
            token.text
                .sliced(1, token.text.size() - (token.text.size() > 1 && token.text.endsWith(u'"') ? 2 : 1))
                .toString();
        return name.replace(QStringLiteral("\"\""), QStringLiteral("\""));
    }
    return token.text.toString();
}

QString dateValue(const Token& token)
{
    const QString words = token.text.sliced(1, token.text.size() - 2).trimmed().toString();
    // Access reads a date with slashes month first, as the United States write it.
    static const char* const dateTimes[] = {"M/d/yyyy h:m:s",  "M/d/yyyy h:m",   "M/d/yyyy h:m:s AP",
                                            "M/d/yyyy h:m AP", "yyyy-M-d h:m:s", "yyyy-M-d h:m",
                                            "yyyy/M/d h:m:s",  "yyyy/M/d h:m"};
    static const char* const dates[] = {"M/d/yyyy", "yyyy-M-d", "yyyy/M/d"};
    QString value = words;
    for (const char* format : dateTimes) {
        if (const QDateTime when = QDateTime::fromString(words, QLatin1String(format)); when.isValid()) {
            value = when.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
            break;
        }
    }
    for (const char* format : dates) {
        if (const QDate day = QDate::fromString(words, QLatin1String(format)); day.isValid()) {
            value = day.toString(QStringLiteral("yyyy-MM-dd"));
            break;
        }
    }
    return u'\'' + value.replace(u'\'', QStringLiteral("''")) + u'\'';
}

qsizetype previousCounting(const std::vector<Token>& tokens, qsizetype index, int back)
{
    for (qsizetype i = index - 1; i >= 0; --i) {
        if (tokens[size_t(i)].counts() && --back == 0)
            return i;
    }
    return -1;
}

ColumnType columnType(const Token& token)
{
    if (token.isWord(u"AUTOINCREMENT") || token.isWord(u"COUNTER"))
        return ColumnType::Counter;
    if (token.isWord(u"OLEOBJECT") || token.isWord(u"LONGBINARY") || token.isWord(u"IMAGE")
        || token.isWord(u"BLOB"))
        return ColumnType::Bytes;
    if (token.isWord(u"varchar") || token.isWord(u"memo"))
        return ColumnType::Text;
    return ColumnType::Other;
}

bool isColumnType(const std::vector<Token>& tokens, qsizetype index)
{
    const qsizetype name = previousCounting(tokens, index);
    const qsizetype before = previousCounting(tokens, index, 2);
    if (name < 0 || before < 0)
        return false;
    const TokenKind kind = tokens[size_t(name)].kind;
    if (kind != TokenKind::Word && kind != TokenKind::Name && kind != TokenKind::Bracket)
        return false;
    const Token& opener = tokens[size_t(before)];
    return opener.isSymbol(u'(') || opener.isSymbol(u',') || opener.isWord(u"ADD")
           || opener.isWord(u"COLUMN");
}

qsizetype afterSize(const std::vector<Token>& tokens, qsizetype index)
{
    const auto next = [&tokens](qsizetype from) {
        while (from < qsizetype(tokens.size()) && !tokens[size_t(from)].counts())
            ++from;
        return from;
    };
    const qsizetype open = next(index + 1);
    if (open >= qsizetype(tokens.size()) || !tokens[size_t(open)].isSymbol(u'('))
        return index + 1;
    const qsizetype size = next(open + 1);
    if (size >= qsizetype(tokens.size()) || tokens[size_t(size)].kind != TokenKind::Number)
        return index + 1;
    const qsizetype close = next(size + 1);
    if (close >= qsizetype(tokens.size()) || !tokens[size_t(close)].isSymbol(u')'))
        return index + 1;
    return close + 1;
}

bool startsWith(const std::vector<Token>& tokens, std::initializer_list<QStringView> words)
{
    auto word = words.begin();
    for (const Token& token : tokens) {
        if (word == words.end())
            return true;
        if (!token.counts())
            continue;
        if (!token.isWord(*word))
            return false;
        ++word;
    }
    return word == words.end();
}

} // namespace JetDialect
