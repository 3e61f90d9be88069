// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/engine/Builtins.h"

#include "server/engine/DateText.h"
#include "server/engine/PageText.h"
#include "server/engine/ScriptError.h"

#include <QDateTime>
#include <QHash>
#include <QSet>

#include <cmath>

namespace asp {

namespace {

// Most text functions answer Null for Null, as VBScript's do.
bool anyNull(const Args& args, size_t count)
{
    for (size_t i = 0; i < std::min(count, args.size()); ++i) {
        if (scalar(args[i]).isNull())
            return true;
    }
    return false;
}

QString text(const Value& v) { return scalar(v).toString(); }

// The compare argument: vbBinaryCompare (0, the default) or vbTextCompare (1), nothing else.
Qt::CaseSensitivity compareMode(const Args& args, size_t index, const char* name)
{
    if (args.size() <= index || scalar(args[index]).isEmpty())
        return Qt::CaseSensitive;
    switch (scalar(args[index]).toLong()) {
    case 0:
        return Qt::CaseSensitive;
    case 1:
        return Qt::CaseInsensitive;
    default:
        throw invalidArgument(QString::fromLatin1(name));
    }
}

// How many substrings Split makes or Replace replaces: -1 (the default) for all.
qint32 countLimit(const Args& args, size_t index, const char* name)
{
    if (args.size() <= index || scalar(args[index]).isEmpty())
        return -1;
    const qint32 n = scalar(args[index]).toLong();
    if (n < -1)
        throw invalidArgument(QString::fromLatin1(name));
    return n;
}

qint32 nonNegative(const Value& v, const char* name)
{
    const qint32 n = scalar(v).toLong();
    if (n < 0)
        throw invalidArgument(QString::fromLatin1(name));
    return n;
}

qint32 position(const Value& v, const char* name)
{
    const qint32 n = scalar(v).toLong();
    if (n < 1)
        throw invalidArgument(QString::fromLatin1(name));
    return n;
}

Value len(const Args& a)
{
    const Value v = scalar(a[0]);
    if (v.isNull())
        return v;
    return Value::fromLong(qint32(v.toString().size()));
}

Value lenB(const Args& a)
{
    const Value v = scalar(a[0]);
    if (v.isNull())
        return v;
    if (v.type() == Value::Type::Bytes)
        return Value::fromLong(qint32(v.bytes().size()));
    return Value::fromLong(qint32(v.toString().size() * 2));
}

Value left(const Args& a)
{
    const qint32 n = nonNegative(a[1], "Left");
    if (anyNull(a, 1))
        return Value::null();
    return Value::fromString(text(a[0]).left(n));
}

Value right(const Args& a)
{
    const qint32 n = nonNegative(a[1], "Right");
    if (anyNull(a, 1))
        return Value::null();
    return Value::fromString(text(a[0]).right(n));
}

Value mid(const Args& a)
{
    const qint32 start = position(a[1], "Mid");
    const bool all = a.size() < 3 || scalar(a[2]).isEmpty();
    const qint32 length = all ? -1 : nonNegative(a[2], "Mid");
    if (anyNull(a, 1))
        return Value::null();
    return Value::fromString(text(a[0]).mid(start - 1, length));
}

Value inStr(const Args& a)
{
    const bool withStart = a.size() >= 3;
    const qint32 start = withStart ? position(a[0], "InStr") : 1;
    const size_t first = withStart ? 1 : 0;
    const Qt::CaseSensitivity cs = compareMode(a, first + 2, "InStr");
    if (anyNull(Args(a.begin() + qsizetype(first), a.begin() + qsizetype(first) + 2), 2))
        return Value::null();
    const QString haystack = text(a[first]);
    const QString needle = text(a[first + 1]);
    // An empty text has nothing, not even an empty text; past the end nothing is found.
    if (haystack.isEmpty() || start > haystack.size())
        return Value::fromLong(0);
    if (needle.isEmpty())
        return Value::fromLong(start);
    const qsizetype at = haystack.indexOf(needle, start - 1, cs);
    return Value::fromLong(qint32(at + 1));
}

Value inStrRev(const Args& a)
{
    qint32 start = a.size() > 2 && !scalar(a[2]).isEmpty() ? scalar(a[2]).toLong() : -1;
    if (start == 0 || start < -1)
        throw invalidArgument(QStringLiteral("InStrRev"));
    const Qt::CaseSensitivity cs = compareMode(a, 3, "InStrRev");
    if (anyNull(a, 2))
        return Value::null();
    const QString haystack = text(a[0]);
    const QString needle = text(a[1]);
    if (start == -1)
        start = qint32(haystack.size());
    if (haystack.isEmpty() || start > haystack.size())
        return Value::fromLong(0);
    if (needle.isEmpty())
        return Value::fromLong(start);
    const qsizetype from = start - needle.size();
    if (from < 0)
        return Value::fromLong(0);
    return Value::fromLong(qint32(haystack.lastIndexOf(needle, from, cs) + 1));
}

Value replace(const Args& a)
{
    const QString source = text(a[0]);
    const QString find = text(a[1]);
    const QString with = text(a[2]);
    const qint32 start = a.size() > 3 && !scalar(a[3]).isEmpty() ? position(a[3], "Replace") : 1;
    const qint32 count = countLimit(a, 4, "Replace");
    const Qt::CaseSensitivity cs = compareMode(a, 5, "Replace");
    // VBScript answers only the part from `start` on.
    const QString rest = source.mid(start - 1);
    if (find.isEmpty() || count == 0)
        return Value::fromString(rest);
    QString out;
    qsizetype from = 0;
    for (qint32 done = 0; count < 0 || done < count; ++done) {
        const qsizetype at = rest.indexOf(find, from, cs);
        if (at < 0)
            break;
        out += QStringView(rest).mid(from, at - from);
        out += with;
        from = at + find.size();
        if (out.size() > maxStringLength)
            throw outOfMemory();
    }
    out += QStringView(rest).mid(from);
    return Value::fromString(out);
}

QString trimmedSpaces(const QString& s, bool front, bool back)
{
    qsizetype b = 0, e = s.size();
    if (front)
        while (b < e && s[b] == u' ')
            ++b;
    if (back)
        while (e > b && s[e - 1] == u' ')
            --e;
    return s.mid(b, e - b);
}

template <bool Front, bool Back> Value trim(const Args& a)
{
    if (anyNull(a, 1))
        return Value::null();
    return Value::fromString(trimmedSpaces(text(a[0]), Front, Back));
}

Value uCase(const Args& a)
{
    if (anyNull(a, 1))
        return Value::null();
    return Value::fromString(text(a[0]).toUpper());
}

Value lCase(const Args& a)
{
    if (anyNull(a, 1))
        return Value::null();
    return Value::fromString(text(a[0]).toLower());
}

Value space(const Args& a)
{
    const qint32 n = nonNegative(a[0], "Space");
    if (n > maxStringLength)
        throw outOfMemory();
    return Value::fromString(QString(n, u' '));
}

Value chr(const Args& a);

// Unlike most, String answers Null for a Null count too.
Value string(const Args& a)
{
    if (anyNull(a, 2))
        return Value::null();
    const qint32 n = nonNegative(a[0], "String");
    if (n > maxStringLength)
        throw outOfMemory();
    const Value c = scalar(a[1]);
    QString ch;
    if (c.isString() || c.type() == Value::Type::Bytes) {
        ch = c.toString().left(1);
        if (ch.isEmpty())
            throw invalidArgument(QStringLiteral("String"));
    } else {
        // A character code past 255 is taken Mod 256; a negative one stays negative and is none.
        const qint32 code = c.toLong() % 256;
        if (code < 0)
            throw invalidArgument(QStringLiteral("String"));
        ch = chr({Value::fromLong(code)}).string();
    }
    return Value::fromString(ch.repeated(n));
}

Value strComp(const Args& a)
{
    const Qt::CaseSensitivity cs = compareMode(a, 2, "StrComp");
    if (anyNull(a, 2))
        return Value::null();
    const int c = text(a[0]).compare(text(a[1]), cs);
    return Value::fromInteger(qint16(c < 0 ? -1 : c > 0 ? 1 : 0));
}

Value strReverse(const Args& a)
{
    QString s = text(a[0]);
    std::reverse(s.begin(), s.end());
    return Value::fromString(s);
}

// Character codes are GBK codes, as on a Chinese system: Asc("中") is the Integer of D6D0.
Value asc(const Args& a)
{
    const QString s = text(a[0]);
    if (s.isEmpty())
        throw invalidArgument(QStringLiteral("Asc"));
    if (s[0].unicode() < 0x80)
        return Value::fromInteger(qint16(s[0].unicode()));
    const QByteArray bytes = encodeGbk(QStringView(s).left(s[0].isHighSurrogate() && s.size() > 1 ? 2 : 1));
    if (bytes.size() == 1)
        return Value::fromInteger(qint16(quint8(bytes[0])));
    if (bytes.size() == 2)
        return Value::fromInteger(qint16(quint16((quint8(bytes[0]) << 8) | quint8(bytes[1]))));
    return Value::fromInteger(qint16(s[0].unicode()));
}

Value chr(const Args& a)
{
    const qint32 n = scalar(a[0]).toLong();
    if (n < -32768 || n > 65535)
        throw invalidArgument(QStringLiteral("Chr"));
    const quint16 code = quint16(n);
    if (code < 0x80)
        return Value::fromString(QString(QChar(code)));
    QByteArray bytes;
    if (code > 0xff)
        bytes.append(char(code >> 8));
    bytes.append(char(code & 0xff));
    return Value::fromString(decodeGbk(bytes));
}

Value ascW(const Args& a)
{
    const QString s = text(a[0]);
    if (s.isEmpty())
        throw invalidArgument(QStringLiteral("AscW"));
    return Value::fromInteger(qint16(s[0].unicode()));
}

Value chrW(const Args& a)
{
    const qint32 n = scalar(a[0]).toLong();
    if (n < -32768 || n > 65535)
        throw invalidArgument(QStringLiteral("ChrW"));
    return Value::fromString(QString(QChar(ushort(n))));
}

QByteArray asBytes(const Value& v0)
{
    const Value v = scalar(v0);
    if (v.type() == Value::Type::Bytes)
        return v.bytes();
    const QString s = v.toString();
    return QByteArray(reinterpret_cast<const char*>(s.utf16()), s.size() * 2);
}

Value ascB(const Args& a)
{
    const QByteArray b = asBytes(a[0]);
    if (b.isEmpty())
        throw invalidArgument(QStringLiteral("AscB"));
    return Value::fromInteger(qint16(quint8(b[0])));
}

Value midB(const Args& a)
{
    const qint32 start = position(a[1], "MidB");
    const qint32 length = a.size() < 3 || scalar(a[2]).isEmpty() ? -1 : nonNegative(a[2], "MidB");
    if (anyNull(a, 1))
        return Value::null();
    return Value::fromBytes(asBytes(a[0]).mid(start - 1, length));
}

Value cStr(const Args& a) { return Value::fromString(scalar(a[0]).toString()); }
Value cInt(const Args& a) { return Value::fromInteger(scalar(a[0]).toInteger()); }
Value cLng(const Args& a) { return Value::fromLong(scalar(a[0]).toLong()); }
Value cDbl(const Args& a) { return Value::fromDouble(scalar(a[0]).toDouble()); }
Value cBool(const Args& a) { return Value::fromBool(scalar(a[0]).toBool()); }

Value cByte(const Args& a)
{
    const qint32 n = scalar(a[0]).toLong();
    if (n < 0 || n > 255)
        throw overflow();
    return Value::fromInteger(qint16(n));
}

// Hex and Oct: an Integer shows its 16 bits, anything else those of a Long.
template <int Base> Value digitsOf(const Args& a)
{
    const Value v = scalar(a[0]);
    if (v.isNull())
        return v;
    const qint32 n = v.toLong();
    const quint32 bits =
        v.type() == Value::Type::Integer || v.type() == Value::Type::Boolean ? quint16(n) : quint32(n);
    return Value::fromString(QString::number(bits, Base).toUpper());
}

Value isNumeric(const Args& a)
{
    const Value v = a[0].isNothing() ? a[0] : scalar(a[0]);
    switch (v.type()) {
    case Value::Type::Empty:
    case Value::Type::Boolean:
    case Value::Type::Integer:
    case Value::Type::Long:
    case Value::Type::Double:
        return Value::fromBool(true);
    case Value::Type::String:
        return Value::fromBool(parseNumber(v.string()).has_value());
    default:
        return Value::fromBool(false);
    }
}

Value isEmpty(const Args& a) { return Value::fromBool(!a[0].isNothing() && scalar(a[0]).isEmpty()); }
Value isNull(const Args& a) { return Value::fromBool(!a[0].isNothing() && scalar(a[0]).isNull()); }
Value isArray(const Args& a) { return Value::fromBool(a[0].isArray()); }
Value isObject(const Args& a) { return Value::fromBool(a[0].isObject()); }
Value typeName(const Args& a) { return Value::fromString(a[0].typeName()); }

Value varType(const Args& a)
{
    static const int codes[] = {0, 1, 11, 2, 3, 5, 7, 8, 8209, 9, 8204};
    return Value::fromInteger(qint16(codes[int(a[0].type())]));
}

Value split(const Args& a)
{
    const Value source = scalar(a[0]);
    if (source.isNull())
        throw invalidUseOfNull();
    const QString s = source.toString();
    // A delimiter given, even Empty, is used as it is; only one left out is a space.
    const QString delimiter = a.size() > 1 ? text(a[1]) : QStringLiteral(" ");
    const qint32 limit = countLimit(a, 2, "Split");
    const Qt::CaseSensitivity cs = compareMode(a, 3, "Split");
    std::vector<Value> parts;
    if (!s.isEmpty()) {
        if (delimiter.isEmpty()) {
            parts.push_back(Value::fromString(s));
        } else {
            qsizetype from = 0;
            for (;;) {
                if (limit >= 0 && qint32(parts.size()) == limit - 1)
                    break;
                const qsizetype at = s.indexOf(delimiter, from, cs);
                if (at < 0)
                    break;
                parts.push_back(Value::fromString(s.mid(from, at - from)));
                from = at + delimiter.size();
                if (qsizetype(parts.size()) > maxArrayItems)
                    throw outOfMemory();
            }
            parts.push_back(Value::fromString(s.mid(from)));
        }
    }
    if (limit == 0)
        parts.clear();
    return Value::fromArray(Array::fromList(std::move(parts)));
}

// The list Join and Filter take: Null is as wrong as it is for a text, any other value that is
// no array is a type mismatch, and so are more dimensions than one.
const Array& oneDimensional(const Value& v, const char* name, ScriptError (*wrongShape)(const QString&))
{
    if (v.isNull())
        throw invalidUseOfNull();
    if (!v.isArray() || !v.array())
        throw typeMismatch(QString::fromLatin1(name));
    if (v.array()->upper.size() != 1)
        throw wrongShape(QString::fromLatin1(name));
    return *v.array();
}

Value join(const Args& a)
{
    const Array& list = oneDimensional(a[0], "Join", invalidArgument);
    const QString delimiter = a.size() > 1 ? text(a[1]) : QStringLiteral(" ");
    QStringList parts;
    for (const Value& v : list.items)
        parts << text(v);
    return Value::fromString(parts.join(delimiter));
}

// The texts of a list that hold (or, with include False, lack) a value.
Value filter(const Args& a)
{
    const Array& list = oneDimensional(a[0], "Filter", [](const QString&) { return subscriptOutOfRange(); });
    const QString value = text(a[1]);
    const bool include = a.size() < 3 || scalar(a[2]).isEmpty() || scalar(a[2]).toBool();
    const Qt::CaseSensitivity cs = compareMode(a, 3, "Filter");
    std::vector<Value> kept;
    for (const Value& item : list.items) {
        QString s = text(item);
        if (s.contains(value, cs) == include)
            kept.push_back(Value::fromString(std::move(s)));
    }
    return Value::fromArray(Array::fromList(std::move(kept)));
}

// The dimension UBound and LBound ask for; a dynamic array not yet sized has none to ask.
int dimension(const Args& a, const char* name)
{
    if (!a[0].isArray() || !a[0].array())
        throw typeMismatch(QString::fromLatin1(name));
    const qint32 d = a.size() > 1 ? scalar(a[1]).toLong() : 1;
    if (d < 1 || d > qint32(a[0].array()->upper.size()))
        throw subscriptOutOfRange();
    return d - 1;
}

Value uBound(const Args& a)
{
    const int d = dimension(a, "UBound");
    return Value::fromLong(a[0].array()->upper[size_t(d)]);
}

Value lBound(const Args& a)
{
    dimension(a, "LBound");
    return Value::fromLong(0);
}

Value array(const Args& a)
{
    std::vector<Value> items;
    for (const Value& v : a)
        items.push_back(v.copied());
    return Value::fromArray(Array::fromList(std::move(items)));
}

double oleDate(const QDateTime& t)
{
    return double(QDate(1899, 12, 30).daysTo(t.date())) + t.time().msecsSinceStartOfDay() / 86400000.0;
}

Value now(const Args&) { return Value::fromDate(oleDate(QDateTime::currentDateTime())); }
Value date(const Args&) { return Value::fromDate(std::floor(oleDate(QDateTime::currentDateTime()))); }

Value time(const Args&)
{
    const double d = oleDate(QDateTime::currentDateTime());
    return Value::fromDate(d - std::floor(d));
}

// A date, a number of days, or a text such as 2024/5/1 or 2024-05-01 12:30:00.
std::optional<double> daysOf(const Value& v0)
{
    const Value v = scalar(v0);
    if (v.isNull())
        return std::nullopt;
    if (v.type() != Value::Type::String)
        return v.toDouble();
    const QString t = v.string().trimmed();
    if (const auto days = parseDateText(t))
        return days;
    if (const auto number = parseNumber(t))
        return number;
    throw typeMismatch(QStringLiteral("[string: \"") + t.left(40) + QStringLiteral("\"]"));
}

double requiredDays(const Value& v)
{
    const auto days = daysOf(v);
    if (!days)
        throw invalidUseOfNull();
    return *days;
}

template <int Part> Value datePart(const Args& a)
{
    const auto days = daysOf(a[0]);
    if (!days)
        return Value::null();
    const DateParts p = dateParts(*days);
    const int parts[] = {p.year, p.month, p.day, p.hour, p.minute, p.second};
    return Value::fromInteger(qint16(parts[Part]));
}

template <typename Whole> Value wholePart(const Args& a, Whole whole)
{
    const Value v = scalar(a[0]);
    switch (v.type()) {
    case Value::Type::Null:
    case Value::Type::Integer:
    case Value::Type::Long:
        return v;
    case Value::Type::Empty:
    case Value::Type::Boolean:
        return Value::fromInteger(qint16(v.toLong()));
    default:
        return Value::fromDouble(whole(v.toDouble()));
    }
}

Value intFn(const Args& a)
{
    return wholePart(a, [](double d) { return std::floor(d); });
}
Value fix(const Args& a)
{
    return wholePart(a, [](double d) { return std::trunc(d); });
}

Value absFn(const Args& a)
{
    const Value v = scalar(a[0]);
    switch (v.type()) {
    case Value::Type::Null:
        return v;
    case Value::Type::Empty:
        return Value::fromInteger(0);
    case Value::Type::Integer:
    case Value::Type::Boolean:
    case Value::Type::Long:
        return Value::fromInt(std::abs(qint64(v.toLong())));
    default:
        return Value::fromDouble(std::fabs(v.toDouble()));
    }
}

Value sgn(const Args& a)
{
    const double d = scalar(a[0]).toDouble();
    return Value::fromInteger(qint16(d < 0 ? -1 : d > 0 ? 1 : 0));
}

Value round(const Args& a)
{
    const Value v = scalar(a[0]);
    if (v.isNull())
        return v;
    const qint32 digits = a.size() > 1 ? nonNegative(a[1], "Round") : 0;
    if (v.type() == Value::Type::Integer || v.type() == Value::Type::Long)
        return v;
    const double scale = std::pow(10.0, digits);
    // Halves go to the even neighbour, as VBScript rounds.
    const double scaled = v.toDouble() * scale;
    return Value::fromDouble((scaled - std::remainder(scaled, 1.0)) / scale);
}

// An optional argument: left out or Empty gives the default.
qint32 optionalLong(const Args& a, size_t i, qint32 fallback)
{
    if (a.size() <= i || scalar(a[i]).isEmpty())
        return fallback;
    return scalar(a[i]).toLong();
}

Value dateValueOf(double days)
{
    if (days < -657434 || days >= 2958466) // 100/1/1 to 9999/12/31
        throw overflow();
    return Value::fromDate(days);
}

Value cDate(const Args& a)
{
    const Value v = scalar(a[0]);
    if (v.isNull())
        throw invalidUseOfNull();
    if (v.isString()) {
        if (const auto days = parseDateText(v.string()))
            return dateValueOf(*days);
        throw typeMismatch(QStringLiteral("CDate"));
    }
    return dateValueOf(v.toDouble());
}

Value isDate(const Args& a)
{
    const Value v = scalar(a[0]);
    if (v.type() == Value::Type::Date)
        return Value::fromBool(true);
    return Value::fromBool(v.isString() && parseDateText(v.string()).has_value());
}

Value dateValue(const Args& a)
{
    const Value v = scalar(a[0]);
    if (v.isNull())
        return v;
    const double days = requiredDays(v);
    return dateValueOf(days < 0 ? std::ceil(days) : std::floor(days));
}

Value timeValue(const Args& a)
{
    const Value v = scalar(a[0]);
    if (v.isNull())
        return v;
    const double days = requiredDays(v);
    return Value::fromDate(std::fabs(days - std::trunc(days)));
}

// Two-digit years as Windows reads them: 0 to 29 are 2000 to 2029, 30 to 99 are 1930 to 1999.
int windowedYear(qint32 year)
{
    if (year >= 0 && year < 30)
        return 2000 + year;
    if (year >= 30 && year < 100)
        return 1900 + year;
    return year;
}

Value dateSerial(const Args& a)
{
    if (anyNull(a, 3))
        throw invalidUseOfNull();
    const auto days =
        serialDate(windowedYear(scalar(a[0]).toLong()), scalar(a[1]).toLong(), scalar(a[2]).toLong());
    if (!days)
        throw invalidArgument(QStringLiteral("DateSerial"));
    return dateValueOf(*days);
}

qint64 secondsOf(double days)
{
    const double whole = std::trunc(days);
    const qint64 seconds = std::llround(std::fabs(days - whole) * 86400.0);
    return qint64(whole) * 86400 + seconds;
}

double fromSeconds(qint64 seconds)
{
    const qint64 days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    const qint64 rest = seconds - days * 86400;
    return joinDateTime(double(days), double(rest) / 86400.0);
}

Value timeSerial(const Args& a)
{
    if (anyNull(a, 3))
        throw invalidUseOfNull();
    const qint64 seconds =
        qint64(scalar(a[0]).toLong()) * 3600 + qint64(scalar(a[1]).toLong()) * 60 + scalar(a[2]).toLong();
    return Value::fromDate(fromSeconds(seconds));
}

int weekdayOf(double days, int firstDay)
{
    const DateParts p = dateParts(days);
    const int sundayBased = QDate(p.year, p.month, p.day).dayOfWeek() % 7 + 1; // Sunday is 1
    return (sundayBased - firstDay + 7) % 7 + 1;
}

int firstDayOf(const Args& a, size_t i)
{
    const qint32 first = optionalLong(a, i, 1);
    if (first < 0 || first > 7)
        throw invalidArgument(QStringLiteral("firstdayofweek"));
    return first == 0 ? 1 : first; // the system's first day is Sunday
}

Value weekday(const Args& a)
{
    const Value v = scalar(a[0]);
    if (v.isNull())
        return v;
    return Value::fromInteger(qint16(weekdayOf(requiredDays(v), firstDayOf(a, 1))));
}

Value weekdayName(const Args& a)
{
    static const char16_t* full[] = {u"星期日", u"星期一", u"星期二", u"星期三",
                                     u"星期四", u"星期五", u"星期六"};
    static const char16_t* brief[] = {u"周日", u"周一", u"周二", u"周三", u"周四", u"周五", u"周六"};
    const qint32 n = scalar(a[0]).toLong();
    if (n < 1 || n > 7)
        throw invalidArgument(QStringLiteral("WeekdayName"));
    const bool abbreviate = a.size() > 1 && !scalar(a[1]).isEmpty() && scalar(a[1]).toBool();
    const int index = (n - 1 + firstDayOf(a, 2) - 1) % 7;
    return Value::fromString(QString::fromUtf16(abbreviate ? brief[index] : full[index]));
}

Value monthName(const Args& a)
{
    static const char16_t* names[] = {u"一月", u"二月", u"三月", u"四月", u"五月",   u"六月",
                                      u"七月", u"八月", u"九月", u"十月", u"十一月", u"十二月"};
    const qint32 n = scalar(a[0]).toLong();
    if (n < 1 || n > 12)
        throw invalidArgument(QStringLiteral("MonthName"));
    const bool abbreviate = a.size() > 1 && !scalar(a[1]).isEmpty() && scalar(a[1]).toBool();
    return Value::fromString(abbreviate ? QString::number(n) + u'月' : QString::fromUtf16(names[n - 1]));
}

Value timer(const Args&)
{
    const QTime t = QTime::currentTime();
    return Value::fromDouble(std::floor(t.msecsSinceStartOfDay() / 10.0) / 100.0);
}

enum class Interval { Year, Quarter, Month, DayOfYear, Day, Weekday, Week, Hour, Minute, Second };

Interval intervalOf(const Value& v)
{
    static const QHash<QString, Interval> names = {
        {"yyyy", Interval::Year},   {"q", Interval::Quarter}, {"m", Interval::Month},
        {"y", Interval::DayOfYear}, {"d", Interval::Day},     {"w", Interval::Weekday},
        {"ww", Interval::Week},     {"h", Interval::Hour},    {"n", Interval::Minute},
        {"s", Interval::Second},
    };
    const auto it = names.constFind(scalar(v).toString().toLower());
    if (it == names.cend())
        throw invalidArgument(QStringLiteral("interval"));
    return *it;
}

Value dateAdd(const Args& a)
{
    const Interval interval = intervalOf(a[0]);
    if (anyNull(a, 3))
        return Value::null();
    const qint32 n = scalar(a[1]).toLong();
    const double days = requiredDays(a[2]);
    const DateParts p = dateParts(days);
    const double time = std::fabs(days - std::trunc(days));
    auto addMonths = [&](qint64 months) {
        const qint64 index = qint64(p.year) * 12 + (p.month - 1) + months;
        const int year = int(index / 12), month = int(index % 12) + 1;
        if (year < 100 || year > 9999)
            throw invalidArgument(QStringLiteral("DateAdd"));
        const int day = std::min(p.day, QDate(year, month, 1).daysInMonth());
        return dateValueOf(joinDateTime(*serialDate(year, month, day), time));
    };
    switch (interval) {
    case Interval::Year:
        return addMonths(qint64(n) * 12);
    case Interval::Quarter:
        return addMonths(qint64(n) * 3);
    case Interval::Month:
        return addMonths(n);
    case Interval::DayOfYear:
    case Interval::Day:
    case Interval::Weekday:
        return dateValueOf(fromSeconds(secondsOf(days) + qint64(n) * 86400));
    case Interval::Week:
        return dateValueOf(fromSeconds(secondsOf(days) + qint64(n) * 7 * 86400));
    case Interval::Hour:
        return dateValueOf(fromSeconds(secondsOf(days) + qint64(n) * 3600));
    case Interval::Minute:
        return dateValueOf(fromSeconds(secondsOf(days) + qint64(n) * 60));
    case Interval::Second:
        return dateValueOf(fromSeconds(secondsOf(days) + n));
    }
    return {};
}

qint64 floorDiv(qint64 a, qint64 b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

Value dateDiff(const Args& a)
{
    const Interval interval = intervalOf(a[0]);
    if (anyNull(a, 3))
        return Value::null();
    const double d1 = requiredDays(a[1]), d2 = requiredDays(a[2]);
    const DateParts p1 = dateParts(d1), p2 = dateParts(d2);
    const qint64 s1 = secondsOf(d1), s2 = secondsOf(d2);
    const qint64 day1 = floorDiv(s1, 86400), day2 = floorDiv(s2, 86400);
    switch (interval) {
    case Interval::Year:
        return Value::fromInt(p2.year - p1.year);
    case Interval::Quarter:
        return Value::fromInt((p2.year * 4 + (p2.month - 1) / 3) - (p1.year * 4 + (p1.month - 1) / 3));
    case Interval::Month:
        return Value::fromInt((p2.year * 12 + p2.month) - (p1.year * 12 + p1.month));
    case Interval::DayOfYear:
    case Interval::Day:
        return Value::fromInt(day2 - day1);
    case Interval::Weekday:
        return Value::fromInt((day2 - day1) / 7);
    case Interval::Week: {
        // Counts the first days of weeks between the two dates.
        const int first = firstDayOf(a, 3);
        auto weekStart = [&](qint64 day) { return day - (weekdayOf(double(day), first) - 1); };
        return Value::fromInt((weekStart(day2) - weekStart(day1)) / 7);
    }
    case Interval::Hour:
        return Value::fromInt(floorDiv(s2, 3600) - floorDiv(s1, 3600));
    case Interval::Minute:
        return Value::fromInt(floorDiv(s2, 60) - floorDiv(s1, 60));
    case Interval::Second:
        return Value::fromInt(s2 - s1);
    }
    return {};
}

Value datePartOf(const Args& a)
{
    const Interval interval = intervalOf(a[0]);
    if (anyNull(a, 2))
        return Value::null();
    const double days = requiredDays(a[1]);
    const DateParts p = dateParts(days);
    const QDate date(p.year, p.month, p.day);
    switch (interval) {
    case Interval::Year:
        return Value::fromInteger(qint16(p.year));
    case Interval::Quarter:
        return Value::fromInteger(qint16((p.month - 1) / 3 + 1));
    case Interval::Month:
        return Value::fromInteger(qint16(p.month));
    case Interval::DayOfYear:
        return Value::fromInteger(qint16(date.dayOfYear()));
    case Interval::Day:
        return Value::fromInteger(qint16(p.day));
    case Interval::Weekday:
        return Value::fromInteger(qint16(weekdayOf(days, firstDayOf(a, 2))));
    case Interval::Week: {
        const qint32 rule = optionalLong(a, 3, 1);
        if (rule != 0 && rule != 1)
            throw unsupported(QStringLiteral("的参数：DatePart 的 firstweekofyear ") + QString::number(rule));
        // The week of 1 January is the first one.
        const int first = firstDayOf(a, 2);
        const int jan1 = weekdayOf(*serialDate(p.year, 1, 1), first);
        return Value::fromInteger(qint16((date.dayOfYear() + jan1 - 2) / 7 + 1));
    }
    case Interval::Hour:
        return Value::fromInteger(qint16(p.hour));
    case Interval::Minute:
        return Value::fromInteger(qint16(p.minute));
    case Interval::Second:
        return Value::fromInteger(qint16(p.second));
    }
    return {};
}

Value formatDateTime(const Args& a)
{
    const Value v = scalar(a[0]);
    if (v.isNull())
        throw invalidUseOfNull();
    const double days = requiredDays(v);
    switch (optionalLong(a, 1, 0)) {
    case 0:
        return Value::fromString(generalDateText(days));
    case 1:
        return Value::fromString(longDateText(days));
    case 2:
        return Value::fromString(shortDateText(days));
    case 3:
        return Value::fromString(longTimeText(days));
    case 4:
        return Value::fromString(shortTimeText(days));
    default:
        throw invalidArgument(QStringLiteral("FormatDateTime"));
    }
}

// Tristate arguments: -1 true, 0 false, -2 (or left out) the regional default.
bool tristate(const Args& a, size_t i, bool fallback)
{
    const qint32 v = optionalLong(a, i, -2);
    return v == -2 ? fallback : v != 0;
}

// Numbers as a Chinese Windows shows them: two decimals, groups of three, halves away from zero.
QString formattedNumber(const Args& a, double scale, const char* name)
{
    const Value v = scalar(a[0]);
    if (v.isNull())
        throw invalidUseOfNull();
    const double number = v.toDouble() * scale;
    const qint32 digits = optionalLong(a, 1, 2) == -1 ? 2 : optionalLong(a, 1, 2);
    if (digits < 0 || digits > 255)
        throw invalidArgument(QString::fromLatin1(name));
    const bool leadingDigit = tristate(a, 2, true);
    const bool parens = tristate(a, 3, false);
    const bool group = tristate(a, 4, true);

    const double magnitude = std::fabs(number);
    const double rounded = std::round(magnitude * std::pow(10.0, std::min(digits, 15)));
    QString whole = QString::number(std::floor(rounded / std::pow(10.0, std::min(digits, 15))), 'f', 0);
    QString fraction = QString::number(rounded, 'f', 0)
                           .right(std::min(digits, 15))
                           .rightJustified(std::min(digits, 15), u'0');
    fraction += QString(qMax(0, digits - 15), u'0');
    if (group) {
        for (qsizetype i = whole.size() - 3; i > 0; i -= 3)
            whole.insert(i, u',');
    }
    if (!leadingDigit && whole == u"0" && digits > 0)
        whole.clear();
    QString text = digits > 0 ? whole + u'.' + fraction : whole;
    if (number < 0 && rounded != 0)
        text = parens ? u'(' + text + u')' : u'-' + text;
    return text;
}

Value formatNumber(const Args& a) { return Value::fromString(formattedNumber(a, 1, "FormatNumber")); }
Value formatPercent(const Args& a)
{
    return Value::fromString(formattedNumber(a, 100, "FormatPercent") + u'%');
}

Value escape(const Args& a)
{
    const Value v = scalar(a[0]);
    if (v.isNull())
        return v;
    const QString s = v.toString();
    static const QByteArray kept = "@*_+-./";
    QString out;
    for (const QChar c : s) {
        const ushort u = c.unicode();
        if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9')
            || (u < 0x80 && kept.contains(char(u))))
            out += c;
        else if (u < 0x100)
            out += QStringLiteral("%%1").arg(u, 2, 16, QChar(u'0')).toUpper();
        else
            out += QStringLiteral("%u%1")
                       .arg(u, 4, 16, QChar(u'0'))
                       .toUpper()
                       .replace(QLatin1String("%U"), QLatin1String("%u"));
    }
    return Value::fromString(out);
}

Value unescape(const Args& a)
{
    const Value v = scalar(a[0]);
    if (v.isNull())
        return v;
    const QString s = v.toString();
    QString out;
    auto hexAt = [&](qsizetype from, qsizetype count, ushort& value) {
        if (from + count > s.size())
            return false;
        bool ok = false;
        value = QStringView(s).mid(from, count).toUShort(&ok, 16);
        return ok && QStringView(s).mid(from, count).indexOf(u'+') < 0
               && QStringView(s).mid(from, count).indexOf(u'-') < 0;
    };
    for (qsizetype i = 0; i < s.size(); ++i) {
        ushort code = 0;
        if (s[i] == u'%' && i + 5 < s.size() + 0 && s[i + 1] == u'u' && hexAt(i + 2, 4, code)) {
            out += QChar(code);
            i += 5;
        } else if (s[i] == u'%' && hexAt(i + 1, 2, code)) {
            out += QChar(code);
            i += 2;
        } else {
            out += s[i];
        }
    }
    return Value::fromString(out);
}

const QHash<QString, Builtin>& builtins()
{
    static const QHash<QString, Builtin> table = {
        {"len", {len, 1, 1}},
        {"lenb", {lenB, 1, 1}},
        {"left", {left, 2, 2}},
        {"right", {right, 2, 2}},
        {"mid", {mid, 2, 3}},
        {"instr", {inStr, 2, 4}},
        {"instrrev", {inStrRev, 2, 4}},
        {"replace", {replace, 3, 6}},
        {"trim", {trim<true, true>, 1, 1}},
        {"ltrim", {trim<true, false>, 1, 1}},
        {"rtrim", {trim<false, true>, 1, 1}},
        {"ucase", {uCase, 1, 1}},
        {"lcase", {lCase, 1, 1}},
        {"space", {space, 1, 1}},
        {"string", {string, 2, 2}},
        {"strcomp", {strComp, 2, 3}},
        {"strreverse", {strReverse, 1, 1}},
        {"asc", {asc, 1, 1}},
        {"chr", {chr, 1, 1}},
        {"ascw", {ascW, 1, 1}},
        {"chrw", {chrW, 1, 1}},
        {"ascb", {ascB, 1, 1}},
        {"midb", {midB, 2, 3}},
        {"cstr", {cStr, 1, 1}},
        {"cint", {cInt, 1, 1}},
        {"clng", {cLng, 1, 1}},
        {"cdbl", {cDbl, 1, 1}},
        {"csng", {cDbl, 1, 1}},
        {"cbool", {cBool, 1, 1}},
        {"cbyte", {cByte, 1, 1}},
        {"hex", {digitsOf<16>, 1, 1}},
        {"oct", {digitsOf<8>, 1, 1}},
        {"isnumeric", {isNumeric, 1, 1}},
        {"isempty", {isEmpty, 1, 1}},
        {"isnull", {isNull, 1, 1}},
        {"isarray", {isArray, 1, 1}},
        {"isobject", {isObject, 1, 1}},
        {"typename", {typeName, 1, 1}},
        {"vartype", {varType, 1, 1}},
        {"split", {split, 1, 4}},
        {"join", {join, 1, 2}},
        {"filter", {filter, 2, 4}},
        {"ubound", {uBound, 1, 2}},
        {"lbound", {lBound, 1, 2}},
        {"array", {array, 0, 1 << 16}},
        {"now", {now, 0, 0}},
        {"date", {date, 0, 0}},
        {"time", {time, 0, 0}},
        {"year", {datePart<0>, 1, 1}},
        {"month", {datePart<1>, 1, 1}},
        {"day", {datePart<2>, 1, 1}},
        {"hour", {datePart<3>, 1, 1}},
        {"minute", {datePart<4>, 1, 1}},
        {"second", {datePart<5>, 1, 1}},
        {"int", {intFn, 1, 1}},
        {"fix", {fix, 1, 1}},
        {"abs", {absFn, 1, 1}},
        {"sgn", {sgn, 1, 1}},
        {"round", {round, 1, 2}},
        {"cdate", {cDate, 1, 1}},
        {"isdate", {isDate, 1, 1}},
        {"datevalue", {dateValue, 1, 1}},
        {"timevalue", {timeValue, 1, 1}},
        {"dateserial", {dateSerial, 3, 3}},
        {"timeserial", {timeSerial, 3, 3}},
        {"weekday", {weekday, 1, 2}},
        {"weekdayname", {weekdayName, 1, 3}},
        {"monthname", {monthName, 1, 2}},
        {"timer", {timer, 0, 0}},
        {"dateadd", {dateAdd, 3, 3}},
        {"datediff", {dateDiff, 3, 5}},
        {"datepart", {datePartOf, 2, 4}},
        {"formatdatetime", {formatDateTime, 1, 2}},
        {"formatnumber", {formatNumber, 1, 5}},
        {"formatpercent", {formatPercent, 1, 5}},
        {"escape", {escape, 1, 1}},
        {"unescape", {unescape, 1, 1}},
    };
    return table;
}

} // namespace

const Builtin* findBuiltin(const QString& name)
{
    const auto it = builtins().constFind(name);
    return it == builtins().cend() ? nullptr : &*it;
}

const Value* findConstant(const QString& name)
{
    static const QHash<QString, Value> constants = {
        {"vbcrlf", Value::fromString("\r\n")},
        {"vbnewline", Value::fromString("\r\n")},
        {"vbcr", Value::fromString("\r")},
        {"vblf", Value::fromString("\n")},
        {"vbtab", Value::fromString("\t")},
        {"vbnullstring", Value::fromString({})},
        {"vbnullchar", Value::fromString(QString(QChar(0)))},
        {"vbbinarycompare", Value::fromInteger(0)},
        {"vbtextcompare", Value::fromInteger(1)},
        {"vbtrue", Value::fromInteger(-1)},
        {"vbfalse", Value::fromInteger(0)},
        {"vbobjecterror", Value::fromLong(-2147221504)},
        {"vbempty", Value::fromInteger(0)},
        {"vbnull", Value::fromInteger(1)},
        {"vbinteger", Value::fromInteger(2)},
        {"vblong", Value::fromInteger(3)},
        {"vbdouble", Value::fromInteger(5)},
        {"vbdate", Value::fromInteger(7)},
        {"vbstring", Value::fromInteger(8)},
        {"vbobject", Value::fromInteger(9)},
        {"vbboolean", Value::fromInteger(11)},
        {"vbarray", Value::fromInteger(8192)},
        {"vbgeneraldate", Value::fromInteger(0)},
        {"vblongdate", Value::fromInteger(1)},
        {"vbshortdate", Value::fromInteger(2)},
        {"vblongtime", Value::fromInteger(3)},
        {"vbshorttime", Value::fromInteger(4)},
        {"vbusesystemdayofweek", Value::fromInteger(0)},
        {"vbsunday", Value::fromInteger(1)},
        {"vbmonday", Value::fromInteger(2)},
        {"vbtuesday", Value::fromInteger(3)},
        {"vbwednesday", Value::fromInteger(4)},
        {"vbthursday", Value::fromInteger(5)},
        {"vbfriday", Value::fromInteger(6)},
        {"vbsaturday", Value::fromInteger(7)},
        {"vbfirstjan1", Value::fromInteger(1)},
        {"vbusedefault", Value::fromInteger(-2)},
    };
    const auto it = constants.constFind(name);
    return it == constants.cend() ? nullptr : &*it;
}

bool isUnsupportedName(const QString& name)
{
    static const QSet<QString> names = {
        "objectcontext",
        "asperror",
        "createobject",
        "getobject",
        "eval",
        "execute",
        "executeglobal",
        "getref",
        "formatcurrency",
        "rnd",
        "randomize",
        "rgb",
        "loadpicture",
        "scriptengine",
        "scriptenginemajorversion",
        "scriptengineminorversion",
        "scriptenginebuildversion",
        "inputbox",
        "msgbox",
        "ccur",
        "sqr",
        "exp",
        "log",
        "sin",
        "cos",
        "tan",
        "atn",
        "getlocale",
        "setlocale",
        "instrb",
        "leftb",
        "rightb",
        "chrb",
    };
    return names.contains(name);
}

} // namespace asp
