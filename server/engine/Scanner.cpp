// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/engine/Scanner.h"

#include "formats/Gbk.h"
#include "server/engine/DateText.h"
#include "server/engine/ScriptError.h"

#include <QHash>
#include <QRegularExpression>

#include <cmath>
#include <limits>

namespace asp {

namespace {

const QHash<QString, Kw>& keywords()
{
    static const QHash<QString, Kw> table = {
        {"and", Kw::And},           {"byref", Kw::ByRef},   {"byval", Kw::ByVal},
        {"call", Kw::Call},         {"case", Kw::Case},     {"class", Kw::Class},
        {"const", Kw::Const},       {"dim", Kw::Dim},       {"do", Kw::Do},
        {"else", Kw::Else},         {"elseif", Kw::ElseIf}, {"empty", Kw::Empty},
        {"end", Kw::End},           {"eqv", Kw::Eqv},       {"erase", Kw::Erase},
        {"exit", Kw::Exit},         {"false", Kw::False},   {"for", Kw::For},
        {"function", Kw::Function}, {"goto", Kw::GoTo},     {"if", Kw::If},
        {"imp", Kw::Imp},           {"is", Kw::Is},         {"let", Kw::Let},
        {"loop", Kw::Loop},         {"me", Kw::Me},         {"mod", Kw::Mod},
        {"new", Kw::New},           {"next", Kw::Next},     {"not", Kw::Not},
        {"nothing", Kw::Nothing},   {"null", Kw::Null},     {"on", Kw::On},
        {"option", Kw::Option},     {"or", Kw::Or},         {"private", Kw::Private},
        {"public", Kw::Public},     {"redim", Kw::ReDim},   {"select", Kw::Select},
        {"set", Kw::Set},           {"sub", Kw::Sub},       {"then", Kw::Then},
        {"true", Kw::True},         {"until", Kw::Until},   {"wend", Kw::Wend},
        {"while", Kw::While},       {"with", Kw::With},     {"xor", Kw::Xor},
    };
    return table;
}

bool isIdentifierStart(QChar c) { return c.isLetter(); }
bool isIdentifierPart(QChar c) { return c.isLetterOrNumber() || c == u'_'; }
bool isAsciiDigit(QChar c) { return c >= u'0' && c <= u'9'; }

int countLines(const QByteArray& bytes, qsizetype from, qsizetype to)
{
    int n = 0;
    for (qsizetype i = from; i < to; ++i)
        n += bytes[i] == '\n';
    return n;
}

class Scanner {
public:
    explicit Scanner(const IncludeLoader& loader)
        : m_loader(loader)
    {
    }

    ScannedPage take() { return std::move(m_out); }

    void scanFile(const QString& sitePath, const QByteArray& bytes, int depth)
    {
        if (m_out.files.size() >= 0xffff)
            throw limitReached(QStringLiteral("包含的文件太多"));
        const auto file = quint16(m_out.files.size());
        m_out.files.push_back(sitePath);
        int line = 1;
        qsizetype pos = 0;
        const qsizetype n = bytes.size();
        auto fail = [&](ScriptError e, int at) {
            e.file = sitePath;
            e.line = at;
            return e;
        };

        while (pos < n) {
            const qsizetype open = bytes.indexOf("<%", pos);
            const qsizetype blockEnd = open < 0 ? n : open;

            // An include directive in the literal text before the next script block.
            static const QRegularExpression include(
                QStringLiteral("<!--\\s*#include\\s+(file|virtual)\\s*=\\s*\"([^\"]*)\"\\s*-->"),
                QRegularExpression::CaseInsensitiveOption);
            const qsizetype comment = bytes.indexOf("<!--", pos);
            if (comment >= 0 && comment < blockEnd) {
                const qsizetype close = bytes.indexOf("-->", comment);
                if (close >= 0) {
                    const QString directive = QString::fromLatin1(bytes.mid(comment, close + 3 - comment));
                    if (const auto m = include.match(directive); m.hasMatch() && m.capturedStart() == 0) {
                        emitHtml(bytes.mid(pos, comment - pos), file, line);
                        line += countLines(bytes, pos, comment);
                        const QString name =
                            gbk::decode(bytes.mid(comment, close - comment)).section(u'"', 1, 1);
                        includeFile(sitePath, name,
                                    m.captured(1).compare(u"virtual", Qt::CaseInsensitive) == 0, depth,
                                    [&](ScriptError e) { return fail(std::move(e), line); });
                        line += countLines(bytes, comment, close + 3);
                        pos = close + 3;
                        continue;
                    }
                }
            }

            refuseServerScript(bytes.mid(pos, blockEnd - pos),
                               [&](ScriptError e) { return fail(std::move(e), line); });
            emitHtml(bytes.mid(pos, blockEnd - pos), file, line);
            line += countLines(bytes, pos, blockEnd);
            if (open < 0)
                break;

            const qsizetype close = bytes.indexOf("%>", open + 2);
            if (close < 0)
                throw fail(syntaxError(1002, QStringLiteral("缺少 '%>'")), line);
            qsizetype codeStart = open + 2;
            if (codeStart < close && bytes[codeStart] == '@') {
                // <%@ LANGUAGE=VBScript CODEPAGE=936 %>: the page is VBScript in GBK anyway.
            } else {
                if (codeStart < close && bytes[codeStart] == '=') {
                    push(Tok::Write, file, line, true);
                    ++codeStart;
                }
                int codeLine = line;
                lexCode(gbk::decode(bytes.mid(codeStart, close - codeStart)), file, codeLine);
                push(Tok::Newline, file, codeLine, true);
            }
            line += countLines(bytes, open, close);
            pos = close + 2;
        }
        if (depth == 0)
            push(Tok::End, file, line, true);
    }

private:
    template <typename Fail>
    void includeFile(const QString& from, const QString& name, bool fromRoot, int depth, Fail fail)
    {
        const QString target = resolveSitePath(from, name, fromRoot);
        if (target.isEmpty())
            throw fail(runtimeError(0x80004005, QStringLiteral("包含文件的路径不允许: '") + name + u'\''));
        if (depth >= 16)
            throw fail(limitReached(QStringLiteral("包含文件嵌套太深: '") + name + u'\''));
        const auto bytes = m_loader ? m_loader(target) : std::nullopt;
        if (!bytes)
            throw fail(runtimeError(0x80004005, QStringLiteral("找不到包含文件: '") + name + u'\''));
        scanFile(target, *bytes, depth + 1);
    }

    // <script runat="server"> would be sent to the browser as text: say so instead.
    template <typename Fail> void refuseServerScript(const QByteArray& html, Fail fail)
    {
        static const QRegularExpression serverScript(QStringLiteral("<script[^>]*runat\\s*=\\s*\"?server"),
                                                     QRegularExpression::CaseInsensitiveOption);
        if (html.contains("unat") && serverScript.match(QString::fromLatin1(html)).hasMatch())
            throw fail(unsupported(QStringLiteral("的语句：<script runat=\"server\">")));
    }

    void emitHtml(const QByteArray& block, quint16 file, int line)
    {
        if (block.isEmpty())
            return;
        Token& t = push(Tok::Html, file, line, true);
        t.html = int(m_out.html.size());
        m_out.html.push_back(block);
        push(Tok::Newline, file, line, true);
    }

    Token& push(Tok kind, quint16 file, int line, bool space)
    {
        Token& t = m_out.tokens.emplace_back();
        t.kind = kind;
        t.file = file;
        t.line = line;
        t.spaceBefore = space;
        return t;
    }

    [[noreturn]] void lexFail(ScriptError e, quint16 file, int line)
    {
        e.file = m_out.files[file];
        e.line = line;
        throw e;
    }

    void lexCode(const QString& code, quint16 file, int& line)
    {
        qsizetype i = 0;
        const qsizetype n = code.size();
        bool space = true;
        while (i < n) {
            const QChar c = code[i];
            if (c == u' ' || c == u'\t' || c == u'\r' || c == u'\f' || c == QChar(0xfeff)) {
                ++i;
                space = true;
                continue;
            }
            if (c == u'\n') {
                push(Tok::Newline, file, line, true);
                ++line;
                ++i;
                space = true;
                continue;
            }
            if (c == u'\'') {
                while (i < n && code[i] != u'\n')
                    ++i;
                continue;
            }
            if (c == u'_') {
                qsizetype j = i + 1;
                while (j < n && (code[j] == u' ' || code[j] == u'\t' || code[j] == u'\r'))
                    ++j;
                if (j >= n || code[j] == u'\n') {
                    if (j < n)
                        ++line;
                    i = j + 1;
                    space = true;
                    continue;
                }
                lexFail(syntaxError(1032, QStringLiteral("无效字符")), file, line);
            }
            const bool afterDot = !m_out.tokens.empty() && m_out.tokens.back().kind == Tok::Dot && !space;
            if (isIdentifierStart(c)) {
                qsizetype j = i + 1;
                while (j < n && isIdentifierPart(code[j]))
                    ++j;
                const QString spelling = code.mid(i, j - i);
                const QString lower = spelling.toLower();
                i = j;
                if (lower == u"rem" && !afterDot) {
                    while (i < n && code[i] != u'\n')
                        ++i;
                    continue;
                }
                const auto kw = keywords().constFind(lower);
                Token& t = push(kw != keywords().cend() && !afterDot ? Tok::Keyword : Tok::Identifier, file,
                                line, space);
                if (t.kind == Tok::Keyword)
                    t.keyword = *kw;
                t.text = lower;
                t.spelling = spelling;
                space = false;
                continue;
            }
            if (c == u'[') {
                const qsizetype close = code.indexOf(u']', i);
                if (close < 0 || code.mid(i, close - i).contains(u'\n'))
                    lexFail(syntaxError(1010, QStringLiteral("缺少标识符")), file, line);
                Token& t = push(Tok::Identifier, file, line, space);
                t.spelling = code.mid(i + 1, close - i - 1);
                t.text = t.spelling.toLower();
                i = close + 1;
                space = false;
                continue;
            }
            if (isAsciiDigit(c)
                || (c == u'.' && i + 1 < n && isAsciiDigit(code[i + 1]) && !afterValue(space))) {
                i = lexNumber(code, i, file, line, space);
                space = false;
                continue;
            }
            if (c == u'&' && i + 1 < n) {
                if (const qsizetype end = lexBaseNumber(code, i, file, line, space); end > i) {
                    i = end;
                    space = false;
                    continue;
                }
            }
            if (c == u'"') {
                QString text;
                qsizetype j = i + 1;
                for (;;) {
                    if (j >= n || code[j] == u'\n')
                        lexFail(syntaxError(1033, QStringLiteral("未结束的字符串常量")), file, line);
                    if (code[j] == u'"') {
                        if (j + 1 < n && code[j + 1] == u'"') {
                            text += u'"';
                            j += 2;
                            continue;
                        }
                        break;
                    }
                    text += code[j++];
                }
                Token& t = push(Tok::String, file, line, space);
                t.text = text;
                i = j + 1;
                space = false;
                continue;
            }
            if (c == u'#') {
                const qsizetype close = code.indexOf(u'#', i + 1);
                const auto days =
                    close < 0 ? std::nullopt : parseDateText(QStringView(code).mid(i + 1, close - i - 1));
                if (!days)
                    lexFail(syntaxError(1002, QStringLiteral("语法错误：日期常量")), file, line);
                Token& t = push(Tok::Number, file, line, space);
                t.number = Value::fromDate(*days);
                i = close + 1;
                space = false;
                continue;
            }

            Tok kind;
            qsizetype length = 1;
            const QChar next = i + 1 < n ? code[i + 1] : QChar();
            switch (c.unicode()) {
            case ':':
                kind = Tok::Colon;
                break;
            case ',':
                kind = Tok::Comma;
                break;
            case '.':
                kind = Tok::Dot;
                break;
            case '(':
                kind = Tok::LParen;
                break;
            case ')':
                kind = Tok::RParen;
                break;
            case '+':
                kind = Tok::Plus;
                break;
            case '-':
                kind = Tok::Minus;
                break;
            case '*':
                kind = Tok::Star;
                break;
            case '/':
                kind = Tok::Slash;
                break;
            case '\\':
                kind = Tok::Backslash;
                break;
            case '^':
                kind = Tok::Caret;
                break;
            case '&':
                kind = Tok::Amp;
                break;
            case '=':
                // => and =< are >= and <=, as VBScript reads them.
                kind = next == u'>' ? Tok::Ge : next == u'<' ? Tok::Le : Tok::Eq;
                length = kind == Tok::Eq ? 1 : 2;
                break;
            case '<':
                kind = next == u'>' ? Tok::Ne : next == u'=' ? Tok::Le : Tok::Lt;
                length = kind == Tok::Lt ? 1 : 2;
                break;
            case '>':
                kind = next == u'=' ? Tok::Ge : next == u'<' ? Tok::Ne : Tok::Gt;
                length = kind == Tok::Gt ? 1 : 2;
                break;
            default:
                lexFail(syntaxError(1032, QStringLiteral("无效字符: '") + c + u'\''), file, line);
            }
            push(kind, file, line, space);
            i += length;
            space = false;
        }
    }

    // &H1F, &O17 and &17 (octal). Answers where the number ends, or `i` when the & is no number's:
    // "n=" &hits joins a variable named hits, and s &1 joins a 1 to s. The number is typed by
    // what it comes to, as VBScript types its literals: up to four hex digits are an Integer that
    // may be negative (&HFFFF is -1); a trailing & keeps them positive (&HFFFF& is the Long
    // 65535) and otherwise makes no Long of a small number (&H10& is the Integer 16).
    qsizetype lexBaseNumber(const QString& code, qsizetype i, quint16 file, int line, bool space)
    {
        const qsizetype n = code.size();
        const QChar prefix = code[i + 1].toLower();
        int base = 8;
        qsizetype start = i + 1;
        if (prefix == u'h' || prefix == u'o') {
            base = prefix == u'h' ? 16 : 8;
            ++start;
        } else if (!isAsciiDigit(prefix) || endsValue()) {
            return i;
        }
        auto isDigit = [&](QChar d) {
            return base == 16 ? isAsciiDigit(d) || (d.toLower() >= u'a' && d.toLower() <= u'f')
                              : d >= u'0' && d <= u'7';
        };
        qsizetype j = start;
        while (j < n && isDigit(code[j]))
            ++j;
        if (j == start || (j < n && isIdentifierPart(code[j])))
            return i;
        bool ok = false;
        const qulonglong v = code.mid(start, j - start).toULongLong(&ok, base);
        if (!ok || v > 0xffffffffULL)
            lexFail(syntaxError(1031, QStringLiteral("无效数字")), file, line);
        const bool keepPositive = j < n && code[j] == u'&';
        if (keepPositive)
            ++j;
        Token& t = push(Tok::Number, file, line, space);
        t.number = Value::fromInt(v <= 0xffff && !keepPositive ? qint16(quint16(v)) : qint32(quint32(v)));
        return j;
    }

    // Whether the last token ends a value, so an & after it joins texts.
    bool endsValue() const
    {
        if (m_out.tokens.empty())
            return false;
        const Token& last = m_out.tokens.back();
        switch (last.kind) {
        case Tok::Identifier:
        case Tok::Number:
        case Tok::String:
        case Tok::RParen:
            return true;
        case Tok::Keyword:
            switch (last.keyword) {
            case Kw::True:
            case Kw::False:
            case Kw::Empty:
            case Kw::Null:
            case Kw::Nothing:
            case Kw::Me:
                return true;
            default:
                return false;
            }
        default:
            return false;
        }
    }

    // Whether the last token ends a value, so ".5" after it is a member access, not a number.
    bool afterValue(bool space) const
    {
        if (space || m_out.tokens.empty())
            return false;
        const Tok k = m_out.tokens.back().kind;
        return k == Tok::Identifier || k == Tok::RParen;
    }

    qsizetype lexNumber(const QString& code, qsizetype i, quint16 file, int line, bool space)
    {
        const qsizetype n = code.size();
        qsizetype j = i;
        bool fraction = false;
        while (j < n && isAsciiDigit(code[j]))
            ++j;
        if (j < n && code[j] == u'.') {
            fraction = true;
            ++j;
            while (j < n && isAsciiDigit(code[j]))
                ++j;
        }
        if (j < n && (code[j] == u'e' || code[j] == u'E')) {
            qsizetype k = j + 1;
            if (k < n && (code[k] == u'+' || code[k] == u'-'))
                ++k;
            if (k < n && isAsciiDigit(code[k])) {
                fraction = true;
                j = k;
                while (j < n && isAsciiDigit(code[j]))
                    ++j;
            }
        }
        if (j < n && isIdentifierPart(code[j]))
            lexFail(syntaxError(1025, QStringLiteral("语句未结束")), file, line);
        const QString text = code.mid(i, j - i);
        Token& t = push(Tok::Number, file, line, space);
        bool ok = false;
        if (!fraction) {
            const qlonglong whole = text.toLongLong(&ok);
            if (ok && whole <= std::numeric_limits<qint32>::max()) {
                t.number = Value::fromInt(whole);
                return j;
            }
        }
        double d = text.toDouble(&ok);
        // 1e-400 is too small for a double: VBScript reads it as 0.
        if (!ok && text.contains(QLatin1String("e-"), Qt::CaseInsensitive))
            d = 0, ok = true;
        if (!ok || !std::isfinite(d))
            lexFail(overflow(), file, line);
        t.number = Value::fromDouble(d);
        return j;
    }

    const IncludeLoader& m_loader;
    ScannedPage m_out;
};

} // namespace

ScannedPage scanPage(const QString& sitePath, const QByteArray& bytes, const IncludeLoader& loader)
{
    Scanner scanner(loader);
    scanner.scanFile(sitePath, bytes, 0);
    return scanner.take();
}

QString resolveSitePath(const QString& fromFile, const QString& name, bool fromRoot)
{
    QString path = name;
    path.replace(u'\\', u'/');
    if (!fromRoot && !path.startsWith(u'/'))
        path = fromFile.left(fromFile.lastIndexOf(u'/') + 1) + path;
    QStringList parts;
    for (const QString& part : path.split(u'/', Qt::SkipEmptyParts)) {
        if (part == u".")
            continue;
        if (part == u"..") {
            if (parts.isEmpty())
                return {};
            parts.removeLast();
            continue;
        }
        parts << part;
    }
    return u'/' + parts.join(u'/');
}

} // namespace asp
