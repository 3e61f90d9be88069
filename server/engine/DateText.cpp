// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/engine/DateText.h"

#include <QDate>
#include <QRegularExpression>

#include <cmath>

namespace asp {

namespace {

const QDate epoch(1899, 12, 30);

// Whole days and seconds of the day, rounded to the second as VBScript shows them.
std::pair<qint64, int> daysAndSeconds(double days)
{
    const double whole = std::trunc(days);
    qint64 seconds = std::llround(std::fabs(days - whole) * 86400.0);
    qint64 d = qint64(whole);
    if (seconds >= 86400) {
        seconds -= 86400;
        d += days < 0 ? -1 : 1;
    }
    return {d, int(seconds)};
}

int fullYear(int year, bool written4)
{
    if (written4 || year >= 100)
        return year;
    return year < 30 ? 2000 + year : 1900 + year;
}

} // namespace

DateParts dateParts(double days)
{
    const auto [d, seconds] = daysAndSeconds(days);
    const QDate date = epoch.addDays(d);
    return {date.year(), date.month(), date.day(), seconds / 3600, seconds / 60 % 60, seconds % 60};
}

std::optional<double> serialDate(int year, int month, int day)
{
    // Months and days past their ends roll over, as DateSerial(2024, 14, 1) is 2025/2/1.
    const int monthIndex = year * 12 + (month - 1);
    const int y = monthIndex >= 0 ? monthIndex / 12 : (monthIndex - 11) / 12;
    const int m = monthIndex - y * 12 + 1;
    if (y < 100 || y > 9999)
        return std::nullopt;
    const QDate first(y, m, 1);
    const qint64 serial = epoch.daysTo(first) + (day - 1);
    const QDate result = epoch.addDays(serial);
    if (result.year() < 100 || result.year() > 9999)
        return std::nullopt;
    return double(serial);
}

double serialTime(int hour, int minute, int second)
{
    return (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
}

double joinDateTime(double date, double time) { return date < 0 ? date - time : date + time; }

std::optional<double> parseDateText(QStringView input)
{
    QString text = input.trimmed().toString();
    if (text.isEmpty())
        return std::nullopt;

    // The time part, at the end: [上午|下午|AM|PM] h:mm[:ss] [AM|PM]
    static const QRegularExpression timePattern(
        QStringLiteral(
            "(?:^|\\s+)(上午|下午|AM|PM)?\\s*(\\d{1,2}):(\\d{1,2})(?::(\\d{1,2}))?\\s*(AM|PM|上午|下午)?$"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression hourOnly(QStringLiteral("(?:^|\\s+)(\\d{1,2})\\s*(AM|PM)$"),
                                             QRegularExpression::CaseInsensitiveOption);
    std::optional<double> time;
    auto takeTime = [&](int hour, int minute, int second, const QString& marker) -> bool {
        const QString m = marker.toUpper();
        if (!m.isEmpty()) {
            if (hour < 1 || hour > 12)
                return false;
            const bool pm = m == u"PM" || m == QStringLiteral("下午");
            hour = hour % 12 + (pm ? 12 : 0);
        }
        if (hour > 23 || minute > 59 || second > 59)
            return false;
        time = serialTime(hour, minute, second);
        return true;
    };
    if (const auto m = timePattern.match(text); m.hasMatch()) {
        const QString marker = m.captured(1).isEmpty() ? m.captured(5) : m.captured(1);
        if (!m.captured(1).isEmpty() && !m.captured(5).isEmpty())
            return std::nullopt;
        if (!takeTime(m.captured(2).toInt(), m.captured(3).toInt(), m.captured(4).toInt(), marker))
            return std::nullopt;
        text = text.left(m.capturedStart()).trimmed();
    } else if (const auto h = hourOnly.match(text); h.hasMatch()) {
        if (!takeTime(h.captured(1).toInt(), 0, 0, h.captured(2)))
            return std::nullopt;
        text = text.left(h.capturedStart()).trimmed();
    }
    if (text.isEmpty())
        return time;

    static const QRegularExpression yearFirst(
        QStringLiteral("^(\\d{1,4})\\s*[-/.年]\\s*(\\d{1,2})\\s*[-/.月]\\s*(\\d{1,2})\\s*日?$"));
    static const QRegularExpression yearLast(
        QStringLiteral("^(\\d{1,2})\\s*[-/.]\\s*(\\d{1,2})\\s*[-/.]\\s*(\\d{1,4})$"));
    static const QRegularExpression monthDay(QStringLiteral("^(\\d{1,2})\\s*[-/.月]\\s*(\\d{1,2})\\s*日?$"));
    static const QRegularExpression yearMonth(QStringLiteral("^(\\d{4})\\s*[-/.年]\\s*(\\d{1,2})\\s*月?$"));
    int year = 0, month = 0, day = 0;
    if (const auto m = yearFirst.match(text); m.hasMatch()) {
        year = fullYear(m.captured(1).toInt(), m.captured(1).size() >= 3);
        month = m.captured(2).toInt();
        day = m.captured(3).toInt();
    } else if (const auto m = yearLast.match(text); m.hasMatch()) {
        year = fullYear(m.captured(3).toInt(), m.captured(3).size() >= 3);
        month = m.captured(1).toInt();
        day = m.captured(2).toInt();
    } else if (const auto m = yearMonth.match(text); m.hasMatch()) {
        year = m.captured(1).toInt();
        month = m.captured(2).toInt();
        day = 1;
    } else if (const auto m = monthDay.match(text); m.hasMatch()) {
        year = QDate::currentDate().year();
        month = m.captured(1).toInt();
        day = m.captured(2).toInt();
    } else {
        return std::nullopt;
    }
    if (!QDate::isValid(year, month, day) || year < 100 || year > 9999)
        return std::nullopt;
    const double date = double(epoch.daysTo(QDate(year, month, day)));
    return time ? joinDateTime(date, *time) : date;
}

QString shortDateText(double days)
{
    const DateParts p = dateParts(days);
    return QStringLiteral("%1/%2/%3").arg(p.year).arg(p.month).arg(p.day);
}

QString longDateText(double days)
{
    const DateParts p = dateParts(days);
    return QStringLiteral("%1年%2月%3日").arg(p.year).arg(p.month).arg(p.day);
}

QString longTimeText(double days)
{
    const DateParts p = dateParts(days);
    return QStringLiteral("%1:%2:%3")
        .arg(p.hour)
        .arg(p.minute, 2, 10, QChar(u'0'))
        .arg(p.second, 2, 10, QChar(u'0'));
}

QString shortTimeText(double days)
{
    const DateParts p = dateParts(days);
    return QStringLiteral("%1:%2").arg(p.hour, 2, 10, QChar(u'0')).arg(p.minute, 2, 10, QChar(u'0'));
}

QString generalDateText(double days)
{
    const auto [whole, seconds] = daysAndSeconds(days);
    if (whole == 0 && seconds != 0)
        return longTimeText(days);
    return seconds == 0 ? shortDateText(days) : shortDateText(days) + u' ' + longTimeText(days);
}

} // namespace asp
