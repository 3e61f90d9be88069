// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// What the server may hand out, decided from the request's path before the disk is touched.
namespace SitePath {

// The site path of a request target's path part ("/a/b.asp"), decoded once and strictly:
// nothing when it holds "..", ".", a hidden name, a backslash, a NUL, a broken escape or bytes
// that are no proper UTF-8 (overlong forms included). "/" and folders end in "/".
std::optional<QString> decode(QByteArrayView rawPath);

enum class Kind { Page, File, Refused };

// Pages run; the few kinds of files a site is made of go out as they are; everything else
// (the database and its journals, settings, the server itself, backups) does not exist.
Kind kindOf(QStringView sitePath);
QByteArray mimeType(QStringView sitePath);

} // namespace SitePath
