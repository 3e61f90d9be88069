// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <exception>

namespace asp {

// A failure of a page, reported the way classic ASP reports it: who raised it, the error
// number, a short reason, and where in which file.
struct ScriptError : std::exception {
    enum class Kind {
        Runtime, // On Error Resume Next may skip it
        Syntax,  // the page does not parse
        Fatal, // beyond what this engine runs, or past a limit: never skipped, so a page cannot go on wrongly
    };

    Kind kind = Kind::Runtime;
    long number = 0; // Err.Number
    QString source;  // "Microsoft VBScript 运行时错误", "ADODB.Recordset" …
    QString description;
    QString file; // site path of the page or include, such as /index.asp
    int line = 0;

    ScriptError() = default;
    ScriptError(Kind k, long n, QString src, QString text)
        : kind(k)
        , number(n)
        , source(std::move(src))
        , description(std::move(text))
    {
    }
    const char* what() const noexcept override { return "script error"; }

    // The code classic ASP shows, such as 800a000d.
    QString code() const;
    bool located() const { return line > 0; }
};

inline const QString vbscriptRuntime = QStringLiteral("Microsoft VBScript 运行时错误");
inline const QString vbscriptCompiler = QStringLiteral("Microsoft VBScript 编译器错误");

// What the Err object shows of VBScript's own run-time errors: the English texts that Windows
// gives, without the name a page's error report adds. The page's report stays in Chinese.
inline const QString errSourceOfVbscript = QStringLiteral("Microsoft VBScript runtime error");
// Empty for a number that is none of VBScript's run-time errors.
QString errDescriptionOf(long number);

ScriptError runtimeError(long number, const QString& description);
ScriptError syntaxError(long number, const QString& description);
ScriptError unsupported(const QString& what);
// A limit of the server (time, output, depth) that ends the page whatever it asked for.
ScriptError limitReached(const QString& what);

ScriptError typeMismatch(const QString& name = {});
ScriptError overflow();
ScriptError divisionByZero();
ScriptError invalidUseOfNull();
ScriptError invalidArgument(const QString& name = {});
ScriptError subscriptOutOfRange();
ScriptError objectRequired(const QString& name = {});
ScriptError noSuchMember(const QString& object, const QString& member);
ScriptError wrongArgumentCount(const QString& name);
ScriptError undefinedVariable(const QString& name);
ScriptError outOfMemory();

} // namespace asp
