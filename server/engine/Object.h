// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "server/engine/Value.h"

#include <QString>

#include <vector>

namespace asp {

using Args = std::vector<Value>;

// What the built-in objects (Request, Response, Server, Session, Err, the ADO objects) show
// to a page. Member names arrive in lower case; an empty name is the default member, as in
// rs("姓名") or Request("id").
class Object {
public:
    virtual ~Object() = default;
    virtual QString typeName() const = 0;

    // obj.name or obj.name(args), read or called.
    virtual Value get(const QString& name, const Args& args);
    // What obj(args) stands for where a plain value is needed, as scalar(get(QString(), args))
    // answers it; a collection may read its member's value without making the member.
    virtual Value value(const Args& args);
    // obj.name(args) = value
    virtual void set(const QString& name, const Args& args, const Value& value);
    // The members of a collection, for For Each.
    virtual std::vector<Value> items();

protected:
    [[noreturn]] void refuse(const QString& name) const;
    // Throws unless args has between min and max values.
    void expectArgs(const QString& name, const Args& args, size_t min, size_t max) const;
};

// The value an object stands for where a plain value is needed: its default member, read
// until something that is not an object comes back.
Value scalar(const Value& v);
// The same without copying a value that is no object; `held` keeps what an object answers.
const Value& scalar(const Value& v, Value& held);

} // namespace asp
