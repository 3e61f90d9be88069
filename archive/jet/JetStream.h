// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "archive/jet/JetFile.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>

// What the Access reader's process and the program say to each other over its standard
// output: messages of one kind byte, a four-byte little-endian length and a payload. The
// program answers on the reader's standard input with one line per table to read.
namespace JetStream {

enum class Kind : char {
    Catalogue = 'C', // the tables, once the file is open and checked
    Row = 'R',       // one stored row of the table asked for
    TableEnd = 'E',  // the table was read whole
    Failure = 'F',   // why the file or the table cannot be read, for people
    Progress = 'P',  // still at work on a long check
    Crash = 'X',     // written from a signal handler: the signal and the page being read
};

struct Message {
    Kind kind;
    QByteArray payload;
};

// The reader's process is held to less memory than this, so no honest message is longer.
constexpr qint64 maxPayload = qint64(512) << 20;

QByteArray frame(Kind kind, const QByteArray& payload);

// A crash message built without allocating, as a signal handler must.
constexpr size_t crashFrameSize = 13;
std::array<char, crashFrameSize> crashFrame(quint32 signal, quint32 page);
bool readCrash(const QByteArray& payload, quint32* signal, quint32* page);

QByteArray catalogue(int jetVersion, const QList<JetFile::Table>& tables);
bool readCatalogue(const QByteArray& payload, int* jetVersion, QList<JetFile::Table>* tables);
QByteArray row(const QVariantList& values);
bool readRow(const QByteArray& payload, QVariantList* values);
QByteArray text(const QString& text);
QString readText(const QByteArray& payload);

// Cuts the messages out of the bytes as they arrive.
class Decoder {
public:
    void append(const QByteArray& bytes);
    // The next whole message; nothing while it is still arriving. A length beyond
    // maxPayload or an unknown kind makes the stream broken for good.
    std::optional<Message> next();
    bool isBroken() const { return m_broken; }
    bool isEmpty() const { return m_buffer.size() == m_start; }

private:
    QByteArray m_buffer;
    qsizetype m_start = 0;
    bool m_broken = false;
};

} // namespace JetStream
