// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "server/engine/Object.h"

#include <optional>

namespace asp {

// Server.CreateObject: "ADODB.Connection" and "ADODB.Recordset" over the program's own
// database layer; any other object is refused by name.
Value createAdoObject(const QString& progId);

// The Data Source of a Jet connection string; the provider and the password mean nothing to
// the SQLite file behind it.
QString dataSource(const QString& connectionString);

// Whether an SQL text holds a statement after its first one. The pages build their SQL from
// posted values, so a second statement is refused instead of run.
bool hasSecondStatement(QStringView sql);

// A query as the archive gets it. No text in the archive holds a NUL (PostgreSQL refuses one,
// SQLite's parser stops at it), so a quoted value that holds one equals nothing: it goes as
// NULL, and the query finds no row by it. Nothing, when a NUL stands outside a quoted value.
std::optional<QString> queryWithoutNul(QStringView sql);

} // namespace asp
