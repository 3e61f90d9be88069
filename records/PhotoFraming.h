// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "records/PhotoStandard.h"

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>

#include <optional>

class FaceFinder;

// Photos framed by the face they show: a stored photo cut to an authority's standard, and a
// photographer's picture cut to the archive's own photo size.
namespace PhotoFraming {

// What the entry station stores: 170 × 210 at 2.5 times.
constexpr QSize archivePhotoSize{425, 525};
// Enlarging a photo further than this only shows its blur at a bigger size.
constexpr double largestUpscale = 1.25;
// The spread (standard deviation, 0–255) of any colour channel over the strips beside and
// above the head beyond which a background counts as patterned rather than plain. A studio
// backdrop with its light fall-off stays below 20; stripes, shelves and posters go far above.
constexpr double plainBackgroundSpread = 32;

// A finder of the calling thread's own: the finder takes one search at a time, and a class
// of photos is framed on every core at once.
FaceFinder& threadFinder();

// The surest face of the picture; nothing when it shows none. Searches a reduced copy,
// since the finder's time grows with the pixels and a face needs few of them.
std::optional<QRect> findFace(FaceFinder& finder, const QImage& picture);

// The picture as a camera meant it to be seen: turned and mirrored as the EXIF orientation
// of its JPEG `bytes` says.
QImage upright(const QImage& picture, const QByteArray& bytes);

enum class Problem { NoFace, FaceTooSmall, FaceTooLarge, BackgroundNotPlain, SizeUnreachable };

struct StandardPhoto {
    QByteArray jpeg; // empty when a problem kept it from being made (and force was not asked)
    QImage picture;  // what the file shows
    QList<Problem> problems;
    QStringList reasons; // one per problem, for people
    int quality = 0;
    double backgroundSpread = 0;
};

// Cuts `photo` so the head lies where `standard` asks, scales it to the standard's pixels and
// writes a JPEG of its resolution whose size lies in its window, at the highest quality that
// does (never below 60). With `force` the best that can be done is written despite problems.
StandardPhoto toStandard(FaceFinder& finder, const QImage& photo, const PhotoStandard& standard, bool force);

// A JPEG of the picture at `quality` carrying `dpi` in its JFIF header.
QByteArray jpeg(const QImage& picture, int quality, int dpi = 96);

// A photographer's picture cut for the archive as the entry station frames a student:
// the face centred across, the eyes at 45 % of the height, the face a little under half the
// width. Null when no face is found.
QImage forArchive(FaceFinder& finder, const QImage& picture);

} // namespace PhotoFraming
