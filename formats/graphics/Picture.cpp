// SPDX-License-Identifier: GPL-3.0-or-later
#include "formats/graphics/Picture.h"

#include <QBuffer>
#include <QImageReader>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <mutex>

#include <jpeglib.h>

namespace Picture {

namespace {

// The smallest size of at least `drawSize` in both directions with the picture's own shape.
QSize decodeSize(QSize own, QSize drawSize)
{
    if (drawSize.isEmpty() || (own.width() <= drawSize.width() && own.height() <= drawSize.height()))
        return own;
    const double factor = std::min(
        1.0, std::max(double(drawSize.width()) / own.width(), double(drawSize.height()) / own.height()));
    return QSize(std::max(1, int(std::ceil(own.width() * factor))),
                 std::max(1, int(std::ceil(own.height() * factor))));
}

// What a JPEG's header says about the decoder's work, read without decoding anything.
struct JpegFrame {
    int components = 0;
    // Every scan is needed before the first row comes out, so the decoder holds the
    // coefficients of the whole picture.
    bool wholeCoefficients = false;
};

JpegFrame jpegFrame(const QByteArray& bytes)
{
    JpegFrame frame;
    const auto at = [&bytes](qsizetype i) { return i < bytes.size() ? uchar(bytes[i]) : 0; };
    qsizetype i = 2;
    while (i + 4 <= bytes.size()) {
        if (at(i) != 0xFF)
            return frame;
        const uchar marker = at(i + 1);
        if (marker == 0xFF) {
            ++i;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            i += 2;
            continue;
        }
        const int length = at(i + 2) << 8 | at(i + 3);
        const bool startOfFrame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (startOfFrame) {
            frame.components = at(i + 9);
            // Progressive (and lossless or arithmetic-coded hierarchical) frames come in many scans.
            frame.wholeCoefficients = marker != 0xC0 && marker != 0xC1 && marker != 0xC9;
        } else if (marker == 0xDA) {
            // A sequential picture whose first scan leaves components out comes in several scans too.
            if (at(i + 4) < frame.components)
                frame.wholeCoefficients = true;
            return frame;
        }
        i += 2 + length;
    }
    return frame;
}

// The bytes a decode of `own` at `target` needs at its peak: the decoder's buffers, the
// picture it puts out and the scaled copy.
qint64 decodeCost(const QByteArray& bytes, bool jpeg, QSize own, QSize target)
{
    const auto pixels = [](QSize size) { return qint64(size.width()) * size.height(); };
    if (!jpeg)
        return 4 * (pixels(own) + (target != own ? pixels(target) : 0));
    const JpegFrame frame = jpegFrame(bytes);
    const qint64 coefficients = frame.wholeCoefficients ? pixels(own) * std::max(frame.components, 1) * 2 : 0;
    // The decoder reduces by 1, 2, 4 or 8 in one step, and the rest is scaling.
    int reduction = 1;
    while (reduction < 8 && own.width() / (reduction * 2) >= target.width()
           && own.height() / (reduction * 2) >= target.height())
        reduction *= 2;
    const QSize decoded((own.width() + reduction - 1) / reduction,
                        (own.height() + reduction - 1) / reduction);
    return coefficients + 4 * (pixels(decoded) + (target != decoded ? pixels(target) : 0));
}

// The image plugins complain about damaged files in English on standard error, where the
// user of a Chinese program neither looks nor understands; the caller says what failed, in
// words of its own, about the student or the file concerned.
thread_local bool t_decoding = false;
QtMessageHandler g_nextHandler = nullptr;

void quietWhileDecoding(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (t_decoding && (type == QtWarningMsg || type == QtDebugMsg || type == QtInfoMsg))
        return;
    g_nextHandler(type, context, message);
}

class QuietDecoding {
public:
    QuietDecoding()
    {
        static std::once_flag installed;
        std::call_once(installed, [] { g_nextHandler = qInstallMessageHandler(quietWhileDecoding); });
        t_decoding = true;
    }
    ~QuietDecoding() { t_decoding = false; }
    QuietDecoding(const QuietDecoding&) = delete;
    QuietDecoding& operator=(const QuietDecoding&) = delete;
};

// libjpeg reports a fatal error by calling error_exit, which must not return; its warnings
// come through emit_message with level -1. Nothing is printed.
struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf escape;
    int warnings = 0;
};

[[noreturn]] void jpegFatal(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->escape, 1);
}

void jpegMessage(j_common_ptr info, int level)
{
    if (level < 0)
        ++reinterpret_cast<JpegErrors*>(info->err)->warnings;
}

void jpegSilent(j_common_ptr) {}

// Reads every scan line of a JPEG at an eighth of its size. Only plain C state lives across
// the long jump.
Integrity jpegIntegrity(const QByteArray& bytes)
{
    jpeg_decompress_struct info;
    JpegErrors errors;
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = jpegFatal;
    errors.manager.emit_message = jpegMessage;
    errors.manager.output_message = jpegSilent;
    volatile JDIMENSION lines = 0;
    if (setjmp(errors.escape)) {
        jpeg_destroy_decompress(&info);
        return lines > 0 ? Integrity::Damaged : Integrity::Unreadable;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.constData()),
                 (unsigned long)bytes.size());
    jpeg_read_header(&info, TRUE);
    info.scale_num = 1;
    info.scale_denom = 8;
    info.dct_method = JDCT_IFAST;
    info.do_fancy_upsampling = FALSE;
    jpeg_start_decompress(&info);
    JSAMPARRAY row = (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                               info.output_width * info.output_components, 1);
    while (info.output_scanline < info.output_height) {
        if (jpeg_read_scanlines(&info, row, 1) != 1)
            break;
        lines = lines + 1;
    }
    const bool complete = info.output_scanline == info.output_height;
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return complete && errors.warnings == 0 ? Integrity::Whole : Integrity::Damaged;
}

bool fail(QString* error, const QString& reason)
{
    if (error)
        *error = reason;
    return false;
}

} // namespace

QRect coverRect(QSize picture, QSize area)
{
    if (picture.isEmpty() || area.isEmpty())
        return {};
    const double scale =
        std::max(double(area.width()) / picture.width(), double(area.height()) / picture.height());
    const QSize covering(std::max(area.width(), int(std::lround(picture.width() * scale))),
                         std::max(area.height(), int(std::lround(picture.height() * scale))));
    return QRect(QPoint((area.width() - covering.width()) / 2, (area.height() - covering.height()) / 2),
                 covering);
}

QSize sizeOf(const QByteArray& bytes)
{
    const QuietDecoding quiet;
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer);
    return reader.canRead() ? reader.size() : QSize();
}

Integrity integrity(const QByteArray& bytes)
{
    const QuietDecoding quiet;
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer);
    const QSize own = reader.canRead() ? reader.size() : QSize();
    if (!own.isValid() || own.isEmpty())
        return Integrity::Unreadable;
    const bool jpeg = reader.format() == "jpeg";
    const QSize eighth((own.width() + 7) / 8, (own.height() + 7) / 8);
    if (qint64(own.width()) * own.height() > (jpeg ? maxJpegPixels : maxWholePixels)
        || decodeCost(bytes, jpeg, own, jpeg ? eighth : own) > decodeBudgetBytes)
        return Integrity::Unreadable;
    if (jpeg)
        return jpegIntegrity(bytes);
    reader.setAllocationLimit(int(decodeBudgetBytes >> 20));
    return reader.read().isNull() ? Integrity::Unreadable : Integrity::Whole;
}

QImage decode(const QByteArray& bytes, QSize drawSize, QString* error)
{
    const QuietDecoding quiet;
    if (bytes.isEmpty()) {
        fail(error, QStringLiteral("不是图片文件"));
        return {};
    }
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer);
    const QSize own = reader.canRead() ? reader.size() : QSize();
    if (!own.isValid() || own.isEmpty()) {
        fail(error, QStringLiteral("不是图片文件"));
        return {};
    }
    const bool jpeg = reader.format() == "jpeg";
    const qint64 pixels = qint64(own.width()) * own.height();
    const QSize target = decodeSize(own, drawSize);
    if (pixels > (jpeg ? maxJpegPixels : maxWholePixels)
        || decodeCost(bytes, jpeg, own, target) > decodeBudgetBytes) {
        fail(error, QStringLiteral("图片太大（%1 × %2 像素），请换一张较小的图片")
                        .arg(own.width())
                        .arg(own.height()));
        return {};
    }

    // JPEG decodes straight at a fraction of its size; the rest are decoded whole, then scaled.
    if (jpeg && target != own)
        reader.setScaledSize(target);
    // The limits above are ours; Qt's own (128 MB) would refuse a large photo decoded whole.
    reader.setAllocationLimit(int(decodeBudgetBytes >> 20));
    QImage image = reader.read();
    if (image.isNull()) {
        fail(error, QStringLiteral("图片文件已损坏，无法读取"));
        return {};
    }
    if (image.size() != target)
        image = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image;
}

} // namespace Picture
