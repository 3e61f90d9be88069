// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/jet/JetFile.h"

#include <QFile>

namespace JetFile {

bool hasJetSignature(const QByteArray& head)
{
    return head.size() >= 20
           && (head.mid(4, 16) == QByteArray("Standard Jet DB\0", 16)
               || head.mid(4, 16) == QByteArray("Standard ACE DB\0", 16));
}

bool isJetFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && hasJetSignature(file.read(20));
}

} // namespace JetFile
