// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>

#include <optional>

// A photo standard of the education authorities' registries: the pixels, the resolution, the
// window of file sizes and where the head must lie. The standards are data the office edits,
// kept in sys.ini, section 照片规格, one key per standard, its value written as a person
// reads it:
//
//   学籍=358×441 350dpi 0-60KB 头高2/3
//   毕业=480×640 300dpi 20-40KB 头顶50-110 眼睛200-300 脸宽180-300
//
// 头高 asks for the head (hair to chin) to be that share of the height; 头顶, 眼睛 and 脸宽
// give pixel bands for the top of the hair and the eyes (from the top edge) and the face's
// width. A standard says either 头高 or all three bands.
struct PhotoStandard {
    struct Band {
        double low = 0;
        double high = 0;
        bool contains(double value) const { return value >= low && value <= high; }
        double middle() const { return (low + high) / 2; }
    };
    // Where the head must lie, in the standard's own pixels.
    struct Placement {
        Band hairTop;
        Band eyes;
        Band faceWidth;
    };

    QString name;
    QSize pixels;
    int dpi = 0;
    int smallestKB = 0;
    int largestKB = 0;
    double headShare = 0; // 头高; 0 when the bands are given
    Placement bands;

    qint64 smallestBytes() const { return qint64(smallestKB) * 1024; }
    qint64 largestBytes() const { return qint64(largestKB) * 1024; }
    Placement placement() const;
    QString text() const;

    // The standard a value of sys.ini describes; nothing, with the reason, when it is no
    // standard (a number missing, a band upside down, a size of no pixels).
    static std::optional<PhotoStandard> parse(const QString& name, const QString& text,
                                              QString* error = nullptr);
};

namespace PhotoStandards {

inline const QString section = QStringLiteral("照片规格");

// The four standards schools are asked for most, as they stand until the office changes them.
QList<PhotoStandard> defaults();

// Every standard of the settings file: the four defaults (as sys.ini has them, where it
// has them) and then any the office added. A value that is no standard is left out, its name
// and reason in `problems`.
QList<PhotoStandard> load(const QString& settingsFile, QStringList* problems = nullptr);
std::optional<PhotoStandard> find(const QString& settingsFile, const QString& name, QString* error);

bool save(const QString& settingsFile, const PhotoStandard& standard, QString* error);

} // namespace PhotoStandards
