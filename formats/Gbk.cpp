// SPDX-License-Identifier: GPL-3.0-or-later
#include "formats/Gbk.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace gbk {

QString decode(QByteArrayView bytes)
{
    QStringDecoder decoder("GB18030");
    return decoder.decode(bytes);
}

QByteArray encode(QStringView text)
{
    QStringEncoder encoder("GB18030");
    return encoder.encode(text);
}

} // namespace gbk
