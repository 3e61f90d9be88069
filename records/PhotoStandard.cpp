// SPDX-License-Identifier: GPL-3.0-or-later
#include "records/PhotoStandard.h"

#include "formats/IniFile.h"
#include "records/Head.h"

#include <QRegularExpression>

namespace {

// A head of about the asked share may be 10 % larger or smaller, and its top lies in the
// upper sixth with the shoulders below: what the offices' upload checks accept.
constexpr double headShareSlack = 0.1;
constexpr double hairTopLow = 0.04;
constexpr double hairTopHigh = 0.16;

QString number(double value) { return QString::number(value, 'g', 6); }

QString bandText(const PhotoStandard::Band& band) { return number(band.low) + u'-' + number(band.high); }

} // namespace

PhotoStandard::Placement PhotoStandard::placement() const
{
    if (headShare <= 0)
        return bands;
    const double height = pixels.height();
    const double head = headShare * height;
    Placement p;
    p.faceWidth = {head * (1 - headShareSlack) / Head::heightPerFaceWidth,
                   head * (1 + headShareSlack) / Head::heightPerFaceWidth};
    p.hairTop = {hairTopLow * height, hairTopHigh * height};
    p.eyes = {p.hairTop.low + Head::hairAboveEyes * p.faceWidth.low,
              p.hairTop.high + Head::hairAboveEyes * p.faceWidth.high};
    return p;
}

QString PhotoStandard::text() const
{
    QString t = QStringLiteral("%1×%2 %3dpi %4-%5KB")
                    .arg(pixels.width())
                    .arg(pixels.height())
                    .arg(dpi)
                    .arg(smallestKB)
                    .arg(largestKB);
    if (headShare > 0) {
        // Two thirds reads better as a fraction than as 0.666667.
        const bool twoThirds = qAbs(headShare - 2.0 / 3) < 1e-6;
        return t + QStringLiteral(" 头高") + (twoThirds ? QStringLiteral("2/3") : number(headShare));
    }
    return t + QStringLiteral(" 头顶") + bandText(bands.hairTop) + QStringLiteral(" 眼睛")
           + bandText(bands.eyes) + QStringLiteral(" 脸宽") + bandText(bands.faceWidth);
}

std::optional<PhotoStandard> PhotoStandard::parse(const QString& name, const QString& text, QString* error)
{
    static const QRegularExpression size(QStringLiteral("^(\\d+)\\s*[×xX*]\\s*(\\d+)$"));
    static const QRegularExpression dpi(QStringLiteral("^(\\d+)\\s*dpi$"),
                                        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression kb(QStringLiteral("^(?:(\\d+)-)?(\\d+)\\s*KB$"),
                                       QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression band(
        QStringLiteral("^(头顶|眼睛|脸宽)(\\d+(?:\\.\\d+)?)-(\\d+(?:\\.\\d+)?)$"));
    static const QRegularExpression share(QStringLiteral("^头高(\\d+(?:\\.\\d+)?)(?:/(\\d+(?:\\.\\d+)?))?$"));
    const auto refuse = [&](const QString& reason) {
        if (error)
            *error = QStringLiteral("照片规格“%1”（%2）：%3").arg(name, text, reason);
        return std::nullopt;
    };

    PhotoStandard s;
    s.name = name;
    int bandsGiven = 0;
    for (const QString& word :
         text.split(QRegularExpression(QStringLiteral("[\\s,，]+")), Qt::SkipEmptyParts)) {
        QRegularExpressionMatch m;
        if ((m = size.match(word)).hasMatch()) {
            s.pixels = QSize(m.captured(1).toInt(), m.captured(2).toInt());
        } else if ((m = dpi.match(word)).hasMatch()) {
            s.dpi = m.captured(1).toInt();
        } else if ((m = kb.match(word)).hasMatch()) {
            s.smallestKB = m.captured(1).toInt();
            s.largestKB = m.captured(2).toInt();
        } else if ((m = share.match(word)).hasMatch()) {
            const double below = m.captured(2).isEmpty() ? 1 : m.captured(2).toDouble();
            s.headShare = below > 0 ? m.captured(1).toDouble() / below : 0;
        } else if ((m = band.match(word)).hasMatch()) {
            const Band b{m.captured(2).toDouble(), m.captured(3).toDouble()};
            if (b.low > b.high)
                return refuse(QStringLiteral("“%1”的范围从大到小").arg(word));
            const QString what = m.captured(1);
            (what == u"头顶" ? s.bands.hairTop : what == u"眼睛" ? s.bands.eyes : s.bands.faceWidth) = b;
            ++bandsGiven;
        } else {
            return refuse(QStringLiteral("不认识“%1”").arg(word));
        }
    }
    if (s.pixels.width() < 16 || s.pixels.height() < 16 || s.pixels.width() > 4000
        || s.pixels.height() > 4000)
        return refuse(QStringLiteral("缺少像素大小（如 480×640），或大小不在 16 到 4000 之间"));
    if (s.dpi <= 0)
        return refuse(QStringLiteral("缺少分辨率（如 300dpi）"));
    if (s.largestKB <= 0 || s.smallestKB > s.largestKB)
        return refuse(QStringLiteral("缺少文件大小范围（如 20-40KB）"));
    if (s.headShare > 0 ? (s.headShare >= 1 || bandsGiven > 0) : bandsGiven != 3)
        return refuse(QStringLiteral("头部位置要么写“头高2/3”，要么写头顶、眼睛、脸宽三个范围"));
    if (s.headShare == 0 && s.bands.faceWidth.low <= 0)
        return refuse(QStringLiteral("脸宽必须大于 0"));
    return s;
}

namespace PhotoStandards {

QList<PhotoStandard> defaults()
{
    const std::pair<const char16_t*, const char16_t*> texts[] = {
        {u"学籍", u"358×441 350dpi 0-60KB 头高2/3"},
        {u"毕业", u"480×640 300dpi 20-40KB 头顶50-110 眼睛200-300 脸宽180-300"},
        {u"一寸", u"295×413 300dpi 0-100KB 头高2/3"},
        {u"二寸", u"413×579 300dpi 0-200KB 头高2/3"},
    };
    QList<PhotoStandard> standards;
    for (const auto& [name, text] : texts)
        standards << *PhotoStandard::parse(QString::fromUtf16(name), QString::fromUtf16(text));
    return standards;
}

QList<PhotoStandard> load(const QString& settingsFile, QStringList* problems)
{
    QStringList names;
    QList<PhotoStandard> standards = defaults();
    for (const PhotoStandard& s : standards)
        names << s.name;
    for (const QString& key : IniFile::keys(settingsFile, section))
        if (!names.contains(key))
            names << key;
    QList<PhotoStandard> loaded;
    for (const QString& name : names) {
        const qsizetype builtIn = names.indexOf(name);
        const QString fallback = builtIn < standards.size() ? standards[builtIn].text() : QString();
        QString error;
        if (const auto s =
                PhotoStandard::parse(name, IniFile::read(settingsFile, section, name, fallback), &error))
            loaded << *s;
        else if (problems)
            *problems << error;
    }
    return loaded;
}

std::optional<PhotoStandard> find(const QString& settingsFile, const QString& name, QString* error)
{
    QStringList problems;
    const QList<PhotoStandard> standards = load(settingsFile, &problems);
    for (const PhotoStandard& s : standards)
        if (s.name == name)
            return s;
    for (const QString& problem : problems)
        if (problem.startsWith(QStringLiteral("照片规格“%1”").arg(name))) {
            *error = problem;
            return std::nullopt;
        }
    QStringList known;
    for (const PhotoStandard& s : standards)
        known << s.name;
    *error = QStringLiteral("没有照片规格“%1”；现有：%2").arg(name, known.join(QStringLiteral("、")));
    return std::nullopt;
}

bool save(const QString& settingsFile, const PhotoStandard& standard, QString* error)
{
    return IniFile::write(settingsFile, section, standard.name, standard.text(), error);
}

} // namespace PhotoStandards
