// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/engine/Object.h"

#include "server/engine/ScriptError.h"

namespace asp {

Value Object::get(const QString& name, const Args&) { refuse(name); }

Value Object::value(const Args& args) { return scalar(get(QString(), args)); }

void Object::set(const QString& name, const Args&, const Value&) { refuse(name); }

std::vector<Value> Object::items()
{
    throw runtimeError(451, QStringLiteral("对象不是集合: '") + typeName() + u'\'');
}

void Object::refuse(const QString& name) const
{
    throw noSuchMember(typeName(), name.isEmpty() ? QStringLiteral("默认属性") : name);
}

void Object::expectArgs(const QString& name, const Args& args, size_t min, size_t max) const
{
    if (args.size() < min || args.size() > max)
        throw wrongArgumentCount(typeName() + u'.' + name);
}

const Value& scalar(const Value& v, Value& held)
{
    if (!v.isObject())
        return v;
    held = scalar(v);
    return held;
}

Value scalar(const Value& v)
{
    Value current = v;
    for (int depth = 0; current.isObject(); ++depth) {
        if (!current.object())
            throw runtimeError(91, QStringLiteral("对象变量未设置"));
        if (depth == 8)
            throw typeMismatch(current.object()->typeName());
        current = current.object()->get(QString(), {});
    }
    return current;
}

} // namespace asp
