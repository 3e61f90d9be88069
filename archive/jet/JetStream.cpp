// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/jet/JetStream.h"

#include <QDataStream>
#include <QIODevice>
#include <QtEndian>

namespace JetStream {

namespace {

constexpr int headerSize = 5;
constexpr auto streamVersion = QDataStream::Qt_6_4;

bool knownKind(char kind)
{
    switch (Kind(kind)) {
    case Kind::Catalogue:
    case Kind::Row:
    case Kind::TableEnd:
    case Kind::Failure:
    case Kind::Progress:
    case Kind::Crash:
        return true;
    }
    return false;
}

template <typename Write> QByteArray serialised(Write write)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(streamVersion);
    write(out);
    return bytes;
}

template <typename Read> bool deserialised(const QByteArray& bytes, Read read)
{
    QDataStream in(bytes);
    in.setVersion(streamVersion);
    read(in);
    return in.status() == QDataStream::Ok && in.atEnd();
}

} // namespace

QByteArray frame(Kind kind, const QByteArray& payload)
{
    QByteArray bytes(headerSize, '\0');
    bytes[0] = char(kind);
    qToLittleEndian<quint32>(quint32(payload.size()), bytes.data() + 1);
    return bytes + payload;
}

std::array<char, crashFrameSize> crashFrame(quint32 signal, quint32 page)
{
    std::array<char, crashFrameSize> bytes{};
    bytes[0] = char(Kind::Crash);
    qToLittleEndian<quint32>(8, bytes.data() + 1);
    qToLittleEndian<quint32>(signal, bytes.data() + 5);
    qToLittleEndian<quint32>(page, bytes.data() + 9);
    return bytes;
}

bool readCrash(const QByteArray& payload, quint32* signal, quint32* page)
{
    if (payload.size() != 8)
        return false;
    // Read through a stream: GCC's bounds check under the sanitizers takes the unaligned
    // reads for reads of an empty array's one byte.
    QDataStream in(payload);
    in.setByteOrder(QDataStream::LittleEndian);
    in >> *signal >> *page;
    return in.status() == QDataStream::Ok;
}

QByteArray catalogue(int jetVersion, const QList<JetFile::Table>& tables)
{
    return serialised([&](QDataStream& out) {
        out << qint32(jetVersion) << qint32(tables.size());
        for (const JetFile::Table& table : tables) {
            out << table.name << table.rowCount << qint32(table.columns.size());
            for (const JetFile::Column& column : table.columns)
                out << column.name << qint32(column.type) << column.autoNumber << qint32(column.precision)
                    << qint32(column.scale);
        }
    });
}

bool readCatalogue(const QByteArray& payload, int* jetVersion, QList<JetFile::Table>* tables)
{
    tables->clear();
    return deserialised(payload, [&](QDataStream& in) {
        qint32 version = 0;
        qint32 count = 0;
        in >> version >> count;
        *jetVersion = version;
        for (qint32 t = 0; t < count && in.status() == QDataStream::Ok; ++t) {
            JetFile::Table table;
            qint32 columns = 0;
            in >> table.name >> table.rowCount >> columns;
            for (qint32 c = 0; c < columns && in.status() == QDataStream::Ok; ++c) {
                JetFile::Column column;
                qint32 type = 0;
                qint32 precision = 0;
                qint32 scale = 0;
                in >> column.name >> type >> column.autoNumber >> precision >> scale;
                column.type = type >= 0 && type <= qint32(JetFile::Type::Other) ? JetFile::Type(type)
                                                                                : JetFile::Type::Other;
                column.precision = precision;
                column.scale = scale;
                table.columns << column;
            }
            *tables << table;
        }
    });
}

QByteArray row(const QVariantList& values)
{
    return serialised([&](QDataStream& out) { out << values; });
}

bool readRow(const QByteArray& payload, QVariantList* values)
{
    return deserialised(payload, [&](QDataStream& in) { in >> *values; });
}

QByteArray text(const QString& text)
{
    return serialised([&](QDataStream& out) { out << text; });
}

QString readText(const QByteArray& payload)
{
    QString text;
    deserialised(payload, [&](QDataStream& in) { in >> text; });
    return text;
}

void Decoder::append(const QByteArray& bytes)
{
    if (m_start > 0 && m_start == m_buffer.size()) {
        m_buffer.clear();
        m_start = 0;
    }
    m_buffer.append(bytes);
}

std::optional<Message> Decoder::next()
{
    if (m_broken || m_buffer.size() - m_start < headerSize)
        return std::nullopt;
    const char* at = m_buffer.constData() + m_start;
    const qint64 length = qFromLittleEndian<quint32>(at + 1);
    if (!knownKind(at[0]) || length > maxPayload) {
        m_broken = true;
        return std::nullopt;
    }
    if (m_buffer.size() - m_start < headerSize + length)
        return std::nullopt;
    Message message{Kind(at[0]), m_buffer.mid(m_start + headerSize, length)};
    m_start += headerSize + length;
    // What was read is dropped once it outweighs what is left, so the buffer stays small.
    if (m_start > (1 << 20) && m_start > m_buffer.size() - m_start) {
        m_buffer.remove(0, m_start);
        m_start = 0;
    }
    return message;
}

} // namespace JetStream
