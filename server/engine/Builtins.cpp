// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/engine/Builtins.h"

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

Qt::CaseSensitivity compareMode(const Args& args, size_t index)
{
    if (args.size() <= index || scalar(args[index]).isEmpty())
        return Qt::CaseSensitive;
    return scalar(args[index]).toLong() == 1 ? Qt::CaseInsensitive : Qt::CaseSensitive;
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
    if (anyNull(Args(a.begin() + qsizetype(first), a.begin() + qsizetype(first) + 2), 2))
        return Value::null();
    const QString haystack = text(a[first]);
    const QString needle = text(a[first + 1]);
    if (haystack.isEmpty())
        return Value::fromLong(0);
    if (needle.isEmpty())
        return Value::fromLong(start);
    if (start > haystack.size())
        return Value::fromLong(0);
    const qsizetype at = haystack.indexOf(needle, start - 1, compareMode(a, first + 2));
    return Value::fromLong(qint32(at + 1));
}

Value inStrRev(const Args& a)
{
    if (anyNull(a, 2))
        return Value::null();
    const QString haystack = text(a[0]);
    const QString needle = text(a[1]);
    qint32 start = a.size() > 2 && !scalar(a[2]).isEmpty() ? scalar(a[2]).toLong() : -1;
    if (start == 0 || start < -1)
        throw invalidArgument(QStringLiteral("InStrRev"));
    if (start == -1)
        start = qint32(haystack.size());
    if (needle.isEmpty())
        return Value::fromLong(start);
    if (start > haystack.size())
        return Value::fromLong(0);
    const qsizetype from = start - needle.size();
    if (from < 0)
        return Value::fromLong(0);
    return Value::fromLong(qint32(haystack.lastIndexOf(needle, from, compareMode(a, 3)) + 1));
}

Value replace(const Args& a)
{
    const QString source = text(a[0]);
    const QString find = text(a[1]);
    const QString with = text(a[2]);
    const qint32 start = a.size() > 3 && !scalar(a[3]).isEmpty() ? position(a[3], "Replace") : 1;
    const qint32 count = a.size() > 4 && !scalar(a[4]).isEmpty() ? scalar(a[4]).toLong() : -1;
    const Qt::CaseSensitivity cs = compareMode(a, 5);
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

Value string(const Args& a)
{
    const qint32 n = nonNegative(a[0], "String");
    if (n > maxStringLength)
        throw outOfMemory();
    const Value c = scalar(a[1]);
    if (c.isNull())
        return c;
    QChar ch;
    if (c.isNumber())
        ch = QChar(ushort(c.toLong() & 0xffff));
    else if (const QString t = c.toString(); !t.isEmpty())
        ch = t[0];
    else
        throw invalidArgument(QStringLiteral("String"));
    return Value::fromString(QString(n, ch));
}

Value strComp(const Args& a)
{
    if (anyNull(a, 2))
        return Value::null();
    const int c = text(a[0]).compare(text(a[1]), compareMode(a, 2));
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

Value hex(const Args& a)
{
    const Value v = scalar(a[0]);
    if (v.isNull())
        return v;
    const qint32 n = v.toLong();
    const quint32 bits =
        v.type() == Value::Type::Integer || v.type() == Value::Type::Boolean ? quint16(n) : quint32(n);
    return Value::fromString(QString::number(bits, 16).toUpper());
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
    const QString delimiter = a.size() > 1 && !scalar(a[1]).isEmpty() ? text(a[1]) : QStringLiteral(" ");
    const qint32 limit = a.size() > 2 && !scalar(a[2]).isEmpty() ? scalar(a[2]).toLong() : -1;
    std::vector<Value> parts;
    if (!s.isEmpty()) {
        if (delimiter.isEmpty()) {
            parts.push_back(Value::fromString(s));
        } else {
            qsizetype from = 0;
            for (;;) {
                if (limit >= 0 && qint32(parts.size()) == limit - 1)
                    break;
                const qsizetype at = s.indexOf(delimiter, from, compareMode(a, 3));
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

Value join(const Args& a)
{
    if (!a[0].isArray())
        throw typeMismatch(QStringLiteral("Join"));
    const QString delimiter = a.size() > 1 && !scalar(a[1]).isEmpty() ? text(a[1]) : QStringLiteral(" ");
    QStringList parts;
    for (const Value& v : a[0].array()->items) {
        const Value s = scalar(v);
        parts << (s.isNull() ? QString() : s.toString());
    }
    return Value::fromString(parts.join(delimiter));
}

int dimension(const Args& a, const char* name)
{
    if (!a[0].isArray())
        throw typeMismatch(QString::fromLatin1(name));
    const qint32 d = a.size() > 1 ? scalar(a[1]).toLong() : 1;
    if (d < 1 || d > qint32(a[0].array()->upper.size()))
        throw subscriptOutOfRange();
    return d - 1;
}

Value uBound(const Args& a)
{
    return Value::fromLong(a[0].array() ? a[0].array()->upper[size_t(dimension(a, "UBound"))] : 0);
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
    for (const char* format : {"yyyy/M/d H:m:s", "yyyy-M-d H:m:s", "yyyy/M/d H:m", "yyyy-M-d H:m"}) {
        const QDateTime dt = QDateTime::fromString(t, QLatin1String(format));
        if (dt.isValid())
            return oleDate(dt);
    }
    for (const char* format : {"yyyy/M/d", "yyyy-M-d"}) {
        const QDate d = QDate::fromString(t, QLatin1String(format));
        if (d.isValid())
            return double(QDate(1899, 12, 30).daysTo(d));
    }
    throw typeMismatch(QStringLiteral("[string: \"") + t.left(40) + QStringLiteral("\"]"));
}

template <int Part> Value datePart(const Args& a)
{
    const auto days = daysOf(a[0]);
    if (!days)
        return Value::null();
    const double whole = std::floor(*days);
    const qint64 seconds = std::llround((*days - whole) * 86400.0);
    const QDate d = QDate(1899, 12, 30).addDays(qint64(whole) + seconds / 86400);
    const qint64 s = seconds % 86400;
    const int parts[] = {d.year(), d.month(), d.day(), int(s / 3600), int(s / 60 % 60), int(s % 60)};
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
        {"hex", {hex, 1, 1}},
        {"isnumeric", {isNumeric, 1, 1}},
        {"isempty", {isEmpty, 1, 1}},
        {"isnull", {isNull, 1, 1}},
        {"isarray", {isArray, 1, 1}},
        {"isobject", {isObject, 1, 1}},
        {"typename", {typeName, 1, 1}},
        {"vartype", {varType, 1, 1}},
        {"split", {split, 1, 4}},
        {"join", {join, 1, 2}},
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
    };
    const auto it = constants.constFind(name);
    return it == constants.cend() ? nullptr : &*it;
}

bool isUnsupportedName(const QString& name)
{
    static const QSet<QString> names = {
        "application",
        "objectcontext",
        "asperror",
        "createobject",
        "getobject",
        "eval",
        "execute",
        "executeglobal",
        "getref",
        "formatdatetime",
        "formatnumber",
        "formatcurrency",
        "formatpercent",
        "dateadd",
        "datediff",
        "datepart",
        "dateserial",
        "datevalue",
        "timeserial",
        "timevalue",
        "weekday",
        "weekdayname",
        "monthname",
        "timer",
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
        "filter",
        "escape",
        "unescape",
        "ccur",
        "cdate",
        "isdate",
        "oct",
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
