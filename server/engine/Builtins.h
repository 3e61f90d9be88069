// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "server/engine/Object.h"

namespace asp {

using BuiltinFunction = Value (*)(const Args& args);

struct Builtin {
    BuiltinFunction call;
    int minArgs;
    int maxArgs;
};

// The VBScript functions a page may call, by lower-case name.
const Builtin* findBuiltin(const QString& name);
// vbCrLf and the other named constants.
const Value* findConstant(const QString& name);
// A name of VBScript or classic ASP that this engine does not provide, so the page is
// refused by name instead of running on with Empty.
bool isUnsupportedName(const QString& name);

} // namespace asp
