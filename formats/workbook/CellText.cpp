// SPDX-License-Identifier: GPL-3.0-or-later
#include "formats/workbook/CellText.h"

#include <QDate>
#include <QLocale>
#include <QTime>

#include <cmath>

namespace {

QString plainNumber(double value)
{
    if (!std::isfinite(value))
        return QStringLiteral("#NUM!");
    if (value == std::trunc(value) && std::fabs(value) < 1e15)
        return QString::number(qint64(value));
    QString text = QString::number(value, 'g', 15);
    // A tiny rounding error from the binary fraction is not what the cell shows.
    const QString shorter = QString::number(value, 'g', 14);
    if (shorter.size() < text.size() - 2)
        text = shorter;
    return text;
}

// The first section of a format code, the one for positive numbers.
QStringView firstSection(QStringView code)
{
    bool quoted = false;
    for (qsizetype i = 0; i < code.size(); ++i) {
        const QChar c = code[i];
        if (c == u'"')
            quoted = !quoted;
        else if (!quoted && c == u'\\')
            ++i;
        else if (!quoted && c == u';')
            return code.left(i);
    }
    return code;
}

struct DateTime {
    QDate date;
    int hours = 0, minutes = 0, seconds = 0;
    double fraction = 0; // of a second
    double serial = 0;
};

DateTime fromSerial(double serial, bool date1904)
{
    DateTime t;
    t.serial = serial;
    double days = std::floor(serial);
    double secondsOfDay = (serial - days) * 86400.0;
    double whole = std::floor(secondsOfDay + 1e-6);
    t.fraction = std::max(0.0, secondsOfDay - whole);
    if (whole >= 86400) {
        whole -= 86400;
        days += 1;
    }
    const qint64 d = qint64(days);
    if (date1904)
        t.date = QDate(1904, 1, 1).addDays(d);
    else if (d < 60) // the first two months of 1900 come before the leap day that never was
        t.date = QDate(1899, 12, 31).addDays(d);
    else
        t.date = QDate(1899, 12, 30).addDays(d);
    const int s = int(whole);
    t.hours = s / 3600;
    t.minutes = s / 60 % 60;
    t.seconds = s % 60;
    return t;
}

QString padded(qint64 value, int width) { return QString::number(value).rightJustified(width, u'0'); }

enum class Kind { Literal, Year, Month, Day, Hour, Minute, Second, ElapsedHours, AmPm, Fraction };

struct Token {
    Kind kind;
    int length = 0;
    QString text; // literal text, or the AM/PM form
};

QList<Token> tokenize(QStringView code)
{
    QList<Token> tokens;
    const auto literal = [&tokens](const QString& text) {
        if (!tokens.isEmpty() && tokens.last().kind == Kind::Literal)
            tokens.last().text += text;
        else
            tokens.append({Kind::Literal, 0, text});
    };
    for (qsizetype i = 0; i < code.size();) {
        const QChar c = code[i];
        const QChar lower = c.toLower();
        const auto run = [&](QChar letter) {
            qsizetype j = i;
            while (j < code.size() && code[j].toLower() == letter)
                ++j;
            const int n = int(j - i);
            i = j;
            return n;
        };
        if (c == u'"') {
            const qsizetype end = code.indexOf(u'"', i + 1);
            literal(code.mid(i + 1, (end < 0 ? code.size() : end) - i - 1).toString());
            i = end < 0 ? code.size() : end + 1;
        } else if (c == u'\\') {
            if (i + 1 < code.size())
                literal(code[i + 1]);
            i += 2;
        } else if (c == u'_' || c == u'*') {
            i += 2; // padding to the width of a character, or fill: nothing to read
        } else if (c == u'[') {
            const qsizetype end = code.indexOf(u']', i);
            const QString inner = code.mid(i + 1, (end < 0 ? code.size() : end) - i - 1).toString().toLower();
            if (!inner.isEmpty() && inner.count(u'h') == inner.size())
                tokens.append({Kind::ElapsedHours, int(inner.size()), {}});
            i = end < 0 ? code.size() : end + 1; // colours, conditions and locales draw nothing
        } else if (lower == u'y') {
            tokens.append({Kind::Year, run(u'y'), {}});
        } else if (lower == u'm') {
            tokens.append({Kind::Month, run(u'm'), {}});
        } else if (lower == u'd') {
            tokens.append({Kind::Day, run(u'd'), {}});
        } else if (lower == u'h') {
            tokens.append({Kind::Hour, run(u'h'), {}});
        } else if (lower == u's') {
            tokens.append({Kind::Second, run(u's'), {}});
        } else if (code.mid(i, 5).compare(u"AM/PM", Qt::CaseInsensitive) == 0) {
            tokens.append({Kind::AmPm, 0, QStringLiteral("AM")});
            i += 5;
        } else if (code.mid(i, 3).compare(u"A/P", Qt::CaseInsensitive) == 0) {
            tokens.append({Kind::AmPm, 0, QStringLiteral("A")});
            i += 3;
        } else if (code.mid(i, 5) == u"上午/下午") {
            tokens.append({Kind::AmPm, 0, QStringLiteral("上午")});
            i += 5;
        } else if (c == u'.' && i + 1 < code.size() && code[i + 1] == u'0' && !tokens.isEmpty()
                   && tokens.last().kind == Kind::Second) {
            qsizetype j = i + 1;
            while (j < code.size() && code[j] == u'0')
                ++j;
            tokens.append({Kind::Fraction, int(j - i - 1), {}});
            i = j;
        } else {
            literal(c);
            ++i;
        }
    }
    // "m" means minutes right after an hour or right before a second.
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        if (tokens[i].kind != Kind::Month || tokens[i].length > 2)
            continue;
        qsizetype before = i - 1, after = i + 1;
        while (before >= 0 && tokens[before].kind == Kind::Literal)
            --before;
        while (after < tokens.size() && tokens[after].kind == Kind::Literal)
            ++after;
        const bool afterHour =
            before >= 0 && (tokens[before].kind == Kind::Hour || tokens[before].kind == Kind::ElapsedHours);
        const bool beforeSecond = after < tokens.size() && tokens[after].kind == Kind::Second;
        if (afterHour || beforeSecond)
            tokens[i].kind = Kind::Minute;
    }
    return tokens;
}

QString renderDate(double serial, QStringView code, bool date1904)
{
    const QList<Token> tokens = tokenize(code);
    DateTime t = fromSerial(serial, date1904);
    bool twelveHour = false;
    for (const Token& token : tokens)
        twelveHour = twelveHour || token.kind == Kind::AmPm;
    // Seconds shown without their fraction are rounded, as the program shows them.
    bool showsFraction = false;
    for (const Token& token : tokens)
        showsFraction = showsFraction || token.kind == Kind::Fraction;
    if (!showsFraction && t.fraction >= 0.5)
        t = fromSerial(serial + 0.5 / 86400.0, date1904), t.fraction = 0;
    const QLocale english(QLocale::English);

    QString out;
    for (const Token& token : tokens) {
        switch (token.kind) {
        case Kind::Literal:
            out += token.text;
            break;
        case Kind::Year:
            out += token.length <= 2 ? padded(t.date.year() % 100, 2) : QString::number(t.date.year());
            break;
        case Kind::Month:
            if (token.length == 1)
                out += QString::number(t.date.month());
            else if (token.length == 2)
                out += padded(t.date.month(), 2);
            else if (token.length == 3)
                out += english.monthName(t.date.month(), QLocale::ShortFormat);
            else if (token.length == 5)
                out += english.monthName(t.date.month(), QLocale::ShortFormat).left(1);
            else
                out += english.monthName(t.date.month());
            break;
        case Kind::Day:
            if (token.length == 1)
                out += QString::number(t.date.day());
            else if (token.length == 2)
                out += padded(t.date.day(), 2);
            else if (token.length == 3)
                out += english.dayName(t.date.dayOfWeek(), QLocale::ShortFormat);
            else
                out += english.dayName(t.date.dayOfWeek());
            break;
        case Kind::Hour: {
            int h = t.hours;
            if (twelveHour) {
                h %= 12;
                if (h == 0)
                    h = 12;
            }
            out += token.length == 1 ? QString::number(h) : padded(h, 2);
            break;
        }
        case Kind::ElapsedHours:
            out += padded(qint64(std::floor(t.serial)) * 24 + t.hours, token.length);
            break;
        case Kind::Minute:
            out += token.length == 1 ? QString::number(t.minutes) : padded(t.minutes, 2);
            break;
        case Kind::Second:
            out += token.length == 1 ? QString::number(t.seconds) : padded(t.seconds, 2);
            break;
        case Kind::Fraction: {
            const qint64 scale = qint64(std::pow(10, token.length));
            out +=
                u'.'
                + padded(std::min(scale - 1, qint64(std::llround(t.fraction * double(scale)))), token.length);
            break;
        }
        case Kind::AmPm:
            if (token.text == u"上午")
                out += t.hours < 12 ? QStringLiteral("上午") : QStringLiteral("下午");
            else if (token.text == u"A")
                out += t.hours < 12 ? u'A' : u'P';
            else
                out += t.hours < 12 ? QStringLiteral("AM") : QStringLiteral("PM");
            break;
        }
    }
    return out;
}

} // namespace

namespace CellText {

bool isDateFormat(QStringView formatCode)
{
    const QStringView code = firstSection(formatCode);
    if (code.compare(u"General", Qt::CaseInsensitive) == 0)
        return false;
    for (const Token& token : tokenize(code)) {
        if (token.kind != Kind::Literal && token.kind != Kind::Fraction)
            return true;
    }
    return false;
}

QString number(double value, QStringView formatCode, bool date1904)
{
    const QStringView code = firstSection(formatCode);
    if (!code.isEmpty() && isDateFormat(code) && value >= 0 && value < 2958466)
        return renderDate(value, code, date1904);
    // Student numbers kept as numbers with leading zeros drawn by a format such as 000000.
    if (!code.isEmpty() && code.count(u'0') == code.size() && value >= 0 && value == std::trunc(value)
        && value < 1e15)
        return padded(qint64(value), int(code.size()));
    return plainNumber(value);
}

QString builtInFormat(int id)
{
    switch (id) {
    case 1:
        return QStringLiteral("0");
    case 14:
        return QStringLiteral("yyyy/m/d");
    case 15:
        return QStringLiteral("d-mmm-yy");
    case 16:
        return QStringLiteral("d-mmm");
    case 17:
        return QStringLiteral("mmm-yy");
    case 18:
        return QStringLiteral("h:mm AM/PM");
    case 19:
        return QStringLiteral("h:mm:ss AM/PM");
    case 20:
        return QStringLiteral("h:mm");
    case 21:
        return QStringLiteral("h:mm:ss");
    case 22:
        return QStringLiteral("yyyy/m/d h:mm");
    case 27:
    case 36:
    case 50:
    case 57:
        return QStringLiteral("yyyy\"年\"m\"月\"");
    case 28:
    case 29:
    case 51:
    case 54:
    case 56:
    case 58:
        return QStringLiteral("m\"月\"d\"日\"");
    case 30:
        return QStringLiteral("m-d-yy");
    case 31:
    case 52:
    case 53:
        return QStringLiteral("yyyy\"年\"m\"月\"d\"日\"");
    case 32:
        return QStringLiteral("h\"时\"mm\"分\"");
    case 33:
        return QStringLiteral("h\"时\"mm\"分\"ss\"秒\"");
    case 34:
    case 55:
        return QStringLiteral("上午/下午h\"时\"mm\"分\"");
    case 35:
        return QStringLiteral("上午/下午h\"时\"mm\"分\"ss\"秒\"");
    case 45:
        return QStringLiteral("mm:ss");
    case 46:
        return QStringLiteral("[h]:mm:ss");
    case 47:
        return QStringLiteral("mm:ss.0");
    default:
        return {};
    }
}

} // namespace CellText
