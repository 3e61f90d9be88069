// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// The settings file, the generated pages and the remarks column hold GBK bytes. GB18030 is
// its lossless superset: every GBK byte string decodes, and any text encodes.
namespace gbk {
QString decode(QByteArrayView bytes);
QByteArray encode(QStringView text);
} // namespace gbk
