// SPDX-License-Identifier: GPL-3.0-or-later
// VBScript's variant rules on values alone: how numbers print and parse, how conversions
// round, which subtype arithmetic gives, and how values of different kinds compare.
#include "server/engine/ScriptError.h"
#include "server/engine/Value.h"

#include <QTest>

using asp::Value;

namespace {

Value number(double d) { return d == double(qint64(d)) ? Value::fromInt(qint64(d)) : Value::fromDouble(d); }

} // namespace

class AspValueTest : public QObject {
    Q_OBJECT

private slots:
    void doublesPrintAsVBScriptPrintsThem_data();
    void doublesPrintAsVBScriptPrintsThem();
    void textsReadAsNumbers_data();
    void textsReadAsNumbers();
    void wholeNumberConversions_data();
    void wholeNumberConversions();
    void arithmeticSubtypes_data();
    void arithmeticSubtypes();
    void arithmeticFailures_data();
    void arithmeticFailures();
    void comparisons_data();
    void comparisons();
    void nullInLogic();
};

void AspValueTest::doublesPrintAsVBScriptPrintsThem_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("sum of tenths") << 0.1 + 0.2 << "0.3";
    QTest::newRow("a third") << 1.0 / 3 << "0.333333333333333";
    QTest::newRow("two thirds") << 2.0 / 3 << "0.666666666666667";
    QTest::newRow("15 digits whole") << 123456789012345.0 << "123456789012345";
    QTest::newRow("beyond 15 digits") << 1e15 << "1E+15";
    QTest::newRow("small") << 0.00001 << "1E-05";
    QTest::newRow("negative half") << -0.5 << "-0.5";
    QTest::newRow("negative zero") << -0.0 << "0";
    QTest::newRow("big") << 1.5e20 << "1.5E+20";
}

void AspValueTest::doublesPrintAsVBScriptPrintsThem()
{
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(Value::fromDouble(value).toString(), text);
}

void AspValueTest::textsReadAsNumbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("numeric");
    QTest::addColumn<double>("value");
    QTest::newRow("whole") << "12" << true << 12.0;
    QTest::newRow("blanks around") << "  12 " << true << 12.0;
    QTest::newRow("exponent") << "1.5e3" << true << 1500.0;
    QTest::newRow("signs and no leading digit") << "-.5" << true << -0.5;
    QTest::newRow("plus") << "+3" << true << 3.0;
    QTest::newRow("hexadecimal") << "&H1F" << true << 31.0;
    QTest::newRow("octal") << "&O17" << true << 15.0;
    QTest::newRow("empty") << "" << false << 0.0;
    QTest::newRow("a dot") << "." << false << 0.0;
    QTest::newRow("half an exponent") << "1e" << false << 0.0;
    QTest::newRow("trailing letters") << "12abc" << false << 0.0;
    QTest::newRow("full-width digits") << "１２" << false << 0.0;
}

void AspValueTest::textsReadAsNumbers()
{
    QFETCH(QString, text);
    QFETCH(bool, numeric);
    QFETCH(double, value);
    const auto n = asp::parseNumber(text);
    QCOMPARE(n.has_value(), numeric);
    if (numeric)
        QCOMPARE(*n, value);
}

void AspValueTest::wholeNumberConversions_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("integer"); // CInt; 99999 for overflow
    QTest::newRow("half to even, down") << 0.5 << 0;
    QTest::newRow("half to even, up") << 1.5 << 2;
    QTest::newRow("half to even, 2.5") << 2.5 << 2;
    QTest::newRow("negative half") << -1.5 << -2;
    QTest::newRow("below half") << 2.49 << 2;
    QTest::newRow("largest Integer") << 32767.0 << 32767;
    QTest::newRow("past the largest") << 32767.5 << 99999;
    QTest::newRow("smallest Integer") << -32768.0 << -32768;
}

void AspValueTest::wholeNumberConversions()
{
    QFETCH(double, value);
    QFETCH(int, integer);
    try {
        QCOMPARE(int(Value::fromDouble(value).toInteger()), integer);
    } catch (const asp::ScriptError& e) {
        QCOMPARE(integer, 99999);
        QCOMPARE(e.number, 6L);
    }
}

void AspValueTest::arithmeticSubtypes_data()
{
    QTest::addColumn<int>("op"); // 0 +, 1 -, 2 *, 3 /, 4 \, 5 Mod, 6 &
    QTest::addColumn<Value>("a");
    QTest::addColumn<Value>("b");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("text");

    QTest::newRow("Integer + Integer") << 0 << Value::fromInteger(2) << Value::fromInteger(3) << "Integer"
                                       << "5";
    QTest::newRow("Integer overflow grows to Long")
        << 0 << Value::fromInteger(32767) << Value::fromInteger(1) << "Long"
        << "32768";
    QTest::newRow("Long overflow grows to Double")
        << 2 << Value::fromLong(100000) << Value::fromLong(100000) << "Double"
        << "10000000000";
    QTest::newRow("Empty + Empty") << 0 << Value() << Value() << "Integer"
                                   << "0";
    QTest::newRow("text + Empty stays text") << 0 << Value::fromString("3") << Value() << "String"
                                             << "3";
    QTest::newRow("text + number adds") << 0 << Value::fromString("3") << Value::fromInteger(4) << "Double"
                                        << "7";
    QTest::newRow("/ always gives Double") << 3 << Value::fromInteger(6) << Value::fromInteger(3) << "Double"
                                           << "2";
    QTest::newRow("\\ rounds its operands") << 4 << Value::fromDouble(7.5) << Value::fromDouble(1.5) << "Long"
                                            << "4";
    QTest::newRow("Mod keeps the dividend's sign")
        << 5 << Value::fromInteger(-7) << Value::fromInteger(3) << "Integer"
        << "-1";
    QTest::newRow("Boolean arithmetic") << 0 << Value::fromBool(true) << Value::fromInteger(1) << "Integer"
                                        << "0";
    QTest::newRow("a date and days") << 0 << Value::fromDate(45000) << Value::fromInteger(1) << "Date"
                                     << "2023/3/16";
    QTest::newRow("Null & text") << 6 << Value::null() << Value::fromString("a") << "String"
                                 << "a";
    QTest::newRow("number & number") << 6 << Value::fromInteger(1) << Value::fromDouble(2.5) << "String"
                                     << "12.5";
    QTest::newRow("GBK bytes & text")
        << 6 << Value::fromBytes("\xd6\xd0") << Value::fromString("国") << "String"
        << "中国";
}

void AspValueTest::arithmeticSubtypes()
{
    QFETCH(int, op);
    QFETCH(Value, a);
    QFETCH(Value, b);
    QFETCH(QString, type);
    QFETCH(QString, text);
    using Fn = Value (*)(const Value&, const Value&);
    const Fn ops[] = {asp::add,           asp::subtract, asp::multiply,   asp::divide,
                      asp::integerDivide, asp::modulo,   asp::concatenate};
    const Value r = ops[op](a, b);
    QCOMPARE(r.typeName(), type);
    QCOMPARE(r.toString(), text);
}

void AspValueTest::arithmeticFailures_data()
{
    QTest::addColumn<int>("op");
    QTest::addColumn<Value>("a");
    QTest::addColumn<Value>("b");
    QTest::addColumn<int>("number");
    QTest::newRow("division by zero") << 3 << Value::fromInteger(1) << Value::fromInteger(0) << 11;
    QTest::newRow("nought by nought overflows") << 3 << Value::fromInteger(0) << Value::fromInteger(0) << 6;
    QTest::newRow("\\ by zero") << 4 << Value::fromInteger(1) << Value::fromInteger(0) << 11;
    QTest::newRow("text that is no number") << 1 << Value::fromString("abc") << Value::fromInteger(1) << 13;
    QTest::newRow("a number too large for \\") << 4 << Value::fromDouble(1e12) << Value::fromInteger(2) << 6;
}

void AspValueTest::arithmeticFailures()
{
    QFETCH(int, op);
    QFETCH(Value, a);
    QFETCH(Value, b);
    QFETCH(int, number);
    using Fn = Value (*)(const Value&, const Value&);
    const Fn ops[] = {asp::add, asp::subtract, asp::multiply, asp::divide, asp::integerDivide};
    try {
        ops[op](a, b);
        QFAIL("no error");
    } catch (const asp::ScriptError& e) {
        QCOMPARE(int(e.number), number);
    }
}

void AspValueTest::comparisons_data()
{
    QTest::addColumn<Value>("a");
    QTest::addColumn<bool>("aHard");
    QTest::addColumn<Value>("b");
    QTest::addColumn<bool>("bHard");
    QTest::addColumn<int>("result"); // -1, 0, 1; 2 for Null

    const Value ten = Value::fromString("10"), nine = Value::fromString("9");
    QTest::newRow("numbers") << number(2) << false << number(10) << false << -1;
    QTest::newRow("texts compare as texts") << nine << false << ten << false << 1;
    QTest::newRow("text variable, literal number") << ten << false << number(9) << true << 1;
    QTest::newRow("literal number, text variable") << number(10) << true << ten << false << 0;
    QTest::newRow("text literal, number variable") << number(9) << false << ten << true << 1;
    QTest::newRow("two variables: number below text") << number(100) << false << nine << false << -1;
    QTest::newRow("no number beside a literal number")
        << Value::fromString("x") << false << number(1) << true << 1;
    QTest::newRow("Empty and 0") << Value() << false << number(0) << true << 0;
    QTest::newRow("Empty and \"\"") << Value() << false << Value::fromString("") << true << 0;
    QTest::newRow("Empty and Empty") << Value() << false << Value() << false << 0;
    QTest::newRow("Null") << Value::null() << false << number(1) << true << 2;
    QTest::newRow("case matters") << Value::fromString("a") << true << Value::fromString("A") << true << 1;
    QTest::newRow("booleans are numbers") << Value::fromBool(true) << true << number(-1) << true << 0;
}

void AspValueTest::comparisons()
{
    QFETCH(Value, a);
    QFETCH(bool, aHard);
    QFETCH(Value, b);
    QFETCH(bool, bHard);
    QFETCH(int, result);
    QCOMPARE(asp::compare(a, aHard, b, bHard).value_or(2), result);
}

void AspValueTest::nullInLogic()
{
    QCOMPARE(asp::logicalAnd(Value::null(), Value::fromBool(false)).toString(), QString("False"));
    QVERIFY(asp::logicalAnd(Value::null(), Value::fromBool(true)).isNull());
    QCOMPARE(asp::logicalOr(Value::null(), Value::fromBool(true)).toString(), QString("True"));
    QVERIFY(asp::logicalOr(Value::null(), Value::fromBool(false)).isNull());
    QVERIFY(asp::logicalNot(Value::null()).isNull());
    QCOMPARE(asp::logicalAnd(Value::fromInteger(12), Value::fromInteger(10)).toString(), QString("8"));
    QCOMPARE(asp::logicalNot(Value::fromInteger(0)).toString(), QString("-1"));
}

QTEST_GUILESS_MAIN(AspValueTest)
#include "tst_aspvalue.moc"
