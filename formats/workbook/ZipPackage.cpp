// SPDX-License-Identifier: GPL-3.0-or-later
#include "formats/workbook/ZipPackage.h"

#include <zip.h>

#include <cstdlib>
#include <cstring>

namespace {

const QString notAPackage = QStringLiteral("不是.xlsx工作簿");

} // namespace

void ZipPackage::Discard::operator()(zip* archive) const
{
    if (archive)
        zip_discard(archive);
}

ZipPackage::ZipPackage() = default;

ZipPackage::~ZipPackage() = default;

bool ZipPackage::open(const QByteArray& bytes, QString* error)
{
    m_bytes = bytes;
    zip_error_t failure;
    zip_error_init(&failure);
    zip_source_t* source =
        zip_source_buffer_create(m_bytes.constData(), zip_uint64_t(m_bytes.size()), 0, &failure);
    zip* archive = source ? zip_open_from_source(source, ZIP_RDONLY, &failure) : nullptr;
    if (!archive && source)
        zip_source_free(source);
    zip_error_fini(&failure);
    m_archive.reset(archive);
    if (!archive)
        *error = notAPackage;
    return archive != nullptr;
}

std::optional<QByteArray> ZipPackage::read(const QString& name, bool* tooLarge) const
{
    if (tooLarge)
        *tooLarge = false;
    if (!m_archive)
        return std::nullopt;
    const QByteArray key = name.toUtf8();
    zip_int64_t index = zip_name_locate(m_archive.get(), key.constData(), 0);
    if (index < 0) // some writers spell part names in another case
        index = zip_name_locate(m_archive.get(), key.constData(), ZIP_FL_NOCASE);
    zip_stat_t stat;
    if (index < 0 || zip_stat_index(m_archive.get(), zip_uint64_t(index), 0, &stat) != 0
        || !(stat.valid & ZIP_STAT_SIZE))
        return std::nullopt;
    // The inflated size the package declares is all that is ever read of a part.
    if (stat.size > zip_uint64_t(maxPartBytes)) {
        if (tooLarge)
            *tooLarge = true;
        return std::nullopt;
    }
    zip_file_t* file = zip_fopen_index(m_archive.get(), zip_uint64_t(index), 0);
    if (!file)
        return std::nullopt;
    QByteArray bytes(qsizetype(stat.size), Qt::Uninitialized);
    const zip_int64_t got = zip_fread(file, bytes.data(), stat.size);
    zip_fclose(file);
    if (got != zip_int64_t(stat.size))
        return std::nullopt;
    return bytes;
}

void ZipPackage::replace(const QString& name, const QByteArray& bytes) { m_replacements.insert(name, bytes); }

bool ZipPackage::save(QByteArray* result, QString* error)
{
    zip_error_t failure;
    zip_error_init(&failure);
    // The source owns its copy: libzip 1.7 frees memory twice when a package written into a
    // buffer source began as memory the source did not own.
    void* copy = std::malloc(size_t(std::max<qsizetype>(m_bytes.size(), 1)));
    if (copy)
        std::memcpy(copy, m_bytes.constData(), size_t(m_bytes.size()));
    zip_source_t* source =
        copy ? zip_source_buffer_create(copy, zip_uint64_t(m_bytes.size()), 1, &failure) : nullptr;
    if (!source)
        std::free(copy);
    zip* archive = source ? zip_open_from_source(source, 0, &failure) : nullptr;
    zip_error_fini(&failure);
    if (!archive) {
        if (source)
            zip_source_free(source);
        *error = notAPackage;
        return false;
    }
    zip_source_keep(source); // it receives the new package when the archive closes
    bool ok = true;
    for (auto it = m_replacements.cbegin(); ok && it != m_replacements.cend(); ++it) {
        QByteArray name = it.key().toUtf8();
        zip_source_t* part =
            zip_source_buffer(archive, it.value().constData(), zip_uint64_t(it.value().size()), 0);
        // Removed and added again rather than replaced: libzip 1.7 deflates a replaced entry
        // at its slowest level whatever is asked, seconds for a large sheet.
        const zip_int64_t old = zip_name_locate(archive, name.constData(), ZIP_FL_NOCASE);
        if (const char* stored =
                old >= 0 ? zip_get_name(archive, zip_uint64_t(old), ZIP_FL_ENC_RAW) : nullptr)
            name = stored; // the part keeps its name as the package spells it
        zip_int64_t index = -1;
        ok = part && (old < 0 || zip_delete(archive, zip_uint64_t(old)) == 0)
             && (index = zip_file_add(archive, name.constData(), part, ZIP_FL_ENC_UTF_8)) >= 0;
        if (!ok && part)
            zip_source_free(part);
        if (ok)
            zip_set_file_compression(archive, zip_uint64_t(index), ZIP_CM_DEFLATE, 1);
    }
    if (!ok || zip_close(archive) != 0) {
        zip_discard(archive);
        zip_source_free(source);
        *error = QStringLiteral("工作簿写不出来");
        return false;
    }
    zip_stat_t stat;
    ok = zip_source_stat(source, &stat) == 0 && zip_source_open(source) == 0;
    if (ok) {
        QByteArray bytes(qsizetype(stat.size), Qt::Uninitialized);
        ok = zip_source_read(source, bytes.data(), stat.size) == zip_int64_t(stat.size);
        zip_source_close(source);
        if (ok)
            *result = bytes;
    }
    zip_source_free(source);
    if (!ok)
        *error = QStringLiteral("工作簿写不出来");
    return ok;
}
