// SPDX-License-Identifier: GPL-3.0-or-later
// GLib's headers come before Qt's, whose keyword macros (signals) would rewrite them.
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-memory.h>

#include "formats/workbook/OleFile.h"

#include <memory>

namespace {

struct Unref {
    void operator()(gpointer object) const
    {
        if (object)
            g_object_unref(object);
    }
};
template <typename T> using GsfPtr = std::unique_ptr<T, Unref>;

const QString notAWorkbook = QStringLiteral("不是Excel工作簿");

GsfPtr<GsfInfile> openContainer(const QByteArray& file, QString* error)
{
    GsfPtr<GsfInput> input(gsf_input_memory_new(reinterpret_cast<const guint8*>(file.constData()),
                                                gsf_off_t(file.size()), FALSE));
    GError* failure = nullptr;
    GsfPtr<GsfInfile> ole(input ? gsf_infile_msole_new(input.get(), &failure) : nullptr);
    if (failure)
        g_error_free(failure);
    if (!ole)
        *error = notAWorkbook;
    return ole;
}

bool isWorkbookName(const char* name) { return name && g_ascii_strcasecmp(name, "Workbook") == 0; }

bool readAll(GsfInput* input, QByteArray* bytes)
{
    const gsf_off_t size = gsf_input_size(input);
    if (size < 0 || size > (gsf_off_t(1) << 30))
        return false;
    bytes->resize(qsizetype(size));
    return size == 0
           || gsf_input_read(input, size_t(size), reinterpret_cast<guint8*>(bytes->data())) != nullptr;
}

bool copyStorage(GsfInfile* from, GsfOutfile* to, const QByteArray* workbook)
{
    guint8 classId[16];
    if (GSF_IS_INFILE_MSOLE(from) && gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(from), classId))
        gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(to), classId);
    for (int i = 0, n = gsf_infile_num_children(from); i < n; ++i) {
        const char* name = gsf_infile_name_by_index(from, i);
        GsfPtr<GsfInput> child(gsf_infile_child_by_index(from, i));
        if (!child || !name)
            return false;
        const bool isStorage =
            GSF_IS_INFILE(child.get()) && gsf_infile_num_children(GSF_INFILE(child.get())) >= 0;
        GsfPtr<GsfOutput> copy(gsf_outfile_new_child(to, name, isStorage));
        if (!copy)
            return false;
        bool ok;
        if (isStorage) {
            ok = copyStorage(GSF_INFILE(child.get()), GSF_OUTFILE(copy.get()), nullptr);
        } else {
            QByteArray bytes;
            const QByteArray* data = workbook && isWorkbookName(name) ? workbook : &bytes;
            ok = (data != &bytes || readAll(child.get(), &bytes))
                 && gsf_output_write(copy.get(), size_t(data->size()),
                                     reinterpret_cast<const guint8*>(data->constData()));
        }
        ok = gsf_output_close(copy.get()) && ok;
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

namespace OleFile {

bool readWorkbookStream(const QByteArray& file, QByteArray* stream, QString* error)
{
    const auto ole = openContainer(file, error);
    if (!ole)
        return false;
    for (int i = 0, n = gsf_infile_num_children(ole.get()); i < n; ++i) {
        if (!isWorkbookName(gsf_infile_name_by_index(ole.get(), i)))
            continue;
        GsfPtr<GsfInput> workbook(gsf_infile_child_by_index(ole.get(), i));
        if (workbook && readAll(workbook.get(), stream))
            return true;
        *error = QStringLiteral("工作簿已损坏，读不出内容");
        return false;
    }
    const GsfPtr<GsfInput> oldWorkbook(gsf_infile_child_by_name(ole.get(), "Book"));
    *error = oldWorkbook
                 ? QStringLiteral("不支持Excel 95或更早版本的工作簿，请另存为Excel 97-2003或.xlsx格式")
                 : notAWorkbook;
    return false;
}

bool replaceWorkbookStream(const QByteArray& file, const QByteArray& stream, QByteArray* result,
                           QString* error)
{
    const auto ole = openContainer(file, error);
    if (!ole)
        return false;
    GsfPtr<GsfOutput> memory(gsf_output_memory_new());
    GsfPtr<GsfOutfile> out(gsf_outfile_msole_new(memory.get()));
    const bool copied = out && copyStorage(ole.get(), out.get(), &stream);
    const bool closed = out && gsf_output_close(GSF_OUTPUT(out.get()));
    if (!copied || !closed) {
        *error = QStringLiteral("工作簿写不出来");
        return false;
    }
    const guint8* bytes = gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(memory.get()));
    *result = QByteArray(reinterpret_cast<const char*>(bytes), qsizetype(gsf_output_size(memory.get())));
    return true;
}

} // namespace OleFile
