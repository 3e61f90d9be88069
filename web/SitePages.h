// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// The two pages of the query site that depend on the web settings: the public home page
// (DB/index.asp) and the class administrator's edit page (DB/h2.asp). They are classic ASP
// in GBK with CR LF line ends, run by the program's own web server. Nothing here needs a
// window, so the build can lay down the default pages and the server's tests can make them.
//
// What the pages expect of the rest of the site:
// - login.asp keeps the class (`单位`) of the account it accepted in Session("单位"); the edit
//   page shows its form only when that is the student's class, and a refusal otherwise.
// - A byte field written as text (`简介`, GBK bytes) reads as its GBK text, so the remarks
//   can go through Server.HTMLEncode like every other field.
namespace SitePages {

inline const QString defaultTitle = QStringLiteral("学生信息查询");
// The stored form of the options: items separated by "|".
inline const QString defaultOptions = QStringLiteral("三好学生|优秀团员|优秀班干部");

// The bytes of DB/index.asp for this title.
QByteArray homePage(const QString& title);
// The bytes of DB/h2.asp for these options, as stored (items separated by "|").
QByteArray editPage(const QString& options);

// Writes both pages into the program folder's DB/, each file replaced whole. False, with the
// reason, when either could not be written.
bool write(const QString& appFolder, const QString& title, const QString& options, QString* error = nullptr);

} // namespace SitePages
