// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>

// Decodes photos and backgrounds of any real size at the size they are drawn, and refuses
// pictures whose header promises more pixels than could be decoded in reasonable time and
// memory (a decompression bomb), before decoding anything.
//
// JPEG, what cameras and phones write, is decoded straight at a reduced size, so a 100
// megapixel photo costs little; other formats must be decoded whole and are held to a lower
// limit.
namespace Picture {

constexpr qint64 maxJpegPixels = 200'000'000;
constexpr qint64 maxWholePixels = 1 << 24; // about 16 megapixels, 64 MB decoded
// What one decode may need at most, the decoder's own buffers included. A progressive JPEG
// keeps every coefficient of the whole picture whatever size is asked for, so a small file
// that declares a huge picture would otherwise cost gigabytes.
constexpr qint64 decodeBudgetBytes = qint64(256) << 20;

// `drawSize` is the size the picture will be drawn at; the picture is decoded no smaller than
// that in either direction and never larger than its own size. An empty `drawSize` decodes
// at the picture's own size. A null image, with the reason in `error`, when the bytes are no
// picture or too large.
QImage decode(const QByteArray& bytes, QSize drawSize = {}, QString* error = nullptr);

// Where a picture of size `picture` lies when it fills `area` with its own proportions:
// scaled until it covers the area, centred, the excess cut off on both sides. A camera frame
// of any shape thus shows faces as they are, never squeezed.
QRect coverRect(QSize picture, QSize area);

// The size the picture's header gives, without decoding it; invalid when it is no picture.
QSize sizeOf(const QByteArray& bytes);

// How much of a picture decodes. A JPEG whose data the decoder had to skip or make up
// (libjpeg's "Corrupt JPEG data" and "Premature end" warnings) is Damaged: decode() shows what
// it could read, grey where it could not, while a print shop's reader may refuse the file.
// Every coefficient is read, at an eighth of the size, so the check costs a fraction of a
// decode.
enum class Integrity { Whole, Damaged, Unreadable };
Integrity integrity(const QByteArray& bytes);

} // namespace Picture
