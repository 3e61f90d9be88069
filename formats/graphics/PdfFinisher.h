// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QString>

// Finishes a PDF file that Qt has written, mending what a print shop notices.
//
// Pictures: Qt's PDF writer compresses every picture again, as JPEG or losslessly, so a photo
// comes out either a second time lossy or several times its stored size. Instead, a tiny
// stand-in image is drawn where a JPEG goes, and once the file is written each stand-in is
// replaced by the JPEG it stands for, which a PDF reader decodes itself (DCTDecode). A picture
// drawn many times is embedded once.
//
// Text: Qt maps each glyph of an embedded face back to the lowest code point that shows it, and
// CJK faces show the radicals with the glyphs of the ideographs, so 生, 黄 or 一 would be
// copied and searched as ⽣, ⻩ or ⼀. Those are mapped back to the ideographs, through the
// faces themselves where they were noted and through Unicode's compatibility forms. An
// embedded face, always a subset, is named as one ("ABCDEF+Face") wherever a font names it.
class PdfFinisher {
public:
    // The stand-in to draw in place of the JPEG `bytes`; a null image when they cannot be
    // carried as they are (not a JPEG, CMYK, turned by its EXIF orientation, or damaged data
    // that the file's reader would complain of or show otherwise): then draw the decoded
    // picture. The same bytes give the same stand-in, so the writer embeds it once.
    QImage standIn(const QByteArray& bytes);
    // A face that text of the file is written in.
    void noteFont(const QFont& font);

    // Puts the pictures into the written file `path` in place of their stand-ins and mends its
    // text mapping. Answers
    // false, with the reason in `error`, when the file cannot be read, is not as Qt writes
    // PDF files, or cannot be written back.
    bool finish(const QString& path, QString* error = nullptr) const;

    // The JPEG's width, height and colour components from its frame header; components 0
    // when the bytes are no JPEG a PDF reader can decode as it is.
    struct JpegFrame {
        int width = 0;
        int height = 0;
        int components = 0;
    };
    static JpegFrame jpegFrame(const QByteArray& bytes);

private:
    struct Entry {
        QByteArray bytes;
        JpegFrame frame;
        QImage standIn;
    };
    QList<Entry> m_entries;
    QList<QFont> m_fonts;
    QMultiHash<size_t, qsizetype> m_byHash;
};
