// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "server/engine/Value.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace asp {

enum class Tok {
    Identifier,
    Keyword,
    Number,
    String,
    Html,  // a literal block of the page
    Write, // the start of <%= … %>
    Newline,
    Colon,
    Comma,
    Dot,
    LParen,
    RParen,
    Plus,
    Minus,
    Star,
    Slash,
    Backslash,
    Caret,
    Amp,
    Eq,
    Ne,
    Lt,
    Gt,
    Le,
    Ge,
    End,
};

enum class Kw {
    And,
    ByRef,
    ByVal,
    Call,
    Case,
    Class,
    Const,
    Dim,
    Do,
    Else,
    ElseIf,
    Empty,
    End,
    Eqv,
    Erase,
    Exit,
    False,
    For,
    Function,
    GoTo,
    If,
    Imp,
    Is,
    Let,
    Loop,
    Me,
    Mod,
    New,
    Next,
    Not,
    Nothing,
    Null,
    On,
    Option,
    Or,
    Private,
    Property,
    Public,
    ReDim,
    Select,
    Set,
    Sub,
    Then,
    True,
    Until,
    Wend,
    While,
    With,
    Xor,
};

struct Token {
    Tok kind = Tok::End;
    Kw keyword{};
    bool spaceBefore = false;
    quint16 file = 0;
    int line = 0;
    QString text;     // identifiers in lower case (names are case-insensitive); a string's value
    QString spelling; // an identifier or keyword as written, for messages
    Value number;
    int html = -1;
};

// The bytes of an included file by its site path ("/inc/head.inc"); nothing when it is
// missing or outside the site.
using IncludeLoader = std::function<std::optional<QByteArray>(const QString& sitePath)>;

struct ScannedPage {
    std::vector<Token> tokens;
    std::vector<QByteArray> html; // literal blocks in the page's own bytes, sent as they are
    std::vector<QString> files;   // site paths of the page and its includes; Token::file indexes it
};

// Splits a page into its literal blocks and the tokens of its script, with the included
// files in place. Literal blocks stay bytes: GBK never has '<' or '%' as a second byte, so a
// page is cut at "<%" and "%>" without decoding it.
ScannedPage scanPage(const QString& sitePath, const QByteArray& bytes, const IncludeLoader& loader);

// "/a/b.asp" + "../c.inc" → "/c.inc"; empty when the name leaves the site.
QString resolveSitePath(const QString& fromFile, const QString& name, bool fromRoot);

} // namespace asp
