// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/exchange/WorkbookCheck.h"

#include "formats/workbook/OleFile.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSet>
#include <QtEndian>

#include <map>

namespace WorkbookCheck {

QString dataFile(const QString& name) { return QStringLiteral(QINGHE_TEST_DATA "/") + name; }

QString copy(const QString& dataName, const QString& folder, const QString& name)
{
    const QString target = folder + u'/' + (name.isEmpty() ? dataName : name);
    QFile::remove(target);
    if (!QFile::copy(dataFile(dataName), target))
        qFatal("cannot copy %s", qPrintable(dataName));
    QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return target;
}

QJsonObject secondReader(const QString& path)
{
    QProcess reader;
    reader.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(QINGHE_SECOND_READER), path});
    if (!reader.waitForFinished(60000) || reader.exitCode() != 0) {
        qWarning("second reader failed on %s (scripts/install-deps.sh installs python3-xlrd): %s",
                 qPrintable(path), reader.readAllStandardError().constData());
        return {};
    }
    return QJsonDocument::fromJson(reader.readAllStandardOutput()).object();
}

QStringList differences(const QJsonObject& before, const QJsonObject& after)
{
    QStringList out;
    QStringList sheets = before.keys();
    for (const QString& name : after.keys()) {
        if (!sheets.contains(name))
            sheets << name;
    }
    for (const QString& name : sheets) {
        const QJsonArray a = before.value(name).toArray(), b = after.value(name).toArray();
        for (qsizetype r = 0; r < std::max(a.size(), b.size()); ++r) {
            const QJsonArray x = a.at(r).toArray(), y = b.at(r).toArray();
            for (qsizetype c = 0; c < std::max(x.size(), y.size()); ++c) {
                const QJsonValue empty = QJsonArray{0, QString()};
                const QJsonValue u = c < x.size() ? x.at(c) : empty, v = c < y.size() ? y.at(c) : empty;
                if (u != v)
                    out << QStringLiteral("%1!%2,%3").arg(name).arg(r).arg(c);
            }
        }
    }
    return out;
}

QString positionProblem(const QString& xlsPath)
{
    QFile file(xlsPath);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot open");
    QByteArray stream;
    QString error;
    if (!OleFile::readWorkbookStream(file.readAll(), &stream, &error))
        return error;
    const auto u16 = [&stream](qsizetype at) { return qFromLittleEndian<quint16>(stream.constData() + at); };
    const auto u32 = [&stream](qsizetype at) { return qFromLittleEndian<quint32>(stream.constData() + at); };
    std::map<qsizetype, std::pair<quint16, int>> records; // start → type, length
    for (qsizetype pos = 0; pos + 4 <= stream.size(); pos += 4 + u16(pos + 2))
        records[pos] = {u16(pos), u16(pos + 2)};
    const auto typeAt = [&records](qsizetype pos) {
        const auto it = records.find(pos);
        return it == records.end() ? -1 : int(it->second.first);
    };
    const QSet<int> cellTypes{0x00FD, 0x0204, 0x00D6, 0x0203, 0x027E, 0x00BD, 0x0205, 0x0006, 0x0201, 0x00BE};
    for (const auto& [pos, record] : records) {
        const qsizetype data = pos + 4;
        const auto [type, length] = record;
        if (type == 0x0085 && typeAt(u32(data)) != 0x0809)
            return QStringLiteral("sheet start %1 is no BOF").arg(u32(data));
        if (type == 0x020B) {
            for (qsizetype at = 16; at + 4 <= length; at += 4) {
                if (typeAt(u32(data + at)) != 0x00D7)
                    return QStringLiteral("index entry %1 is no DBCELL").arg(u32(data + at));
            }
        }
        if (type == 0x00D7 && u32(data) != 0) {
            const qsizetype firstRow = pos - u32(data);
            if (typeAt(firstRow) != 0x0208)
                return QStringLiteral("DBCELL at %1 points at no ROW").arg(pos);
            qsizetype cell = firstRow + 4 + records[firstRow].second;
            for (qsizetype at = 4; at + 2 <= length; at += 2) {
                cell += u16(data + at);
                if (!cellTypes.contains(typeAt(cell)))
                    return QStringLiteral("DBCELL at %1 points at no cell (%2)").arg(pos).arg(cell);
            }
        }
    }
    return {};
}

} // namespace WorkbookCheck
