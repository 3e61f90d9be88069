// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/engine/Value.h"

#include "formats/Gbk.h"
#include "server/engine/DateText.h"
#include "server/engine/Object.h"
#include "server/engine/ScriptError.h"

#include <QDate>
#include <QTime>

#include <cmath>
#include <limits>

namespace asp {

Value Value::null()
{
    Value v;
    v.m = NullTag{};
    return v;
}

Value Value::fromBool(bool b)
{
    Value v;
    v.m = b;
    return v;
}

Value Value::fromInt(qint64 n)
{
    if (n >= std::numeric_limits<qint16>::min() && n <= std::numeric_limits<qint16>::max())
        return fromInteger(qint16(n));
    if (n >= std::numeric_limits<qint32>::min() && n <= std::numeric_limits<qint32>::max())
        return fromLong(qint32(n));
    return fromDouble(double(n));
}

Value Value::fromInteger(qint16 n)
{
    Value v;
    v.m = n;
    return v;
}

Value Value::fromLong(qint32 n)
{
    Value v;
    v.m = n;
    return v;
}

Value Value::fromDouble(double d)
{
    if (!std::isfinite(d))
        throw overflow();
    Value v;
    v.m = d;
    return v;
}

Value Value::fromDate(double days)
{
    if (!std::isfinite(days))
        throw overflow();
    Value v;
    v.m = DateTag{days};
    return v;
}

Value Value::fromString(QString s)
{
    if (s.size() > maxStringLength)
        throw outOfMemory();
    Value v;
    v.m = std::move(s);
    return v;
}

Value Value::fromBytes(QByteArray b)
{
    Value v;
    v.m = std::move(b);
    return v;
}

Value Value::fromObject(std::shared_ptr<Object> o)
{
    Value v;
    v.m = std::move(o);
    return v;
}

Value Value::fromArray(std::shared_ptr<Array> a)
{
    Value v;
    v.m = std::move(a);
    return v;
}

bool Value::isNumber() const
{
    switch (type()) {
    case Type::Boolean:
    case Type::Integer:
    case Type::Long:
    case Type::Double:
    case Type::Date:
        return true;
    default:
        return false;
    }
}

const std::shared_ptr<Object>& Value::object() const
{
    static const std::shared_ptr<Object> none;
    const auto* o = std::get_if<std::shared_ptr<Object>>(&m);
    return o ? *o : none;
}

const std::shared_ptr<Array>& Value::array() const
{
    static const std::shared_ptr<Array> none;
    const auto* a = std::get_if<std::shared_ptr<Array>>(&m);
    return a ? *a : none;
}

const QString& Value::string() const { return std::get<QString>(m); }
const QByteArray& Value::bytes() const { return std::get<QByteArray>(m); }

namespace {

ScriptError textMismatch(const QString& text)
{
    return typeMismatch(QStringLiteral("[string: \"") + text.left(40) + QStringLiteral("\"]"));
}

double textToDouble(const QString& text)
{
    const auto n = readNumber(text);
    if (!n)
        throw textMismatch(text);
    if (!std::isfinite(*n))
        throw overflow();
    return *n;
}

// VBScript rounds halves to even when it makes a whole number.
double roundHalfEven(double d) { return d - std::remainder(d, 1.0); }

} // namespace

double Value::toDouble() const
{
    switch (type()) {
    case Type::Empty:
        return 0;
    case Type::Null:
        throw invalidUseOfNull();
    case Type::Boolean:
        return std::get<bool>(m) ? -1 : 0;
    case Type::Integer:
        return std::get<qint16>(m);
    case Type::Long:
        return std::get<qint32>(m);
    case Type::Double:
        return std::get<double>(m);
    case Type::Date:
        return std::get<DateTag>(m).days;
    case Type::String:
        return textToDouble(string());
    case Type::Object:
        return scalar(*this).toDouble();
    case Type::Bytes:
    case Type::Array:
        break;
    }
    throw typeMismatch();
}

qint32 Value::toLong() const
{
    switch (type()) {
    case Type::Integer:
        return std::get<qint16>(m);
    case Type::Long:
        return std::get<qint32>(m);
    default: {
        const double d = roundHalfEven(toDouble());
        if (d < std::numeric_limits<qint32>::min() || d > std::numeric_limits<qint32>::max())
            throw overflow();
        return qint32(d);
    }
    }
}

qint16 Value::toInteger() const
{
    const qint32 n = toLong();
    if (n < std::numeric_limits<qint16>::min() || n > std::numeric_limits<qint16>::max())
        throw overflow();
    return qint16(n);
}

bool Value::toBool() const
{
    switch (type()) {
    case Type::Empty:
        return false;
    case Type::Boolean:
        return std::get<bool>(m);
    case Type::String: {
        // "True" and "False" in any case, a number, or a date (whose serial is rarely 0).
        const QString t = string().trimmed();
        if (t.compare(u"true", Qt::CaseInsensitive) == 0)
            return true;
        if (t.compare(u"false", Qt::CaseInsensitive) == 0)
            return false;
        if (readNumber(t))
            return textToDouble(t) != 0;
        if (const auto days = parseDateText(t))
            return *days != 0;
        throw textMismatch(t);
    }
    case Type::Object:
        return scalar(*this).toBool();
    default:
        return toDouble() != 0;
    }
}

QString Value::toString() const
{
    switch (type()) {
    case Type::Empty:
        return {};
    case Type::Null:
        throw invalidUseOfNull();
    case Type::Boolean:
        return std::get<bool>(m) ? QStringLiteral("True") : QStringLiteral("False");
    case Type::Integer:
        return QString::number(std::get<qint16>(m));
    case Type::Long:
        return QString::number(std::get<qint32>(m));
    case Type::Double:
        return formatDouble(std::get<double>(m));
    case Type::Date:
        return formatDate(std::get<DateTag>(m).days);
    case Type::String:
        return string();
    case Type::Bytes:
        return gbk::decode(bytes());
    case Type::Object:
        return scalar(*this).toString();
    case Type::Array:
        break;
    }
    throw typeMismatch();
}

QByteArray Value::toBytes() const
{
    if (type() == Type::Bytes)
        return bytes();
    if (isObject())
        return scalar(*this).toBytes();
    return gbk::encode(toString());
}

Value Value::copied() const
{
    if (!isArray() || !array())
        return *this;
    auto copy = std::make_shared<Array>(*array());
    copy->fixed = false;
    copy->locks = 0;
    for (Value& item : copy->items)
        item = item.copied();
    return fromArray(std::move(copy));
}

QString Value::typeName() const
{
    switch (type()) {
    case Type::Empty:
        return QStringLiteral("Empty");
    case Type::Null:
        return QStringLiteral("Null");
    case Type::Boolean:
        return QStringLiteral("Boolean");
    case Type::Integer:
        return QStringLiteral("Integer");
    case Type::Long:
        return QStringLiteral("Long");
    case Type::Double:
        return QStringLiteral("Double");
    case Type::Date:
        return QStringLiteral("Date");
    case Type::String:
        return QStringLiteral("String");
    case Type::Bytes:
        return QStringLiteral("Byte()");
    case Type::Object:
        return object() ? object()->typeName() : QStringLiteral("Nothing");
    case Type::Array:
        return QStringLiteral("Variant()");
    }
    return {};
}

std::shared_ptr<Array> Array::make(std::vector<int> upperBounds)
{
    qint64 count = 1;
    for (int upper : upperBounds) {
        if (upper < -1)
            throw subscriptOutOfRange();
        count *= qint64(upper) + 1;
        if (count > maxArrayItems)
            throw outOfMemory();
    }
    auto a = std::make_shared<Array>();
    if (upperBounds.empty())
        count = 0;
    a->upper = std::move(upperBounds);
    a->items.resize(size_t(count));
    return a;
}

std::shared_ptr<Array> Array::fromList(std::vector<Value> values)
{
    auto a = std::make_shared<Array>();
    a->upper = {int(values.size()) - 1};
    a->items = std::move(values);
    return a;
}

Value* Array::at(const std::vector<qint32>& indexes)
{
    if (indexes.size() != upper.size())
        throw subscriptOutOfRange();
    size_t offset = 0;
    for (size_t d = indexes.size(); d-- > 0;) {
        if (indexes[d] < 0 || indexes[d] > upper[d])
            throw subscriptOutOfRange();
        offset = offset * size_t(upper[d] + 1) + size_t(indexes[d]);
    }
    return &items[offset];
}

std::optional<double> parseNumber(QStringView text)
{
    const auto n = readNumber(text);
    if (!n || !std::isfinite(*n))
        return std::nullopt;
    return n;
}

std::optional<double> readNumber(QStringView text)
{
    QStringView t = text.trimmed();
    if (t.size() > 2 && t[0] == u'&' && (t[1] == u'h' || t[1] == u'H' || t[1] == u'o' || t[1] == u'O')) {
        bool ok = false;
        const qulonglong n = t.mid(2).toULongLong(&ok, (t[1] == u'h' || t[1] == u'H') ? 16 : 8);
        if (!ok || n > 0xffffffffULL)
            return std::nullopt;
        return double(n);
    }
    qsizetype i = 0;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-'))
        ++i;
    qsizetype digits = 0;
    while (i < t.size() && t[i].isDigit() && t[i].unicode() < 128)
        ++i, ++digits;
    if (i < t.size() && t[i] == u'.') {
        ++i;
        while (i < t.size() && t[i].isDigit() && t[i].unicode() < 128)
            ++i, ++digits;
    }
    if (digits == 0)
        return std::nullopt;
    QString normal = t.left(i).toString();
    if (i < t.size() && (t[i] == u'e' || t[i] == u'E' || t[i] == u'd' || t[i] == u'D')) {
        qsizetype j = i + 1;
        if (j < t.size() && (t[j] == u'+' || t[j] == u'-'))
            ++j;
        const qsizetype start = j;
        while (j < t.size() && t[j].isDigit() && t[j].unicode() < 128)
            ++j;
        if (j == start)
            return std::nullopt;
        normal += u'e' + t.mid(i + 1, j - i - 1).toString();
        i = j;
    }
    if (i != t.size())
        return std::nullopt;
    bool ok = false;
    const double d = normal.toDouble(&ok);
    if (ok && std::isfinite(d))
        return d;
    // Written as a number but out of a Double's range: too small is 0, too large overflows.
    if (normal.contains(QLatin1String("e-")))
        return 0.0;
    return normal.startsWith(u'-') ? -std::numeric_limits<double>::infinity()
                                   : std::numeric_limits<double>::infinity();
}

QString formatDouble(double d)
{
    if (d == 0)
        return QStringLiteral("0");
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.15G", d);
    return QString::fromLatin1(buffer);
}

QString formatDate(double days) { return generalDateText(days); }

namespace {

// Arithmetic happens in Integer, Long, Double or Date, after this ranking of the operands.
enum class Kind { Integer, Long, Double, Date };

Kind kindOf(const Value& v)
{
    switch (v.type()) {
    case Value::Type::Empty:
    case Value::Type::Boolean:
    case Value::Type::Integer:
        return Kind::Integer;
    case Value::Type::Long:
        return Kind::Long;
    case Value::Type::Date:
        return Kind::Date;
    default:
        return Kind::Double;
    }
}

Value integral(qint64 r, Kind kind)
{
    if (kind == Kind::Integer && r >= std::numeric_limits<qint16>::min()
        && r <= std::numeric_limits<qint16>::max())
        return Value::fromInteger(qint16(r));
    if (r >= std::numeric_limits<qint32>::min() && r <= std::numeric_limits<qint32>::max())
        return Value::fromLong(qint32(r));
    return Value::fromDouble(double(r));
}

template <typename IntOp, typename DoubleOp>
Value arithmetic(const Value& a0, const Value& b0, IntOp intOp, DoubleOp doubleOp, bool dateResult)
{
    const Value a = scalar(a0), b = scalar(b0);
    if (a.isNull() || b.isNull())
        return Value::null();
    const Kind ka = kindOf(a), kb = kindOf(b);
    if (ka <= Kind::Long && kb <= Kind::Long)
        return integral(intOp(qint64(a.toLong()), qint64(b.toLong())), std::max(ka, kb));
    const double r = doubleOp(a.toDouble(), b.toDouble());
    if (dateResult && (ka == Kind::Date) != (kb == Kind::Date))
        return Value::fromDate(r);
    return Value::fromDouble(r);
}

bool isText(const Value& v) { return v.type() == Value::Type::String || v.type() == Value::Type::Bytes; }

} // namespace

Value add(const Value& a0, const Value& b0)
{
    const Value a = scalar(a0), b = scalar(b0);
    if (isText(a) && (isText(b) || b.isEmpty()))
        return Value::fromString(a.toString() + b.toString());
    if (a.isEmpty() && isText(b))
        return Value::fromString(b.toString());
    return arithmetic(
        a, b, [](qint64 x, qint64 y) { return x + y; }, [](double x, double y) { return x + y; }, true);
}

Value subtract(const Value& a, const Value& b)
{
    const Value sa = scalar(a), sb = scalar(b);
    if (sa.type() == Value::Type::Date && sb.type() == Value::Type::Date)
        return Value::fromDouble(sa.toDouble() - sb.toDouble());
    return arithmetic(
        sa, sb, [](qint64 x, qint64 y) { return x - y; }, [](double x, double y) { return x - y; }, true);
}

Value multiply(const Value& a, const Value& b)
{
    return arithmetic(
        a, b, [](qint64 x, qint64 y) { return x * y; }, [](double x, double y) { return x * y; }, false);
}

Value divide(const Value& a0, const Value& b0)
{
    const Value a = scalar(a0), b = scalar(b0);
    if (a.isNull() || b.isNull())
        return Value::null();
    const double divisor = b.toDouble();
    const double dividend = a.toDouble();
    if (divisor == 0)
        throw dividend == 0 ? overflow() : divisionByZero();
    return Value::fromDouble(dividend / divisor);
}

namespace {

template <typename Op> Value wholeNumberOp(const Value& a0, const Value& b0, Op op)
{
    const Value a = scalar(a0), b = scalar(b0);
    if (a.isNull() || b.isNull())
        return Value::null();
    const qint64 x = a.toLong(), y = b.toLong();
    if (y == 0)
        throw divisionByZero();
    const Kind kind = kindOf(a) == Kind::Integer && kindOf(b) == Kind::Integer ? Kind::Integer : Kind::Long;
    return integral(op(x, y), kind);
}

} // namespace

Value integerDivide(const Value& a, const Value& b)
{
    return wholeNumberOp(a, b, [](qint64 x, qint64 y) { return x / y; });
}

Value modulo(const Value& a, const Value& b)
{
    return wholeNumberOp(a, b, [](qint64 x, qint64 y) { return x % y; });
}

Value power(const Value& a0, const Value& b0)
{
    const Value a = scalar(a0), b = scalar(b0);
    if (a.isNull() || b.isNull())
        return Value::null();
    const double base = a.toDouble(), exponent = b.toDouble();
    if (base < 0 && exponent != std::floor(exponent))
        throw invalidArgument();
    return Value::fromDouble(std::pow(base, exponent));
}

Value negate(const Value& a0)
{
    const Value a = scalar(a0);
    switch (a.type()) {
    case Value::Type::Null:
        return a;
    case Value::Type::Empty:
        return Value::fromInteger(0);
    case Value::Type::Boolean:
    case Value::Type::Integer:
        return integral(-qint64(a.toLong()), Kind::Integer);
    case Value::Type::Long:
        return integral(-qint64(a.toLong()), Kind::Long);
    case Value::Type::Date:
        return Value::fromDate(-a.toDouble());
    default:
        return Value::fromDouble(-a.toDouble());
    }
}

Value concatenate(const Value& a0, const Value& b0)
{
    Value heldA, heldB;
    const Value& a = scalar(a0, heldA);
    const Value& b = scalar(b0, heldB);
    if (a.isNull() && b.isNull())
        return a;
    const QString left = a.isNull() ? QString() : a.toString();
    const QString right = b.isNull() ? QString() : b.toString();
    if (left.size() + right.size() > maxStringLength)
        throw outOfMemory();
    return Value::fromString(left + right);
}

std::optional<int> compare(const Value& a0, bool aHard, const Value& b0, bool bHard)
{
    Value a = scalar(a0), b = scalar(b0);
    if (a.isNull() || b.isNull())
        return std::nullopt;
    if (a.isArray() || b.isArray())
        throw typeMismatch();
    auto sign = [](double x, double y) { return x < y ? -1 : (x > y ? 1 : 0); };
    auto textSign = [](const QString& x, const QString& y) {
        const int c = x.compare(y, Qt::CaseSensitive);
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    };
    if (a.isEmpty() && b.isEmpty())
        return 0;
    if (a.isEmpty())
        a = isText(b) ? Value::fromString({}) : Value::fromInteger(0);
    if (b.isEmpty())
        b = isText(a) ? Value::fromString({}) : Value::fromInteger(0);
    if (!isText(a) && !isText(b))
        return sign(a.toDouble(), b.toDouble());
    if (isText(a) && isText(b))
        return textSign(a.toString(), b.toString());

    const bool aIsText = isText(a);
    const bool textHard = aIsText ? aHard : bHard;
    const bool numberHard = aIsText ? bHard : aHard;
    // A text beside a literal number is read as a number when it is one; a text that is none
    // (a query value such as "abc") simply differs, instead of stopping the page.
    if (numberHard) {
        const auto n = parseNumber((aIsText ? a : b).toString());
        if (n)
            return aIsText ? sign(*n, b.toDouble()) : sign(a.toDouble(), *n);
    } else if (textHard) {
        return textSign(a.toString(), b.toString());
    }
    // Two variables, one a number and one a text: the number is the smaller.
    return aIsText ? 1 : -1;
}

namespace {

enum class Logic { And, Or, Xor };

Value logical(const Value& a0, const Value& b0, Logic op)
{
    const Value a = scalar(a0), b = scalar(b0);
    if (a.isNull() || b.isNull()) {
        const Value& other = a.isNull() ? b : a;
        if (!other.isNull()) {
            const bool set = other.toBool();
            if (op == Logic::And && !set)
                return Value::fromBool(false);
            if (op == Logic::Or && set)
                return Value::fromBool(true);
        }
        return Value::null();
    }
    const bool bothBoolean = a.type() == Value::Type::Boolean && b.type() == Value::Type::Boolean;
    auto bits = [](const Value& v) -> qint64 {
        if (v.type() == Value::Type::String) {
            const QString t = v.string().trimmed();
            if (t.compare(u"true", Qt::CaseInsensitive) == 0)
                return -1;
            if (t.compare(u"false", Qt::CaseInsensitive) == 0)
                return 0;
        }
        return v.toLong();
    };
    const qint64 x = bits(a), y = bits(b);
    const qint64 r = op == Logic::And ? (x & y) : op == Logic::Or ? (x | y) : (x ^ y);
    if (bothBoolean)
        return Value::fromBool(r != 0);
    return integral(r, kindOf(a) == Kind::Integer && kindOf(b) == Kind::Integer ? Kind::Integer : Kind::Long);
}

} // namespace

Value logicalAnd(const Value& a, const Value& b) { return logical(a, b, Logic::And); }
Value logicalOr(const Value& a, const Value& b) { return logical(a, b, Logic::Or); }
Value logicalXor(const Value& a, const Value& b) { return logical(a, b, Logic::Xor); }

Value logicalNot(const Value& a0)
{
    const Value a = scalar(a0);
    if (a.isNull())
        return a;
    if (a.type() == Value::Type::Boolean)
        return Value::fromBool(!a.toBool());
    if (a.type() == Value::Type::String) {
        const QString t = a.string().trimmed();
        if (t.compare(u"true", Qt::CaseInsensitive) == 0 || t.compare(u"false", Qt::CaseInsensitive) == 0)
            return Value::fromBool(!a.toBool());
    }
    return integral(~qint64(a.toLong()), kindOf(a) == Kind::Integer ? Kind::Integer : Kind::Long);
}

} // namespace asp
