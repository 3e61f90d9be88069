// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/engine/ScriptError.h"

#include <QHash>

namespace asp {

QString ScriptError::code() const
{
    // VBScript's own numbers are shown inside its facility; providers give a whole HRESULT.
    const quint32 value = number >= 0 && number <= 0xffff ? 0x800a0000u | quint32(number) : quint32(number);
    return QStringLiteral("%1").arg(value, 8, 16, QLatin1Char('0'));
}

QString errDescriptionOf(long number)
{
    static const QHash<long, QString> texts = {
        {5, QStringLiteral("Invalid procedure call or argument")},
        {6, QStringLiteral("Overflow")},
        {7, QStringLiteral("Out of memory")},
        {9, QStringLiteral("Subscript out of range")},
        {10, QStringLiteral("This array is fixed or temporarily locked")},
        {11, QStringLiteral("Division by zero")},
        {13, QStringLiteral("Type mismatch")},
        {14, QStringLiteral("Out of string space")},
        {17, QStringLiteral("Can't perform requested operation")},
        {28, QStringLiteral("Out of stack space")},
        {35, QStringLiteral("Sub or Function not defined")},
        {48, QStringLiteral("Error in loading DLL")},
        {51, QStringLiteral("Internal error")},
        {91, QStringLiteral("Object variable not set")},
        {92, QStringLiteral("For loop not initialized")},
        {94, QStringLiteral("Invalid use of Null")},
        {424, QStringLiteral("Object required")},
        {429, QStringLiteral("ActiveX component can't create object")},
        {430, QStringLiteral("Class doesn't support Automation")},
        {432, QStringLiteral("File name or class name not found during Automation operation")},
        {438, QStringLiteral("Object doesn't support this property or method")},
        {445, QStringLiteral("Object doesn't support this action")},
        {447, QStringLiteral("Object doesn't support current locale setting")},
        {448, QStringLiteral("Named argument not found")},
        {449, QStringLiteral("Argument not optional")},
        {450, QStringLiteral("Wrong number of arguments or invalid property assignment")},
        {451, QStringLiteral("Object not a collection")},
        {458, QStringLiteral("Variable uses an Automation type not supported in VBScript")},
        {462, QStringLiteral("The remote server machine does not exist or is unavailable")},
        {481, QStringLiteral("Invalid picture")},
        {500, QStringLiteral("Variable is undefined")},
        {501, QStringLiteral("Illegal assignment")},
        {502, QStringLiteral("Object not safe for scripting")},
        {503, QStringLiteral("Object not safe for initializing")},
        {504, QStringLiteral("Object not safe for creating")},
        {505, QStringLiteral("Invalid or unqualified reference")},
        {506, QStringLiteral("Class not defined")},
        {507, QStringLiteral("An exception occurred")},
    };
    return texts.value(number);
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
