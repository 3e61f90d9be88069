// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

// Key-by-key access to a GBK-encoded INI file. Nothing is cached: every call reads the file
// again, so a value written by one window is what the next read anywhere returns. Writing
// replaces the file atomically and keeps every other line byte for byte.
class IniFile {
public:
    // The stored value; `defaultValue` when the file, the section or the key is absent.
    static QString read(const QString& path, QStringView section, QStringView key,
                        const QString& defaultValue = {});
    static int readInteger(const QString& path, QStringView section, QStringView key, int defaultValue);
    static bool readFlag(const QString& path, QStringView section, QStringView key);
    // The keys of a section in the order the file has them, for sections whose keys are the
    // office's own (each a name it chose).
    static QStringList keys(const QString& path, QStringView section);

    // Creates the file, the section and the keys as needed, in one replacement of the file,
    // so keys that belong together (a position, a text style) are never stored half. Other
    // programs writing the same file wait for each other. False, with the reason, when the
    // file could not be written; the old file is then left untouched.
    using Values = QList<std::pair<QString, QString>>;
    static bool write(const QString& path, QStringView section, const Values& values,
                      QString* error = nullptr);
    static bool write(const QString& path, QStringView section, QStringView key, QStringView value,
                      QString* error = nullptr);
};
