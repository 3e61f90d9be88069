// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHashFunctions> // std::hash<QString>, for the maps of names
#include <QString>

#include <memory>
#include <optional>
#include <variant>
#include <vector>

namespace asp {

class Object;
struct Array;

// One VBScript variant. Every rule of how variants convert, compare and combine lives here,
// so the evaluator and the built-in objects agree on them.
class Value {
public:
    enum class Type { Empty, Null, Boolean, Integer, Long, Double, Date, String, Bytes, Object, Array };

    Value() = default;
    static Value null();
    static Value fromBool(bool b);
    // The narrowest of Integer, Long and Double that holds the number, as VBScript's literals.
    static Value fromInt(qint64 n);
    static Value fromInteger(qint16 n);
    static Value fromLong(qint32 n);
    static Value fromDouble(double d);
    // Days since 30 December 1899; the fraction is the time of day.
    static Value fromDate(double days);
    static Value fromString(QString s);
    static Value fromBytes(QByteArray b);
    static Value fromObject(std::shared_ptr<Object> o);
    static Value nothing() { return fromObject(nullptr); }
    static Value fromArray(std::shared_ptr<Array> a);

    Type type() const { return Type(m.index()); }
    bool isEmpty() const { return type() == Type::Empty; }
    bool isNull() const { return type() == Type::Null; }
    bool isString() const { return type() == Type::String; }
    bool isObject() const { return type() == Type::Object; }
    bool isNothing() const { return isObject() && !object(); }
    bool isArray() const { return type() == Type::Array; }
    // Boolean, Integer, Long, Double and Date: what arithmetic takes without parsing.
    bool isNumber() const;

    const std::shared_ptr<Object>& object() const;
    const std::shared_ptr<Array>& array() const;
    const QString& string() const;   // only for String
    const QByteArray& bytes() const; // only for Bytes

    // Conversions as the C* functions make them; each throws the script error VBScript raises.
    double toDouble() const;
    qint32 toLong() const;
    qint16 toInteger() const;
    bool toBool() const;
    QString toString() const;
    // Bytes as they are, text in the page's encoding.
    QByteArray toBytes() const;

    // The same value with arrays copied, since assigning an array copies it.
    Value copied() const;

    // VBScript's name of the subtype, as TypeName answers.
    QString typeName() const;

private:
    struct NullTag {};
    struct DateTag {
        double days;
    };
    using Storage = std::variant<std::monostate, NullTag, bool, qint16, qint32, double, DateTag, QString,
                                 QByteArray, std::shared_ptr<Object>, std::shared_ptr<Array>>;
    Storage m;
};

// A fixed or dynamic array; lower bounds are always 0.
struct Array {
    // The upper bound of each dimension: -1 for an empty one, as Array() makes; none at all for
    // a dynamic array not yet sized (Dim a()) or erased, whose bounds VBScript refuses to tell.
    std::vector<int> upper;
    // The first index runs fastest, as For Each walks an array and as ReDim Preserve keeps
    // elements when the last dimension grows.
    std::vector<Value> items;
    bool fixed = false; // Dim a(3): ReDim refuses it
    int locks = 0;      // elements passed ByRef to procedures still running: ReDim and Erase refuse it

    static std::shared_ptr<Array> make(std::vector<int> upperBounds);
    static std::shared_ptr<Array> fromList(std::vector<Value> items);
    Value* at(const std::vector<qint32>& indexes);
};

// The largest array a page may make; beyond it a page would only exhaust the server.
constexpr qsizetype maxArrayItems = 1 << 20;
// The longest text a page may build, in characters.
constexpr qsizetype maxStringLength = 1 << 24;

// The number a text holds, as VBScript reads texts: nothing when it holds none.
std::optional<double> parseNumber(QStringView text);
// The same, but a number too large for a Double is an infinity, which conversions refuse
// as an overflow rather than a type mismatch.
std::optional<double> readNumber(QStringView text);
QString formatDouble(double d);
QString formatDate(double days);

// Operators. `hard` marks literal operands: VBScript compares a literal number with a text
// variable as numbers, two variables of those kinds never equal.
Value add(const Value& a, const Value& b);
Value subtract(const Value& a, const Value& b);
Value multiply(const Value& a, const Value& b);
Value divide(const Value& a, const Value& b);
Value integerDivide(const Value& a, const Value& b);
Value modulo(const Value& a, const Value& b);
Value power(const Value& a, const Value& b);
Value negate(const Value& a);
Value concatenate(const Value& a, const Value& b);
// -1, 0 or 1; nothing when either side is Null.
std::optional<int> compare(const Value& a, bool aHard, const Value& b, bool bHard);
Value logicalAnd(const Value& a, const Value& b);
Value logicalOr(const Value& a, const Value& b);
Value logicalXor(const Value& a, const Value& b);
Value logicalNot(const Value& a);

} // namespace asp
