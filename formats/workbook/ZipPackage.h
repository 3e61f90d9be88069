// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <memory>
#include <optional>

struct zip;

// A zip package (an .xlsx workbook) held in memory: parts are read by name, and saving gives
// the same package with some parts replaced; every other part is copied as it was stored.
class ZipPackage {
public:
    ZipPackage();
    ~ZipPackage();
    ZipPackage(const ZipPackage&) = delete;
    ZipPackage& operator=(const ZipPackage&) = delete;

    // No part of a roster comes near this once inflated; a larger one is a file made to
    // exhaust memory (a few megabytes that inflate to gigabytes) and is not inflated at all.
    static constexpr qint64 maxPartBytes = qint64(64) << 20;

    bool open(const QByteArray& bytes, QString* error);
    // The part's bytes; nothing when it is missing or cannot be inflated, and when it would
    // inflate beyond maxPartBytes (then *tooLarge is set).
    std::optional<QByteArray> read(const QString& name, bool* tooLarge = nullptr) const;
    void replace(const QString& name, const QByteArray& bytes);
    bool save(QByteArray* result, QString* error);

private:
    QByteArray m_bytes;
    struct Discard {
        void operator()(zip* archive) const;
    };
    std::unique_ptr<zip, Discard> m_archive;
    QHash<QString, QByteArray> m_replacements;
};
