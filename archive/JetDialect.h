// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringView>

#include <vector>

// The SQL the windows and the site's pages send is Access's: [bracketed] names, #dates#,
// AUTOINCREMENT, OLEOBJECT and varchar columns. Each back end rewrites it into its own words
// over these tokens, never over the raw text, so what stands between quotes (a class named
// "[初三]", an address holding the word varchar) reaches the archive exactly as written.
namespace JetDialect {

enum class TokenKind {
    Space,
    Comment,
    Word, // a name or keyword, letters of any script
    Number,
    Text,    // 'a value', quotes doubled inside
    Name,    // "a quoted name", quotes doubled inside
    Bracket, // [a name]
    Date,    // #9/1/2024#
    Symbol,
};

struct Token {
    TokenKind kind;
    QStringView text; // as written, delimiters included

    bool isWord(QStringView word) const
    {
        return kind == TokenKind::Word && text.compare(word, Qt::CaseInsensitive) == 0;
    }
    bool isSymbol(QChar c) const { return kind == TokenKind::Symbol && text.size() == 1 && text[0] == c; }
    // A token that carries meaning, unlike blanks and comments.
    bool counts() const { return kind != TokenKind::Space && kind != TokenKind::Comment; }
};

// An unclosed quote or bracket runs to the end of the text, so a broken statement still fails
// in the archive with the archive's own words.
std::vector<Token> tokens(QStringView sql);

// What a bracketed or double-quoted name says, without its delimiters.
QString nameOf(const Token& token);

// A #date# as a quoted value the back ends compare and sort as text: 'yyyy-MM-dd', with the
// time when one is given. A date that cannot be read keeps its words, quoted.
QString dateValue(const Token& token);

// The meaningful tokens before `index`, nearest first: index of the one `back` steps back,
// or -1.
qsizetype previousCounting(const std::vector<Token>& tokens, qsizetype index, int back = 1);

// What an Access column type stands for; Other for a type each back end reads as it is.
enum class ColumnType { Other, Counter, Bytes, Text };
ColumnType columnType(const Token& token);

// Whether the word at `index` stands where a column's type does: after the column's name,
// which follows "(", "," or ADD [COLUMN]. A column named like a type keeps its name.
bool isColumnType(const std::vector<Token>& tokens, qsizetype index);

// The index after a type's size, "(50)", when one follows `index`; else index + 1.
qsizetype afterSize(const std::vector<Token>& tokens, qsizetype index);

// True when the statement's first words are `words` (CREATE, TABLE …).
bool startsWith(const std::vector<Token>& tokens, std::initializer_list<QStringView> words);

} // namespace JetDialect
