// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

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

    // Creates the file, the section and the key as needed. False when the file could not be
    // written; the old file is then left untouched.
    static bool write(const QString& path, QStringView section, QStringView key, QStringView value);
};
