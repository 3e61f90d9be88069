// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class AppContext;
class QWidget;

// The start-up offer for a school that copied its Windows folder across: DB/学生信息.mdb is
// still the Access file. The conversion runs off the window's thread, with a progress window
// when it takes a while whose "取消" ends it at once, and keeps the Access file in DB/备份/
// before it replaces it.
namespace AccessConversion {

inline const QString offerText =
    QStringLiteral("这是 Access 格式的学生数据库。要转换成本程序的数据库吗？原文件会保存在 DB/备份/ 里。");

// Asks, converts when told to and says how it went. True when the archive is now the
// program's own; false when the user declined or the conversion did not finish, and the
// Access file then lies where it was, unchanged.
bool offer(AppContext& context, QWidget* parent);

} // namespace AccessConversion
