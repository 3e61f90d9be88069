// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/WebForm.h"

#include "formats/Gbk.h"

std::string webForm(const QList<std::pair<QString, QString>>& fields)
{
    QByteArray body;
    for (const auto& [name, value] : fields) {
        if (!body.isEmpty())
            body += '&';
        body += gbk::encode(name).toPercentEncoding() + '=' + gbk::encode(value).toPercentEncoding();
    }
    return body.toStdString();
}
