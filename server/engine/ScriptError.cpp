// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/engine/ScriptError.h"

namespace asp {

QString ScriptError::code() const
{
    // VBScript's own numbers are shown inside its facility; providers give a whole HRESULT.
    const quint32 value = number >= 0 && number <= 0xffff ? 0x800a0000u | quint32(number) : quint32(number);
    return QStringLiteral("%1").arg(value, 8, 16, QLatin1Char('0'));
}

ScriptError runtimeError(long number, const QString& description)
{
    return ScriptError(ScriptError::Kind::Runtime, number, vbscriptRuntime, description);
}

ScriptError syntaxError(long number, const QString& description)
{
    return ScriptError(ScriptError::Kind::Syntax, number, vbscriptCompiler, description);
}

ScriptError unsupported(const QString& what)
{
    return ScriptError(ScriptError::Kind::Fatal, 445, QStringLiteral("网页服务器"),
                       QStringLiteral("不支持") + what);
}

ScriptError limitReached(const QString& what)
{
    return ScriptError(ScriptError::Kind::Fatal, 7, QStringLiteral("网页服务器"), what);
}

static QString named(const QString& text, const QString& name)
{
    return name.isEmpty() ? text : text + QStringLiteral(": '") + name + u'\'';
}

ScriptError typeMismatch(const QString& name)
{
    return runtimeError(13, named(QStringLiteral("类型不匹配"), name));
}
ScriptError overflow() { return runtimeError(6, QStringLiteral("溢出")); }
ScriptError divisionByZero() { return runtimeError(11, QStringLiteral("被零除")); }
ScriptError invalidUseOfNull() { return runtimeError(94, QStringLiteral("无效使用 Null")); }

ScriptError invalidArgument(const QString& name)
{
    return runtimeError(5, named(QStringLiteral("无效的过程调用或参数"), name));
}

ScriptError subscriptOutOfRange() { return runtimeError(9, QStringLiteral("下标越界")); }
ScriptError objectRequired(const QString& name)
{
    return runtimeError(424, named(QStringLiteral("缺少对象"), name));
}

ScriptError noSuchMember(const QString& object, const QString& member)
{
    return runtimeError(438, QStringLiteral("对象不支持此属性或方法: '") + object + u'.' + member + u'\'');
}

ScriptError wrongArgumentCount(const QString& name)
{
    return runtimeError(450, named(QStringLiteral("错误的参数个数或无效的参数属性值"), name));
}

ScriptError undefinedVariable(const QString& name)
{
    return runtimeError(500, named(QStringLiteral("变量未定义"), name));
}
ScriptError outOfMemory() { return runtimeError(7, QStringLiteral("内存不够")); }

} // namespace asp
