// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringView>

#include <optional>

namespace asp {

// Dates as VBScript keeps them: days since 30 December 1899, the time of day as the
// fraction. Before that day the whole part counts back and the fraction still counts
// forward, so -1.25 is 29 December 1899 at 6:00.
struct DateParts {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0;
};

DateParts dateParts(double days);
// Nothing when the year, month or day is out of VBScript's range (years 100 to 9999).
std::optional<double> serialDate(int year, int month, int day);
double serialTime(int hour, int minute, int second);
// The serial of a date and a time of day together, keeping the odd rule before 1899.
double joinDateTime(double date, double time);

// Text as a date, the way a Chinese Windows reads it: 2024-3-5, 2024/3/5, 2024年3月5日,
// 3/5/2024 (month first, as in #…# literals), each with an optional time such as 14:05,
// 2:05:09 PM or 下午 2:05; or a time alone.
std::optional<double> parseDateText(QStringView text);

// As the regional settings of a Chinese Windows show them.
QString shortDateText(double days); // 2024/3/5
QString longDateText(double days);  // 2024年3月5日
QString longTimeText(double days);  // 14:05:09
QString shortTimeText(double days); // 14:05
// What CStr and Response.Write give: the date, the time, or both; midnight shows no time.
QString generalDateText(double days);

} // namespace asp
