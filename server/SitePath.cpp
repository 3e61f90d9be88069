// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/SitePath.h"

#include <QList>
#include <QStringDecoder>

namespace SitePath {

namespace {

struct FileType {
    const char* extension;
    const char* mimeType;
};

// GBK is the site's encoding; scripts and pages say so, so Chinese texts in them read right.
constexpr FileType fileTypes[] = {
    {"htm", "text/html; charset=GBK"},
    {"html", "text/html; charset=GBK"},
    {"js", "application/javascript; charset=GBK"},
    {"css", "text/css; charset=GBK"},
    {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"png", "image/png"},
    {"gif", "image/gif"},
    {"ico", "image/x-icon"},
};

QStringView extension(QStringView sitePath)
{
    const qsizetype slash = sitePath.lastIndexOf(u'/');
    const qsizetype dot = sitePath.lastIndexOf(u'.');
    return dot > slash ? sitePath.mid(dot + 1) : QStringView();
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::optional<QString> decode(QByteArrayView raw)
{
    if (!raw.startsWith('/'))
        return std::nullopt;
    QByteArray bytes;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] != '%') {
            bytes += raw[i];
            continue;
        }
        if (i + 2 >= raw.size() || hexDigit(raw[i + 1]) < 0 || hexDigit(raw[i + 2]) < 0)
            return std::nullopt;
        bytes += char(hexDigit(raw[i + 1]) * 16 + hexDigit(raw[i + 2]));
        i += 2;
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString path = utf8.decode(bytes);
    if (utf8.hasError())
        return std::nullopt;

    QString clean;
    for (const QStringView part : QStringView(path).split(u'/', Qt::SkipEmptyParts)) {
        if (part.startsWith(u'.'))
            return std::nullopt; // "..", "." and hidden files alike
        for (QChar c : part) {
            if (c.unicode() < 0x20 || c == u'\\' || c.unicode() == 0x7f)
                return std::nullopt;
        }
        clean += u'/' + part.toString();
    }
    if (clean.isEmpty() || path.endsWith(u'/'))
        clean += u'/';
    return clean;
}

Kind kindOf(QStringView sitePath)
{
    const QStringView ext = extension(sitePath);
    if (ext.compare(u"asp", Qt::CaseInsensitive) == 0)
        return Kind::Page;
    for (const FileType& type : fileTypes) {
        if (ext.compare(QLatin1String(type.extension), Qt::CaseInsensitive) == 0)
            return Kind::File;
    }
    return Kind::Refused;
}

QByteArray mimeType(QStringView sitePath)
{
    const QStringView ext = extension(sitePath);
    for (const FileType& type : fileTypes) {
        if (ext.compare(QLatin1String(type.extension), Qt::CaseInsensitive) == 0)
            return type.mimeType;
    }
    return "application/octet-stream";
}

} // namespace SitePath
