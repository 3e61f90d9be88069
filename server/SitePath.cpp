// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/SitePath.h"

#include "server/engine/FormData.h"

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

} // namespace

std::optional<QString> decode(QByteArrayView raw)
{
    if (!raw.startsWith('/'))
        return std::nullopt;
    const auto bytes = asp::percentDecodeStrictly(raw);
    if (!bytes)
        return std::nullopt;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString path = utf8.decode(*bytes);
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
