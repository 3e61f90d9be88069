// SPDX-License-Identifier: GPL-3.0-or-later
// The classic-ASP engine on pages of its own: the language, the built-in objects and ADO
// over a real database file, without any socket.
#include "archive/DatabaseConnection.h"
#include "archive/Recordset.h"
#include "formats/Gbk.h"
#include "server/engine/Engine.h"
#include "tests/support/TestFolder.h"

#include <QFile>
#include <QHash>
#include <QTemporaryDir>
#include <QTest>

using namespace asp;

namespace {

// One session for the whole test, as the server keeps one per visitor.
class OneSession final : public SessionProvider {
public:
    SessionState state;
    bool made = false;
    SessionState* session(bool create) override
    {
        if (create && !made) {
            made = true;
            state.id = QStringLiteral("test");
        }
        return made ? &state : nullptr;
    }
};

} // namespace

class AspEngineTest : public QObject {
    Q_OBJECT

private slots:
    void language_data();
    void language();
    void conformance_data();
    void conformance();
    void argumentErrors_data();
    void argumentErrors();
    void refusals_data();
    void refusals();
    void failures_data();
    void failures();
    void unsupportedIsNeverSkipped();
    void runawayPageStops();
    void includes();
    void changedFilesParsedAgain();
    void requestValuesAreGbk();
    void responseControlsTheAnswer();
    void serverHelpers();
    void sessionValues();
    void adoReadsStudents();
    void adoWritesOneRecord();
    void adoRefusesWhatPagesMustNotDo();

private:
    PageResponse run(const QString& source, const PageRequest& request = {},
                     SessionProvider* sessions = nullptr);
    QString text(const QString& source) { return gbk::decode(run(source).body); }

    QTemporaryDir m_site;
    Engine m_engine{m_site.path()};
    int m_pages = 0;
};

PageResponse AspEngineTest::run(const QString& source, const PageRequest& request, SessionProvider* sessions)
{
    const QString name = QStringLiteral("/p%1.asp").arg(++m_pages);
    QFile file(m_site.path() + name);
    if (!file.open(QIODevice::WriteOnly) || file.write(gbk::encode(source)) < 0)
        qFatal("cannot write the page");
    file.close();
    PageResponse response;
    if (!m_engine.run(name, request, sessions, response))
        qFatal("the page was not found");
    return response;
}

void AspEngineTest::language_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("output");

    QTest::newRow("literal text and <%= %>") << "a<%= 1 + 2 %>b<%@ LANGUAGE=VBScript %>c"
                                             << "a3bc";
    QTest::newRow("GBK text kept") << "学生<%= \"信息\" & \"查询\" %>"
                                   << "学生信息查询";
    QTest::newRow("statements and colons") << "<% x = 5 : y = x * 2\r\nResponse.Write y %>"
                                           << "10";
    QTest::newRow("line continuation") << "<% x = 1 + _\r\n  2 %><%= x %>"
                                       << "3";
    QTest::newRow("comments") << "<% ' nothing\r\nRem still nothing\r\nx = 1 ' one %><%= x %>"
                              << "1";
    QTest::newRow("names ignore case") << "<% DIM Abc : abc = 3 : RESPONSE.WRITE ABC %>"
                                       << "3";

    QTest::newRow("integer division and Mod")
        << "<%= 7 \\ 2 %>,<%= 7 Mod 3 %>,<%= -7 Mod 3 %>,<%= 7.6 \\ 2 %>"
        << "3,1,-1,4";
    QTest::newRow("division gives fractions") << "<%= 1 / 4 %>,<%= 10 / 4 * 2 %>,<%= 1 / 3 %>"
                                              << "0.25,5,0.333333333333333";
    QTest::newRow("a sign binds tighter than ^") << "<%= -2 ^ 2 %>,<%= 2 ^ 3 ^ 2 %>,<%= 2 ^ -1 %>"
                                                 << "4,64,0.5";
    QTest::newRow("precedence") << "<%= 1 + 2 * 3 & 4 %>,<%= 2 * 3 Mod 4 %>,<%= Not 1 = 2 %>"
                                << "74,2,True";
    QTest::newRow("+ adds numbers, joins texts") << "<%= \"1\" + 2 %>,<%= \"1\" + \"2\" %>,<%= 1 & 2 %>"
                                                 << "3,12,12";
    QTest::newRow("Integer grows into Long") << "<% x = 32767 : x = x + 1 %><%= x %>,<%= TypeName(x) %>"
                                             << "32768,Long";
    QTest::newRow("big numbers") << "<%= 2147483647 + 1 %>,<%= 1E+20 %>,<%= 123456789 * 1000 %>"
                                 << "2147483648,1E+20,123456789000";
    QTest::newRow("booleans") << "<%= True %>,<%= True + True %>,<%= 3 And 5 %>,<%= True Or False %>"
                              << "True,-2,1,True";

    QTest::newRow("Null through operators")
        << "<%= IsNull(Null + 1) %>,<%= \"a\" & Null %>,<%= IsNull(Null = Null) %>,<%= Null And False %>"
        << "True,a,True,False";
    QTest::newRow("Null is not true")
        << "<% If Null Then %>t<% Else %>f<% End If %><% If Not Null Then %>t<% Else %>f<% End If %>"
        << "ff";
    QTest::newRow("Empty is 0 and \"\"")
        << "<%= x = 0 %>,<%= x = \"\" %>,<%= IsEmpty(x) %>,<%= x + 1 %>,[<%= x %>]"
        << "True,True,True,1,[]";
    QTest::newRow("a text variable against a literal number") << "<% s = \"10\" %><%= s = 10 %>,<%= s > 9 %>"
                                                              << "True,True";
    QTest::newRow("two variables, a text and a number")
        << "<% s = \"10\" : n = 10 %><%= s = n %>,<%= n < s %>"
        << "False,True";
    QTest::newRow("texts compare as texts")
        << "<% a = \"9\" : b = \"10\" %><%= a > b %>,<%= \"abc\" < \"abd\" %>"
        << "True,True";
    QTest::newRow("Nothing and Is") << "<% Set o = Nothing %><%= o Is Nothing %>,<%= IsObject(o) %>"
                                    << "True,True";

    QTest::newRow("If blocks")
        << "<% For i = 1 To 4\r\nIf i = 1 Then\r\nResponse.Write \"a\"\r\nElseIf i = 2 "
           "Then\r\nResponse.Write \"b\"\r\n"
           "ElseIf i = 3 Then Response.Write \"c\"\r\nElse\r\nResponse.Write \"d\"\r\nEnd If\r\nNext %>"
        << "abcd";
    QTest::newRow("one-line If with Else")
        << "<% x = 2 : If x > 1 Then y = \"big\" : z = 1 Else y = \"small\"\r\n%>"
           "<%= y %><%= z %>"
        << "big1";
    QTest::newRow("nested one-line If")
        << "<% If 1 = 1 Then If 1 = 2 Then x = \"a\" Else x = \"b\"\r\n%><%= x %>"
        << "b";
    QTest::newRow("If around literal text") << "<% If 1 = 2 Then %>no<% Else %>yes<% End If %>"
                                            << "yes";
    QTest::newRow("loops around literal text") << "<% For i = 1 To 3 %><li><%= i %><% Next %>"
                                               << "<li>1<li>2<li>3";

    QTest::newRow("Do While and Do Until") << "<% i = 0 : Do While i < 3 : i = i + 1 : Loop : j = 0 : Do "
                                              "Until j = 4 : j = j + 1 : Loop %><%= i %><%= j %>"
                                           << "34";
    QTest::newRow("Loop While runs once at least")
        << "<% i = 10 : Do : i = i + 1 : Loop While i < 3 %><%= i %>"
        << "11";
    QTest::newRow("Loop Until") << "<% i = 0 : Do\r\ni = i + 2\r\nLoop Until i >= 5 %><%= i %>"
                                << "6";
    QTest::newRow("While Wend") << "<% i = 0 : While i < 5 : i = i + 1 : Wend %><%= i %>"
                                << "5";
    QTest::newRow("For with a negative Step")
        << "<% For i = 10 To 1 Step -3 : Response.Write i & \" \" : Next %>"
        << "10 7 4 1 ";
    QTest::newRow("For Each over Split")
        << "<% For Each p In Split(\"a|b|c\", \"|\") : Response.Write p & \".\" : Next %>"
        << "a.b.c.";
    QTest::newRow("Exit For and Exit Do") << "<% For i = 1 To 10 : If i = 3 Then Exit For\r\nNext : Do : j = "
                                             "j + 1 : If j = 2 Then Exit Do\r\nLoop %>"
                                             "<%= i %><%= j %>"
                                          << "32";

    QTest::newRow("a text that is no number against a literal number")
        << "<% s = \"x\" %><%= s = 1 %>,<%= s > 1 %>"
        << "False,True";
    QTest::newRow("Select Case")
        << "<% For Each v In Array(1, 2, 5, \"x\") : Select Case v\r\nCase 1, 2\r\nResponse.Write "
           "\"low\"\r\nCase \"x\"\r\n"
           "Response.Write \"x\"\r\nCase Else\r\nResponse.Write \"other\"\r\nEnd Select : Next %>"
        << "lowlowotherx";

    QTest::newRow("Function with its return value")
        << "<% Function Twice(n)\r\nTwice = n * 2\r\nEnd Function %><%= Twice(21) %>"
        << "42";
    QTest::newRow("recursion")
        << "<% Function F(n)\r\nIf n <= 1 Then F = 1 Else F = n * F(n - 1)\r\nEnd Function %>"
           "<%= F(10) %>"
        << "3628800";
    QTest::newRow("procedures declared after their use") << "<% Hello \"张三\" %><% Sub Hello(name)\r\n"
                                                            "Response.Write \"你好，\" & name\r\nEnd Sub %>"
                                                         << "你好，张三";
    QTest::newRow("ByRef by default, ByVal on request")
        << "<% Sub Bump(a, ByVal b)\r\na = a + 1 : b = b + 1\r\nEnd Sub\r\nx = 1 : y = 1 : Bump x, y %><%= x "
           "%><%= y %>"
        << "21";
    QTest::newRow("parentheses pass by value")
        << "<% Sub Bump(a)\r\na = a + 1\r\nEnd Sub\r\nx = 1 : Bump (x) %><%= x %>"
        << "1";
    QTest::newRow("Call with parentheses")
        << "<% Sub Show(a, b)\r\nResponse.Write a & b\r\nEnd Sub\r\nCall Show(1, 2) %>"
        << "12";
    QTest::newRow("Exit Function")
        << "<% Function G()\r\nG = 1\r\nExit Function\r\nG = 2\r\nEnd Function %><%= G() %>"
        << "1";
    QTest::newRow("locals stay local")
        << "<% x = \"page\"\r\nSub S()\r\nDim x : x = \"local\"\r\nEnd Sub\r\nS %><%= x %>"
        << "page";
    // Which variable a name in a procedure reaches depends on what exists when it runs.
    QTest::newRow("a Sub's undeclared name is its own until the page has one")
        << "<% Sub S()\r\ny = y & \"s\"\r\nEnd Sub\r\nS : Response.Write \"[\" & y & \"]\" : y = \"p\" : S %>"
           "<%= y %>"
        << "[]ps";
    QTest::newRow("a variable passed ByRef before it exists is made where it is named")
        << "<% Sub SetIt(v)\r\nv = 3\r\nEnd Sub\r\nSub Outer()\r\nSetIt w : Response.Write w\r\nEnd Sub\r\n"
           "Outer : SetIt z %><%= \"[\" & w & \"]\" & z %>"
        << "3[]3";
    QTest::newRow("constants of the page and of a procedure")
        << "<% Const N = 1\r\nSub S()\r\nConst N = 2\r\nResponse.Write N\r\nEnd Sub\r\nS %><%= N %>"
        << "21";
    QTest::newRow("each call of a recursive Function has its own locals")
        << "<% Function Walk(n)\r\nDim mine : mine = n\r\nIf n > 0 Then Walk = Walk(n - 1) & mine Else Walk "
           "= "
           "\"\"\r\nEnd Function %><%= Walk(3) %>"
        << "123";
    QTest::newRow("Write with a grouped first argument") << "<% x = 1 : Response.Write(x) & \"!\" %>"
                                                         << "1!";
    QTest::newRow("Const") << "<% Const Title = \"名录\", N = 3 %><%= Title & N %>"
                           << "名录3";

    QTest::newRow("arrays")
        << "<% Dim a(2) : a(0) = \"x\" : a(2) = \"z\" %><%= UBound(a) %><%= Join(a, \"-\") %>"
        << "2x--z";
    QTest::newRow("ReDim Preserve")
        << "<% Dim a() : ReDim a(1) : a(1) = 5 : ReDim Preserve a(3) %><%= a(1) %><%= UBound(a) %>"
        << "53";
    QTest::newRow("arrays are copied on assignment")
        << "<% a = Array(1, 2) : b = a : b(0) = 9 %><%= a(0) %><%= b(0) %>"
        << "19";
    QTest::newRow("Split and Join")
        << "<% p = Split(\"三好学生|优秀团员|优秀班干部\", \"|\") %><%= UBound(p) %>:<%= p(1) %>:"
           "<%= Join(p) %>:<%= UBound(Split(\"\")) %>"
        << "2:优秀团员:三好学生 优秀团员 优秀班干部:-1";

    QTest::newRow("Len Left Right Mid")
        << "<% s = \"七年级一班\" %><%= Len(s) %><%= Left(s, 3) %><%= Right(s, 2) %>"
           "<%= Mid(s, 4) %><%= Mid(s, 2, 2) %>"
        << "5七年级一班一班年级";
    QTest::newRow("InStr and InStrRev")
        << "<%= InStr(\"abcabc\", \"c\") %><%= InStr(4, \"abcabc\", \"c\") %>"
           "<%= InStr(\"abc\", \"x\") %><%= InStr(1, \"ABC\", \"b\", 1) %><%= InStrRev(\"abcabc\", \"b\") %>"
        << "36025";
    QTest::newRow("Replace")
        << "<%= Replace(\"O'Neil's\", \"'\", \"''\") %>,<%= Replace(\"aAa\", \"a\", \"b\", 1, -1, 1) %>"
        << "O''Neil''s,bbb";
    QTest::newRow("Trim UCase LCase")
        << "[<%= Trim(\"  a b  \") %>][<%= LTrim(\" a \") %>][<%= RTrim(\" a \") %>]"
           "<%= UCase(\"ab\") %><%= LCase(\"AB\") %>"
        << "[a b][a ][ a]ABab";
    QTest::newRow("text functions keep Null")
        << "<%= IsNull(Len(Null)) %><%= IsNull(Left(Null, 1)) %><%= IsNull(Trim(Null)) %>"
        << "TrueTrueTrue";
    QTest::newRow("conversions round halves to even")
        << "<%= CInt(\"12.5\") %>,<%= CInt(13.5) %>,<%= CLng(\"-2.5\") %>,<%= CDbl(\"1.5\") * 2 %>,<%= "
           "CStr(True) %>"
        << "12,14,-2,3,True";
    QTest::newRow("IsNumeric")
        << "<%= IsNumeric(\"12\") %><%= IsNumeric(\" 1.5e3 \") %><%= IsNumeric(\"abc\") %>"
           "<%= IsNumeric(\"\") %><%= IsNumeric(Empty) %>"
        << "TrueTrueFalseFalseTrue";
    QTest::newRow("Chr and Asc use GBK codes")
        << "<%= Chr(65) %><%= Asc(\"A\") %><%= Chr(&HD6D0) %><%= Hex(Asc(\"中\")) %>"
        << "A65中D6D0";
    QTest::newRow("dates")
        << "<%= Year(Date) > 2000 %>,<%= Now >= Date %>,<%= Year(\"2014-9-1\") %>,<%= Month(\"2014/9/1\") %>"
        << "True,True,2014,9";

    QTest::newRow("On Error Resume Next goes on")
        << "<% On Error Resume Next\r\nx = 1 / 0\r\nResponse.Write Err.Number & \" "
           "\"\r\nErr.Clear\r\nResponse.Write Err.Number %>"
        << "11 0";
    QTest::newRow("Err.Raise")
        << "<% On Error Resume Next\r\nErr.Raise 1000, \"页面\", \"出错了\"\r\n%><%= Err.Description %>"
        << "出错了";
    QTest::newRow("an error in a procedure skips the caller's statement")
        << "<% On Error Resume Next\r\nSub Bad()\r\nx = 1 / 0\r\nResponse.Write \"not here\"\r\nEnd "
           "Sub\r\nBad\r\n"
           "Response.Write \"after\" %>"
        << "after";
    QTest::newRow("Response.End stops the page") << "a<% Response.End %>b"
                                                 << "a";
    QTest::newRow("Response.End in a loop")
        << "<% For i = 1 To 5 : Response.Write i : If i = 2 Then Response.End\r\nNext %>z"
        << "12";
    QTest::newRow("Response.End in With")
        << "<% With Response\r\n.Write \"w\"\r\n.End\r\n.Write \"x\"\r\nEnd With %>z"
        << "w";
    QTest::newRow("Response.End in a Function leaves the caller's statement undone")
        << "<% Function F()\r\nResponse.End\r\nF = \"x\"\r\nEnd Function\r\nResponse.Write \"a\" & F() & "
           "\"b\" %>z"
        << "";
    QTest::newRow("Response.End in a Sub, under On Error Resume Next")
        << "<% On Error Resume Next\r\nSub S()\r\nResponse.Write \"s\"\r\nResponse.End\r\nResponse.Write "
           "\"no\"\r\nEnd Sub\r\nS\r\nResponse.Write \"after\" %>z"
        << "s";
    QTest::newRow("objects still held when the page ends are terminated")
        << "<% Class C\r\nSub Class_Terminate()\r\nResponse.Write \"t\"\r\nEnd Sub\r\nEnd Class\r\n"
           "Sub S()\r\nSet o = New C\r\nResponse.End\r\nEnd Sub\r\nSet p = New C\r\nResponse.Write "
           "\"a\"\r\nS\r\n"
           "Response.Write \"b\" %>z"
        << "att";
    QTest::newRow("Null and Empty write nothing")
        << "[<% Response.Write Null %><% Response.Write Empty %><%= Null %>]"
        << "[]";
    QTest::newRow("Exit For inside Do")
        << "<% Do : For i = 1 To 3 : If i = 2 Then Exit For\r\nNext : Exit Do : Loop %>"
           "<%= i %>"
        << "2";
    QTest::newRow("the counter changed in the body")
        << "<% For i = 1 To 10 : i = i + 1 : Response.Write i : Next %>"
        << "246810";
    QTest::newRow("a function giving an array") << "<% Function Parts()\r\nParts = Split(\"x,y\", \",\")\r\n"
                                                   "End Function %><%= Parts()(1) %>"
                                                << "y";
    QTest::newRow("Select Case without a match")
        << "[<% Select Case \"z\"\r\nCase \"a\"\r\nResponse.Write 1\r\n"
           "End Select %>]"
        << "[]";
    QTest::newRow("%> ends the script even in a text") << "<% x = 1 %>a%>b"
                                                       << "a%>b";
}

void AspEngineTest::language()
{
    QFETCH(QString, page);
    QFETCH(QString, output);
    const PageResponse r = run(page);
    QCOMPARE(gbk::decode(r.body), output);
    QCOMPARE(r.status, 200);
}

// Small pages and what VBScript on Windows answers for them, under Chinese regional settings.
void AspEngineTest::conformance_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("output");

    const QString inc = "<% Sub inc(n)\r\nn = n + 1\r\nEnd Sub\r\n";
    QTest::newRow("a parenthesised argument is passed by value")
        << inc + "k = 1 : inc(k) : Response.Write k : inc k : Response.Write k : Call inc(k) %><%= k %>"
        << "123";
    QTest::newRow("an array element passed ByRef is changed")
        << inc + "Dim a(1) : a(1) = 5 : inc a(1) : Call inc(a(1)) %><%= a(1) %>"
        << "7";
    QTest::newRow("an element of a 2-D array passed ByRef")
        << inc + "Dim m(1, 1) : m(1, 0) = 1 : inc m(1, 0) %><%= m(1, 0) %>"
        << "2";
    QTest::newRow("a space before the index of an assigned element")
        << "<% Dim a(2) : a (1) = 7 : b = Array(1, 2) : b (0) = 9 %><%= a(1) %><%= b(0) %>"
        << "79";
    QTest::newRow("a sign binds tighter than ^")
        << "<%= -3^2 %>,<%= 2 * -3 ^ 2 %>,<%= -(3^2) %>,<%= 10 - 2^2 %>"
        << "9,18,-9,6";
    QTest::newRow("For Each walks the first index fastest")
        << "<% Dim m(1, 1) : m(0, 0) = 1 : m(1, 0) = 2 : m(0, 1) = 3 : m(1, 1) = 4\r\n"
           "For Each v In m : Response.Write v : Next %>"
        << "1234";
    QTest::newRow("For with text bounds") << "<% For i = \"1\" To \"2\" : Response.Write \"x\" & i : Next %>"
                                          << "x1x2";
    QTest::newRow("Join with Empty, a text and none")
        << "<% a = Array(\"a\", \"b\") %><%= Join(a, Empty) %>,<%= Join(a, \"\") %>,<%= Join(a) %>"
        << "ab,ab,a b";
    QTest::newRow("InStr with an empty text")
        << "<%= InStr(\"abc\", \"\") %>,<%= InStr(\"\", \"\") %>,<%= InStr(3, \"abc\", \"\") %>,"
           "<%= InStr(5, \"abc\", \"\") %>,<%= InStr(\"\", \"a\") %>"
        << "1,0,3,0,0";
    QTest::newRow("InStrRev with an empty text")
        << "<%= InStrRev(\"abc\", \"\") %>,<%= InStrRev(\"\", \"\") %>,<%= InStrRev(\"abc\", \"\", 2) %>,"
           "<%= InStrRev(\"abc\", \"b\", 5) %>"
        << "3,0,2,0";

    QTest::newRow("& before a name beginning with h")
        << "<% hits = 3 : hex1 = 4 %><%= \"n=\" &hits %><%= \"m=\"&hex1 %>"
        << "n=3m=4";
    QTest::newRow("hexadecimal and octal literals")
        << "<%= &h10& %>,<%= TypeName(&h10&) %>,<%= &HFFFF %>,<%= &HFFFF& %>,<%= &o17 %>"
        << "16,Integer,-1,65535,15";
    QTest::newRow("hexadecimal: up to four digits an Integer that may be negative")
        << "<%= &HFFFF %>,<%= &H8000 %>,<%= TypeName(&H8000) %>,<%= &H7FFF %>,<%= TypeName(&HFF) %>"
        << "-1,-32768,Integer,32767,Integer";
    QTest::newRow("hexadecimal: more digits a Long, or an Integer when it comes to one")
        << "<%= &H10000 %>,<%= TypeName(&H10000) %>,<%= &HFFFFFFFF %>,<%= TypeName(&HFFFFFFFF) %>,"
           "<%= &H80000000 %>,<%= &HFFFF8000 %>"
        << "65536,Long,-1,Integer,-2147483648,-32768";
    QTest::newRow("hexadecimal with &: positive, and a Long only when it must be")
        << "<%= &HFFFF& %>,<%= TypeName(&HFFFF&) %>,<%= &H8000& %>,<%= TypeName(&H7FFF&) %>,<%= &HFFFFFFFF& "
           "%>"
        << "65535,Long,32768,Integer,-1";
    QTest::newRow("octal with &O and with & alone")
        << "<%= &O17 %>,<%= &17 %>,<%= &o10 %>,<%= &O177777 %>,<%= &177777& %>,<%= TypeName(&O100000&) %>,"
           "<%= &O37777777777 %>"
        << "15,15,8,-1,65535,Long,-1";
    QTest::newRow("& after a value still joins")
        << "<% s = \"a\" : n = 7 %><%= s &1 %>,<%= n &2 %>,<%= (s)&3 %>,<%= \"b\"&4 %>,<%= -&H8000 %>"
        << "a1,72,a3,b4,32768";

    QTest::newRow("a one-line If closed by End If")
        << "<% x = 1 : If x = 1 Then y = \"a\" End If\r\nIf x = 2 Then y = y & \"b\" Else y = y & \"c\" End "
           "If\r\n"
           "If x = 1 Then y = y & \"d\" : End If\r\nIf x = 1 Then z = 1 : w = 2 End If %><%= y & z & w %>"
        << "acd12";
    QTest::newRow("a one-line If after : in a one-line If takes the rest of the line")
        << "<% x = 1 : If x = 1 Then a = 1 : If x = 2 Then a = 2 Else a = 3 : b = 4\r\n"
           "If x = 2 Then c = 1 : If x = 1 Then c = 2\r\n%><%= a & b & \"[\" & c & \"]\" %>"
        << "34[]";
    QTest::newRow("a one-line If after Else")
        << "<% For x = 1 To 3 : If x = 1 Then Response.Write \"a\" Else If x = 2 Then Response.Write \"b\" "
           "Else Response.Write \"c\"\r\nNext %>"
        << "abc";
    QTest::newRow("End If closes the innermost one-line If")
        << "<% x = 1\r\nIf x = 1 Then\r\nIf x = 2 Then y = 1 End If\r\ny = y & \"in\"\r\nEnd If %><%= y %>"
        << "in";
    QTest::newRow("a one-line If inside another's Then and Else")
        << "<% For x = 1 To 3 : If x < 3 Then If x = 1 Then r = r & \"a\" Else r = r & \"b\" Else r = r & "
           "\"c\"\r\n"
           "Next %><%= r %>"
        << "abc";

    const QString two = "<% Sub two(a, b)\r\na = a + 1 : b = b + 1\r\nEnd Sub\r\nx = 1 : y = 1\r\n";
    QTest::newRow("Call with one argument in parentheses passes that one by value")
        << two
               + "Call two((x), y) : Response.Write x & y & \"|\" : Call two(x, (y)) : Response.Write x & y "
                 "%>"
        << "12|22";
    QTest::newRow("a Sub with its first argument in parentheses")
        << two + "two (x), y : Response.Write x & y & \"|\" : two x, (y) : Response.Write x & y %>"
        << "12|22";
    QTest::newRow("a Function called for its value or as a statement")
        << "<% Function f(a)\r\na = a * 10 : f = a\r\nEnd Function\r\nx = 1 : z = f((x)) : Response.Write x "
           "& z "
           "& \"|\"\r\nz = f(x) : Call f(x) : f x : f (x) : Response.Write x %>"
        << "110|1000";
    QTest::newRow("methods of the page's classes take their arguments ByRef")
        << "<% Class C\r\nSub Inc(n)\r\nn = n + 1\r\nEnd Sub\r\nSub Keep(ByVal n)\r\nn = n + 1\r\nEnd Sub\r\n"
           "Function Twice(n)\r\nn = n * 2 : Twice = n\r\nEnd Function\r\nEnd Class\r\nSet c = New C : k = "
           "1\r\n"
           "c.Inc k : Call c.Inc(k) : c.Inc (k) : Call c.Inc((k)) : c.Keep k : Response.Write k & \"|\"\r\n"
           "z = c.Twice(k) : Response.Write k & z & \"|\"\r\nDim a(1) : c.Inc a(1)\r\nWith c\r\n.Inc "
           "k\r\nEnd With %>"
           "<%= k & a(1) %>"
        << "3|66|71";

    QTest::newRow("CBool of texts: True and False in any case, numbers, dates")
        << "<%= CBool(\"True\") %>,<%= CBool(\"fAlSe\") %>,<%= CBool(\"1\") %>,<%= CBool(\"0\") %>,"
           "<%= CBool(\" -2.5 \") %>,<%= CBool(\"&H0\") %>,<%= CBool(\"2024-3-5\") %>,<%= "
           "CBool(\"2024年3月5日\") %>,"
           "<%= CBool(\"12:30\") %>,<%= CBool(\"0:00:00\") %>"
        << "True,False,True,False,True,False,True,True,True,False";
    QTest::newRow("a date text as a condition")
        << "<% If \"2024-3-5\" Then Response.Write \"y\" Else Response.Write \"n\"\r\n%>"
        << "y";

    QTest::newRow("text functions answer Null for a Null text")
        << "<%= TypeName(Mid(Null, 1)) %> <%= TypeName(Mid(Null, 2, 1)) %> <%= TypeName(Left(Null, 1)) %> "
           "<%= TypeName(Right(Null, 1)) %> <%= TypeName(InStr(Null, \"a\")) %> <%= TypeName(InStr(1, \"a\", "
           "Null)) %> "
           "<%= TypeName(InStrRev(Null, \"a\")) %> <%= TypeName(LCase(Null)) %> <%= TypeName(UCase(Null)) %> "
           "<%= TypeName(Trim(Null)) %> <%= TypeName(StrComp(Null, \"a\")) %> <%= TypeName(Len(Null)) %> "
           "<%= TypeName(Hex(Null)) %> <%= TypeName(Oct(Null)) %> <%= TypeName(Escape(Null)) %>"
        << "Null Null Null Null Null Null Null Null Null Null Null Null Null Null Null";
    QTest::newRow("String answers Null for a Null count or character")
        << "<%= TypeName(String(Null, \"a\")) %>,<%= TypeName(String(2, Null)) %>"
        << "Null,Null";
    QTest::newRow("String takes a text's first character or a code Mod 256")
        << "<%= String(3, \"abc\") %>,<%= String(2, 65) %>,<%= String(2, 321) %>,[<%= String(0, \"x\") %>],"
           "<%= String(2, \"中\") %>"
        << "aaa,AA,AA,[],中中";
    QTest::newRow("Filter")
        << "<% d = Array(\"Sunday\", \"Monday\", \"Saturday\") %><%= Join(Filter(d, \"S\"), \",\") %>|"
           "<%= Join(Filter(d, \"S\", False), \",\") %>|<%= Join(Filter(d, \"DAY\", True, vbTextCompare), "
           "\",\") %>|"
           "<%= UBound(Filter(d, \"z\")) %>|<%= Join(Filter(Array(1, 12, 3), 1), \",\") %>|"
           "<%= UBound(Filter(d, \"\")) %>"
        << "Sunday,Saturday|Monday|Sunday,Monday,Saturday|-1|1,12|2";
    QTest::newRow("Oct and Hex")
        << "<%= Oct(8) %>,<%= Oct(-1) %>,<%= Oct(65536) %>,<%= Hex(-1) %>,<%= Hex(65535) %>,<%= Oct(\"9\") %>"
        << "10,177777,200000,FFFF,FFFF,11";
    QTest::newRow("Split and Replace with a count of -1, 0 or more")
        << "<%= UBound(Split(\"a,b,c\", \",\", -1)) %>,<%= UBound(Split(\"a,b,c\", \",\", 0)) %>,"
           "<%= Join(Split(\"a,b,c\", \",\", 2), \"|\") %>,<%= Replace(\"aaa\", \"a\", \"b\", 1, 0) %>,"
           "<%= Replace(\"aaa\", \"a\", \"b\", 2, 1) %>,<%= Replace(\"aaa\", \"a\", \"b\", 1, -1) %>"
        << "2,-1,a|b,c,aaa,ba,bbb";
    QTest::newRow("ReDim in a Sub sizes the page's array, or makes a local one")
        << "<% Dim items()\r\nn = -1\r\nSub Add(v)\r\nn = n + 1 : ReDim Preserve items(n) : items(n) = v\r\n"
           "ReDim own(1) : own(1) = v\r\nEnd Sub\r\nAdd \"a\" : Add \"b\" %><%= Join(items, \",\") %>,[<%= "
           "own %>]"
        << "a,b,[]";
    QTest::newRow("a dynamic array gets bounds from ReDim")
        << "<% Dim a() %><%= IsArray(a) %>,<%= TypeName(a) %><% ReDim Preserve a(2) : a(2) = \"z\" %>,"
           "<%= UBound(a) & a(2) %>,<%= UBound(Array()) %>"
        << "True,Variant(),2z,-1";

    QTest::newRow("Err after VBScript's own error shows Windows' texts")
        << "<% Option Explicit\r\nOn Error Resume Next\r\nDim x\r\nx = y\r\n"
           "Response.Write Err.Number & \"|\" & Err.Description & \"|\" & Err.Source & \"|\"\r\n"
           "x = 1 / 0\r\nResponse.Write Err.Number & \"|\" & Err.Description & \"|\"\r\n"
           "On Error GoTo 0\r\nResponse.Write Err.Number & \"|\" & Err.Description & \"|\" & Err.Source %>"
        << "500|Variable is undefined|Microsoft VBScript runtime error|11|Division by zero|0||";
    QTest::newRow("Err.Raise says what VBScript says of the number, unless told")
        << "<% On Error Resume Next\r\nErr.Raise 13\r\nResponse.Write Err.Description & \"|\" & Err.Source & "
           "\"|\"\r\n"
           "Err.Raise 1000\r\nResponse.Write Err.Number & \" \" & Err.Description & \"|\"\r\n"
           "Err.Raise 6, \"mine\"\r\nResponse.Write Err.Description & \" \" & Err.Source & \"|\"\r\n"
           "Err.Raise vbObjectError + 1, , \"own\"\r\nResponse.Write Err.Number & \" \" & Err.Description & "
           "\" \" & "
           "Err.Source %>"
        << "Type mismatch|Microsoft VBScript runtime error|1000 Unknown runtime error|Overflow mine|"
           "-2147221503 own Microsoft VBScript runtime error";
    QTest::newRow("=>, =< and ><") << "<%= 2 => 1 %>,<%= 1 =< 1 %>,<%= 1 >< 2 %>,<%= 2 =< 1 %>"
                                   << "True,True,True,False";
    QTest::newRow("a one-line If with Else, then more lines")
        << "<% x = 1\r\nIf x = 1 Then y = \"a\" Else y = \"b\"\r\nz = \"c\"\r\nIf x = 2 Then y = y & 1 Else "
           "y = y & 2\r\n%>"
           "<%= y & z %>"
        << "a2c";
    QTest::newRow("one-line Sub and End Sub after a statement")
        << "<% Sub s1() : Response.Write \"a\" : End Sub\r\nSub s2()\r\nResponse.Write \"b\" End Sub\r\n"
           "Function f() f = \"c\" End Function\r\ns1 : s2 %><%= f() %>"
        << "abc";
    QTest::newRow("of two procedures of one name the later is called")
        << "<% Sub f()\r\nResponse.Write 1\r\nEnd Sub\r\nf\r\nSub f()\r\nResponse.Write 2\r\nEnd Sub %>"
        << "2";
    QTest::newRow("a number too small to hold is 0")
        << "<%= 1e-94938484 %>,<%= TypeName(1e-94938484) %>,<%= 1.5E-3 %>"
        << "0,Double,0.0015";
    QTest::newRow("Stop is ignored") << "<% x = 1\r\nStop\r\nx = 2 %><%= x %>"
                                     << "2";
    QTest::newRow("date literals")
        << "<%= #2024-03-05# %>,<%= #3/5/2024# %>,<%= TypeName(#2024-03-05#) %>,<%= #2024-03-05 14:05:09# %>,"
           "<%= #2:05:09 PM# %>,<%= #2024-3-5# = DateSerial(2024, 3, 5) %>"
        << "2024/3/5,2024/3/5,Date,2024/3/5 14:05:09,14:05:09,True";
    QTest::newRow("contextual words as names")
        << "<% property = 5 : Dim step, preserve : step = 2 : preserve = 1 : each = 3 : explicit = 4\r\n"
           "For i = 1 To 5 Step step : Response.Write i : Next %><%= property + step + preserve + each + "
           "explicit %>"
        << "13515";
    QTest::newRow("ReDim Preserve of a 2-D array")
        << "<% ReDim a(1, 1) : a(1, 1) = \"x\" : a(0, 1) = \"w\" : ReDim Preserve a(1, 3) : a(1, 3) = \"y\" "
           "%>"
           "<%= a(0, 1) & a(1, 1) & a(1, 3) & UBound(a, 1) & UBound(a, 2) %>"
        << "wxy13";
    QTest::newRow("Erase empties a fixed array, leaves a dynamic one without bounds")
        << "<% Dim a(1) : a(0) = 3 : Erase a : ReDim b(2) : Erase b %>"
           "[<%= a(0) %>]<%= UBound(a) %><% On Error Resume Next : x = UBound(b) : Response.Write "
           "Err.Number\r\n"
           "ReDim Preserve b(1) : b(1) = 5 %><%= UBound(b) & b(1) %>"
        << "[]1915";

    const QString when = "<% d = #2024-03-05 14:05:09# %>";
    QTest::newRow("FormatDateTime")
        << when
               + "<%= FormatDateTime(d) %>|<%= FormatDateTime(d, vbLongDate) %>|<%= FormatDateTime(d, 2) %>|"
                 "<%= FormatDateTime(d, vbLongTime) %>|<%= FormatDateTime(d, vbShortTime) %>|"
                 "<%= FormatDateTime(#9:03:00 AM#, 3) %>"
        << "2024/3/5 14:05:09|2024年3月5日|2024/3/5|14:05:09|14:05|9:03:00";
    QTest::newRow("CDate, DateValue, TimeValue and IsDate")
        << "<%= CDate(\"2024-3-5\") %>|<%= CDate(\"2024年3月5日\") %>|<%= TypeName(CDate(\"2024/3/5 8:01\")) "
           "%>|"
           "<%= CDate(45357) %>|<%= DateValue(\"2024-3-5 14:00\") %>|<%= TimeValue(\"2024-3-5 14:00\") %>|"
           "<%= IsDate(\"2024-2-30\") %><%= IsDate(\"2024-2-29\") %><%= IsDate(\"abc\") %>"
        << "2024/3/5|2024/3/5|Date|2024/3/6|2024/3/5|14:00:00|FalseTrueFalse";
    QTest::newRow("DateAdd")
        << "<%= DateAdd(\"m\", 1, #2024-01-31#) %>|<%= DateAdd(\"d\", -1, #2024-03-01#) %>|"
           "<%= DateAdd(\"yyyy\", 1, #2024-02-29#) %>|<%= DateAdd(\"h\", 25, #2024-03-05#) %>|"
           "<%= DateAdd(\"q\", -1, \"2024-05-31\") %>|<%= DateAdd(\"ww\", 2, #2024-03-05#) %>|"
           "<%= DateAdd(\"n\", -5, #2024-03-05#) %>"
        << "2024/2/29|2024/2/29|2025/2/28|2024/3/6 1:00:00|2024/2/29|2024/3/19|2024/3/4 23:55:00";
    QTest::newRow("DateDiff") << "<%= DateDiff(\"d\", #2024-01-01#, #2024-03-01#) %>|<%= DateDiff(\"m\", "
                                 "#2023-12-31#, #2024-01-01#) %>|"
                                 "<%= DateDiff(\"yyyy\", #2023-12-31#, #2024-01-01#) %>|<%= DateDiff(\"ww\", "
                                 "#2024-03-02#, #2024-03-03#) %>|"
                                 "<%= DateDiff(\"w\", #2024-03-02#, #2024-03-03#) %>|"
                                 "<%= DateDiff(\"h\", #2024-03-05 23:59:00#, #2024-03-06 00:01:00#) %>|"
                                 "<%= DateDiff(\"s\", #2024-03-05#, #2024-03-05 00:01:01#) %>|<%= "
                                 "DateDiff(\"d\", #2024-03-05#, #2024-03-01#) %>"
                              << "60|1|1|1|0|1|61|-4";
    QTest::newRow("DatePart")
        << "<%= DatePart(\"q\", #2024-05-01#) %>|<%= DatePart(\"y\", #2024-03-01#) %>|"
           "<%= DatePart(\"w\", #2024-03-05#) %>|<%= DatePart(\"ww\", #2024-01-07#) %>|"
           "<%= DatePart(\"ww\", #2024-01-06#) %>|<%= DatePart(\"h\", #2024-03-05 14:05:09#) %>|"
           "<%= DatePart(\"w\", #2024-03-05#, vbMonday) %>"
        << "2|61|3|2|1|14|2";
    QTest::newRow("DateSerial and TimeSerial")
        << "<%= DateSerial(2024, 14, 1) %>|<%= DateSerial(24, 1, 0) %>|<%= DateSerial(2024, 3, -1) %>|"
           "<%= TimeSerial(14, 5, 9) %>|<%= TimeSerial(0, 90, 0) %>|<%= TypeName(TimeSerial(1, 0, 0)) %>"
        << "2025/2/1|2023/12/31|2024/2/28|14:05:09|1:30:00|Date";
    QTest::newRow("Weekday, WeekdayName and MonthName")
        << "<%= Weekday(#2024-03-05#) %>|<%= Weekday(#2024-03-05#, vbMonday) %>|<%= WeekdayName(1) %>|"
           "<%= WeekdayName(1, True) %>|<%= WeekdayName(1, False, vbMonday) %>|<%= MonthName(3) %>|"
           "<%= MonthName(12, True) %>|<%= WeekdayName(Weekday(#2024-03-05#)) %>"
        << "3|2|星期日|周日|星期一|三月|12月|星期二";
    QTest::newRow("Hour, Minute, Second and Timer")
        << "<% t = #14:05:09# %><%= Hour(t) %>:<%= Minute(t) %>:<%= Second(t) %>|<%= Hour(\"8:30\") %>|"
           "<%= Timer >= 0 And Timer < 86400 %>|<%= TypeName(Timer) %>"
        << "14:5:9|8|True|Double";
    QTest::newRow("FormatNumber")
        << "<%= FormatNumber(1234.5) %>|<%= FormatNumber(-1234567.891, 1) %>|<%= FormatNumber(0.25, 1, 0) %>|"
           "<%= FormatNumber(1234567, 0, , , 0) %>|<%= FormatNumber(-5, 1, , -1) %>|<%= FormatNumber(2.5, 0) "
           "%>|"
           "<%= FormatNumber(\"12\") %>|<%= FormatNumber(0.004, 2) %>"
        << "1,234.50|-1,234,567.9|.3|1234567|(5.0)|3|12.00|0.00";
    QTest::newRow("FormatPercent")
        << "<%= FormatPercent(0.256) %>|<%= FormatPercent(1, 0) %>|<%= FormatPercent(-0.5, 1) %>"
        << "25.60%|100%|-50.0%";
    QTest::newRow("Escape and Unescape")
        << "<%= Escape(\"a b+中/é@*_-.~\") %>|<%= Unescape(\"%u4E2D%41%zz%\") %>|<%= Unescape(Escape(\"一班 "
           "& 二班\")) %>"
        << "a%20b+%u4E2D/%E9@*_-.%7E|中A%zz%|一班 & 二班";

    QTest::newRow("With") << "<% With Response\r\n.Write \"a\"\r\n.Write \"b\"\r\nEnd With %>"
                          << "ab";
    const QString counter =
        "<% Class Counter\r\nPrivate m_n\r\nPublic Name\r\nPrivate Sub Class_Initialize()\r\nm_n = 10\r\nEnd "
        "Sub\r\n"
        "Private Sub Class_Terminate()\r\nResponse.Write \"[bye \" & Name & \"]\"\r\nEnd Sub\r\n"
        "Public Property Get Count\r\nCount = m_n\r\nEnd Property\r\n"
        "Public Property Let Count(v)\r\nm_n = v\r\nEnd Property\r\n"
        "Public Sub Add(k)\r\nm_n = m_n + k\r\nEnd Sub\r\n"
        "Public Function Twice()\r\nTwice = Me.Count * 2\r\nEnd Function\r\n"
        "Private Function Hidden()\r\nHidden = 1\r\nEnd Function\r\nEnd Class\r\n";
    QTest::newRow("Class with properties, methods, Initialize, Terminate and Me")
        << counter
               + "Set c = New Counter\r\nc.Name = \"c\"\r\nc.Add 5\r\nResponse.Write c.Count & \",\"\r\n"
                 "c.Count = 1\r\nResponse.Write c.Twice() & \",\" & TypeName(c) & \",\"\r\n"
                 "Set d = c\r\nSet c = Nothing\r\nResponse.Write \"d\"\r\nSet d = Nothing\r\nResponse.Write "
                 "\".\" %>"
        << "15,2,Counter,d[bye c].";
    QTest::newRow("objects still held at the end of the page are terminated")
        << counter + "Set c = New Counter\r\nc.Name = \"end\" %>x"
        << "x[bye end]";
    QTest::newRow("With on an object of the page's class")
        << counter
               + "With New Counter\r\n.Name = \"w\"\r\n.Add 1\r\nResponse.Write .Count\r\nEnd With\r\n"
                 "Response.Write \".\" %>"
        << "11[bye w].";
    QTest::newRow("a class's default property, fields and array fields")
        << "<% Class Box\r\nPublic Items(2)\r\nPublic Default Property Get Value\r\nValue = \"v\" & "
           "Items(1)\r\n"
           "End Property\r\nEnd Class\r\nSet b = New Box\r\nb.Items(1) = 7 %><%= b %>,<%= b.Items(1) %>,<%= "
           "UBound(b.Items) %>"
        << "v7,7,2";
    QTest::newRow("members call each other without Me, a field shadows nothing outside")
        << "<% Name = \"page\"\r\nClass P\r\nPrivate Name\r\nSub SetName(n)\r\nName = n\r\nEnd Sub\r\n"
           "Function Greet()\r\nGreet = Prefix() & Name\r\nEnd Function\r\nPrivate Function "
           "Prefix()\r\nPrefix = \"hi \"\r\n"
           "End Function\r\nEnd Class\r\nSet p = New P : p.SetName \"张三\" %><%= p.Greet() %>,<%= Name %>"
        << "hi 张三,page";
    QTest::newRow("Property Set and an object in a field")
        << "<% Class Holder\r\nPrivate m_o\r\nPublic Property Set Item(o)\r\nSet m_o = o\r\nEnd Property\r\n"
           "Public Property Get Item()\r\nSet Item = m_o\r\nEnd Property\r\nEnd Class\r\n"
           "Class Leaf\r\nPublic V\r\nEnd Class\r\nSet h = New Holder : Set l = New Leaf : l.V = 3\r\n"
           "Set h.Item = l %><%= h.Item.V %>,<%= h.Item Is l %>"
        << "3,True";
    QTest::newRow("Application with Lock and UnLock")
        << "<% Application.Lock\r\nApplication(\"hits-conformance\") = Application(\"hits-conformance\") + "
           "1\r\n"
           "Application.UnLock\r\nApplication(\"name-conformance\") = \"名录\" %>"
           "<%= Application(\"hits-conformance\") %><%= Application.Contents(\"NAME-conformance\") %>"
        << "1名录";
}

void AspEngineTest::conformance()
{
    QFETCH(QString, page);
    QFETCH(QString, output);
    const PageResponse r = run(page);
    QCOMPARE(gbk::decode(r.body), output);
    QCOMPARE(r.status, 200);
}

// A statement that fails under On Error Resume Next, and the error VBScript raises for it:
// the built-ins' checks of their arguments, each kind of argument once.
void AspEngineTest::argumentErrors_data()
{
    QTest::addColumn<QString>("statement");
    QTest::addColumn<int>("number");

    const int call = 5, overflow = 6, subscript = 9, locked = 10, mismatch = 13, null = 94;
    auto row = [](const char* name, const char* statement, int number) {
        QTest::newRow(name) << QString::fromUtf8(statement) << number;
    };
    row("Mid: start 0", "x = Mid(\"abc\", 0)", call);
    row("Mid: negative start", "x = Mid(\"abc\", -1)", call);
    row("Mid: negative length", "x = Mid(\"abc\", 1, -1)", call);
    row("Mid: Null start", "x = Mid(\"abc\", Null)", null);
    row("Mid: Null length", "x = Mid(\"abc\", 1, Null)", null);
    row("Mid: a start that is no number", "x = Mid(\"abc\", \"a\")", mismatch);
    row("Mid: a start past a Long", "x = Mid(\"abc\", 2147483648)", overflow);
    row("Mid: a Null text with start 0", "x = Mid(Null, 0)", call);
    row("Left: negative length", "x = Left(\"abc\", -1)", call);
    row("Left: Null length", "x = Left(\"abc\", Null)", null);
    row("Left: a length that is no number", "x = Left(\"abc\", \"x\")", mismatch);
    row("Right: negative length", "x = Right(\"abc\", -1)", call);
    row("Right: Null length", "x = Right(\"abc\", Null)", null);
    row("InStr: start 0", "x = InStr(0, \"abc\", \"a\")", call);
    row("InStr: negative start", "x = InStr(-1, \"abc\", \"a\")", call);
    row("InStr: Null start", "x = InStr(Null, \"abc\", \"a\")", null);
    row("InStr: a text where the start goes", "x = InStr(\"abc\", \"b\", \"c\")", mismatch);
    row("InStr: compare 2", "x = InStr(1, \"abc\", \"a\", 2)", call);
    row("InStr: compare -1", "x = InStr(1, \"abc\", \"a\", -1)", call);
    row("InStr: Null compare", "x = InStr(1, \"abc\", \"a\", Null)", null);
    row("InStrRev: start 0", "x = InStrRev(\"abc\", \"a\", 0)", call);
    row("InStrRev: start -2", "x = InStrRev(\"abc\", \"a\", -2)", call);
    row("InStrRev: Null start", "x = InStrRev(\"abc\", \"a\", Null)", null);
    row("InStrRev: compare 2", "x = InStrRev(\"abc\", \"a\", -1, 2)", call);
    row("InStrRev: a Null text with start 0", "x = InStrRev(Null, \"a\", 0)", call);
    row("Replace: Null text", "x = Replace(Null, \"a\", \"b\")", null);
    row("Replace: Null find", "x = Replace(\"abc\", Null, \"b\")", null);
    row("Replace: Null replacement", "x = Replace(\"abc\", \"a\", Null)", null);
    row("Replace: start 0", "x = Replace(\"abc\", \"a\", \"b\", 0)", call);
    row("Replace: negative start", "x = Replace(\"abc\", \"a\", \"b\", -1)", call);
    row("Replace: Null start", "x = Replace(\"abc\", \"a\", \"b\", Null)", null);
    row("Replace: count -2", "x = Replace(\"abc\", \"a\", \"b\", 1, -2)", call);
    row("Replace: Null count", "x = Replace(\"abc\", \"a\", \"b\", 1, Null)", null);
    row("Replace: compare 2", "x = Replace(\"abc\", \"a\", \"b\", 1, -1, 2)", call);
    row("Split: Null text", "x = Split(Null)", null);
    row("Split: Null delimiter", "x = Split(\"a b\", Null)", null);
    row("Split: count -2", "x = Split(\"a b\", \" \", -2)", call);
    row("Split: Null count", "x = Split(\"a b\", \" \", Null)", null);
    row("Split: compare 2", "x = Split(\"a b\", \" \", -1, 2)", call);
    row("Join: a text", "x = Join(\"abc\")", mismatch);
    row("Join: Null", "x = Join(Null)", null);
    row("Join: a Null item", "x = Join(Array(\"a\", Null))", null);
    row("Join: two dimensions", "Dim m(1, 1) : x = Join(m)", call);
    row("Join: Null delimiter", "x = Join(Array(\"a\"), Null)", null);
    row("Join: an array inside", "x = Join(Array(Array(1)))", mismatch);
    row("Filter: a text", "x = Filter(\"abc\", \"a\")", mismatch);
    row("Filter: Null", "x = Filter(Null, \"a\")", null);
    row("Filter: two dimensions", "Dim m(1, 1) : x = Filter(m, \"a\")", subscript);
    row("Filter: Null value", "x = Filter(Array(\"a\"), Null)", null);
    row("Filter: Null include", "x = Filter(Array(\"a\"), \"a\", Null)", null);
    row("Filter: compare 2", "x = Filter(Array(\"a\"), \"a\", True, 2)", call);
    row("Filter: a Null item", "x = Filter(Array(Null), \"a\")", null);
    row("Space: negative", "x = Space(-1)", call);
    row("Space: Null", "x = Space(Null)", null);
    row("Space: no number", "x = Space(\"x\")", mismatch);
    row("String: negative count", "x = String(-1, \"a\")", call);
    row("String: an empty text", "x = String(2, \"\")", call);
    row("String: a negative code", "x = String(2, -1)", call);
    row("String: a count that is no number", "x = String(\"x\", \"a\")", mismatch);
    row("Asc: empty", "x = Asc(\"\")", call);
    row("Asc: Null", "x = Asc(Null)", null);
    row("AscW: empty", "x = AscW(\"\")", call);
    row("Chr: past 65535", "x = Chr(65536)", call);
    row("Chr: below -32768", "x = Chr(-32769)", call);
    row("Chr: Null", "x = Chr(Null)", null);
    row("ChrW: past 65535", "x = ChrW(65536)", call);
    row("ChrW: Null", "x = ChrW(Null)", null);
    row("StrComp: compare 2", "x = StrComp(\"a\", \"b\", 2)", call);
    row("StrComp: Null compare", "x = StrComp(\"a\", \"b\", Null)", null);
    row("StrReverse: Null", "x = StrReverse(Null)", null);
    row("LCase: an array", "x = LCase(Array(1))", mismatch);
    row("CInt: past an Integer", "x = CInt(32768)", overflow);
    row("CInt: below an Integer", "x = CInt(\"-32769\")", overflow);
    row("CInt: no number", "x = CInt(\"abc\")", mismatch);
    row("CInt: empty text", "x = CInt(\"\")", mismatch);
    row("CInt: Null", "x = CInt(Null)", null);
    row("CLng: past a Long", "x = CLng(2147483648)", overflow);
    row("CLng: no number", "x = CLng(\"x\")", mismatch);
    row("CLng: Null", "x = CLng(Null)", null);
    row("CDbl: no number", "x = CDbl(\"1e\")", mismatch);
    row("CDbl: past a Double", "x = CDbl(\"1e400\")", overflow);
    row("CDbl: Null", "x = CDbl(Null)", null);
    row("CDate: no date", "x = CDate(\"x\")", mismatch);
    row("CDate: past the calendar", "x = CDate(3000000)", overflow);
    row("CDate: Null", "x = CDate(Null)", null);
    row("CBool: no number, date or truth", "x = CBool(\"abc\")", mismatch);
    row("CBool: empty text", "x = CBool(\"\")", mismatch);
    row("CBool: Null", "x = CBool(Null)", null);
    row("CByte: past a Byte", "x = CByte(256)", overflow);
    row("CByte: negative", "x = CByte(-1)", overflow);
    row("CStr: Null", "x = CStr(Null)", null);
    row("Hex: no number", "x = Hex(\"x\")", mismatch);
    row("Hex: past a Long", "x = Hex(2147483648)", overflow);
    row("Oct: no number", "x = Oct(\"x\")", mismatch);
    row("UBound: a text", "x = UBound(\"abc\")", mismatch);
    row("UBound: Null", "x = UBound(Null)", mismatch);
    row("UBound: Empty", "x = UBound(Empty)", mismatch);
    row("UBound: dimension 2 of one", "x = UBound(Array(1), 2)", subscript);
    row("UBound: dimension 0", "x = UBound(Array(1), 0)", subscript);
    row("UBound: Null dimension", "x = UBound(Array(1), Null)", null);
    row("UBound: a dynamic array not yet sized", "Dim a() : x = UBound(a)", subscript);
    row("UBound: an erased dynamic array", "ReDim a(2) : Erase a : x = UBound(a)", subscript);
    row("LBound: a text", "x = LBound(\"abc\")", mismatch);
    row("LBound: a dynamic array not yet sized", "Dim a() : x = LBound(a)", subscript);
    row("an element of a dynamic array not yet sized", "Dim a() : x = a(0)", subscript);
    row("ReDim of a fixed array", "Dim a(2) : ReDim a(3)", locked);
    row("ReDim Preserve of a fixed array", "Dim a(2) : ReDim Preserve a(3)", locked);
    row("ReDim of an array whose element is passed ByRef",
        "Sub s(x) : ReDim a(5) : End Sub\r\nReDim a(2) : s a(1)", locked);
    row("Erase of an array whose element is passed ByRef",
        "Sub s(x) : Erase a : End Sub\r\nReDim a(2) : s a(1)", locked);
    row("Erase of what is no array", "x = 1 : Erase x", mismatch);
    row("Err.Raise 0", "Err.Raise 0", call);
}

void AspEngineTest::argumentErrors()
{
    QFETCH(QString, statement);
    QFETCH(int, number);
    static const QHash<int, QString> texts = {
        {5, "Invalid procedure call or argument"},
        {6, "Overflow"},
        {9, "Subscript out of range"},
        {10, "This array is fixed or temporarily locked"},
        {13, "Type mismatch"},
        {94, "Invalid use of Null"},
    };
    const PageResponse r =
        run("<% On Error Resume Next\r\n" + statement
            + "\r\nResponse.Write Err.Number & \"|\" & Err.Description & \"|\" & Err.Source %>");
    QCOMPARE(r.status, 200);
    QCOMPARE(gbk::decode(r.body),
             QStringLiteral("%1|%2|Microsoft VBScript runtime error").arg(number).arg(texts.value(number)));
}

// Pages VBScript refuses: the same error, never a page that runs on.
void AspEngineTest::refusals_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("reason");

    const QString wrongCount = QStringLiteral("错误的参数个数");
    QTest::newRow("InStr without its text") << "<% x = InStr(, \"abc\", \"b\") %>" << wrongCount;
    QTest::newRow("InStr with one argument") << "<% x = InStr(\"abc\") %>" << wrongCount;
    QTest::newRow("Split without arguments") << "<% x = Split() %>" << wrongCount;
    QTest::newRow("Replace without its new text") << "<% x = Replace(\"abc\", \"b\") %>" << wrongCount;
    QTest::newRow("Replace with an empty place") << "<% x = Replace(\"abc\", , \"b\") %>" << wrongCount;
    QTest::newRow("UBound without the array") << "<% x = UBound() %>" << wrongCount;
    QTest::newRow("Mid without the start") << "<% x = Mid(\"abc\", , 1) %>" << wrongCount;
    QTest::newRow("ReDim of a fixed array")
        << "<% Dim a(2)\r\nReDim a(3) %>" << QStringLiteral("该数组为定长的");
    QTest::newRow("ReDim Preserve changing the first dimension")
        << "<% ReDim a(1, 1)\r\nReDim Preserve a(2, 1) %>" << QStringLiteral("下标越界");
    QTest::newRow("a Sub called with parentheses around two arguments")
        << "<% Sub s(a, b)\r\nEnd Sub\r\ns(1, 2) %>" << QStringLiteral("调用 Sub 时不能使用括号");
    QTest::newRow("a private member from outside")
        << "<% Class C\r\nPrivate Sub Hidden()\r\nEnd Sub\r\nEnd Class\r\nSet c = New C\r\nc.Hidden %>"
        << QStringLiteral("对象不支持此属性或方法");
    QTest::newRow("an undeclared class")
        << "<% Set c = New Nowhere %>" << QStringLiteral("未定义类: 'Nowhere'");
    QTest::newRow("a leading dot outside With") << "<% .Write 1 %>" << QStringLiteral("不在 With 中");
    QTest::newRow("Me outside a class") << "<% x = Me %>" << QStringLiteral("Me 只能用在 Class 中");
    QTest::newRow("an object kept in Application")
        << "<% Set Application(\"conn\") = Server.CreateObject(\"ADODB.Connection\") %>"
        << QStringLiteral("在 Application 中保存对象");
    QTest::newRow("a stream reading a page instead of a picture")
        << "<% Set st = Server.CreateObject(\"ADODB.Stream\")\r\nst.Type = 1 : st.Open\r\n"
           "st.LoadFromFile Server.MapPath(\"p1.asp\") %>"
        << QStringLiteral("只能读取网站中的图片文件");
    QTest::newRow("Call of a name in parentheses")
        << "<% Sub one(a)\r\nEnd Sub\r\nCall (one)(1) %>" << QStringLiteral("缺少标识符");
    QTest::newRow("a hexadecimal number past 32 bits")
        << "<% x = &H100000000 %>" << QStringLiteral("无效数字");
    QTest::newRow("a date past the calendar")
        << "<% x = DateAdd(\"yyyy\", 9000, #2024-1-1#) %>" << QStringLiteral("无效的过程调用或参数");
}

void AspEngineTest::refusals()
{
    QFETCH(QString, page);
    QFETCH(QString, reason);
    const PageResponse r = run(page);
    QCOMPARE(r.status, 500);
    const QString body = gbk::decode(r.body);
    QVERIFY2(body.contains(reason), qPrintable(body));
}

void AspEngineTest::failures_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("reason");

    QTest::newRow("syntax error") << "<%\r\nx = 1\r\ny = \r\n%>" << 3 << "语法错误";
    QTest::newRow("If without End If") << "<% If x Then\r\ny = 1\r\n%>" << 3 << "缺少";
    QTest::newRow("unterminated text") << "<%\r\nx = \"abc\r\n%>" << 2 << "未结束的字符串常量";
    QTest::newRow("type mismatch") << "<%\r\n\r\nx = \"abc\" + 1 %>" << 3 << "类型不匹配";
    QTest::newRow("division by zero") << "<% x = 0\r\ny = 5 \\ x %>" << 2 << "被零除";
    QTest::newRow("unknown function") << "<% x = Foo(1) %>" << 1 << "类型不匹配: 'Foo'";
    QTest::newRow("Option Explicit") << "<% Option Explicit\r\nDim a\r\na = 1\r\nb = 2 %>" << 4
                                     << "变量未定义: 'b'";
    QTest::newRow("error inside a procedure names its line")
        << "<% Sub S()\r\nx = Null + Len(Null) & CInt(Null)\r\nEnd Sub\r\nS %>" << 2 << "无效使用 Null";
    QTest::newRow("GoTo") << "<%\r\nGoTo here %>" << 2 << "不支持的语句：GoTo";
    QTest::newRow("a class's Const") << "<% Class Person\r\nConst N = 1\r\nEnd Class %>" << 2
                                     << "不支持的语句：Class 中的 Const";
    QTest::newRow("FormatCurrency") << "<% x = 1\r\nResponse.Write FormatCurrency(1) %>" << 2
                                    << "不支持的函数或对象：FormatCurrency";
    QTest::newRow("ObjectContext") << "<% ObjectContext.SetAbort %>" << 1
                                   << "不支持的函数或对象：ObjectContext";
    QTest::newRow("another component") << "<% Set f = Server.CreateObject(\"Scripting.FileSystemObject\") %>"
                                       << 1 << "不支持的对象：Scripting.FileSystemObject";
    QTest::newRow("a member no object has")
        << "<% Response.Foo %>" << 1 << "对象不支持此属性或方法: 'Response.Foo'";
    QTest::newRow("server-side script element")
        << "a\r\n<script language=\"vbscript\" runat=\"server\">x</script>" << 1
        << "不支持的语句：&lt;script runat=\"server\"&gt;";
    QTest::newRow("a date literal that is no date") << "<% d = #2014-13-45# %>" << 1 << "日期常量";
    QTest::newRow("too many arguments") << "<% Sub S(a)\r\nEnd Sub\r\nS 1, 2 %>" << 3 << "错误的参数个数";
    QTest::newRow("an array index past its end") << "<% Dim a(2)\r\nx = a(3) %>" << 2 << "下标越界";
    QTest::newRow("a field of a closed recordset")
        << "<% Set rs = Server.CreateObject(\"ADODB.Recordset\")\r\nx = rs.EOF %>" << 2 << "对象关闭时";
}

void AspEngineTest::failures()
{
    QFETCH(QString, page);
    QFETCH(int, line);
    QFETCH(QString, reason);
    const PageResponse r = run(page);
    QCOMPARE(r.status, 500);
    const QString body = gbk::decode(r.body);
    QVERIFY2(body.contains(reason), qPrintable(body));
    QVERIFY2(body.contains(QStringLiteral(".asp，行 %1<").arg(line)), qPrintable(body));
}

void AspEngineTest::unsupportedIsNeverSkipped()
{
    const PageResponse r =
        run("<% On Error Resume Next\r\nx = Eval(\"1 + 1\")\r\nResponse.Write \"went on\" %>");
    QCOMPARE(r.status, 500);
    QVERIFY(!gbk::decode(r.body).contains("went on"));
    QVERIFY(gbk::decode(r.body).contains(QStringLiteral("不支持的函数或对象：Eval")));
}

void AspEngineTest::runawayPageStops()
{
    Engine engine(m_site.path());
    engine.setTimeLimit(200);
    QFile file(m_site.path() + "/loop.asp");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("<% On Error Resume Next\r\nDo\r\ns = s & \"x\"\r\nIf Len(s) > 1000 Then s = \"\"\r\nLoop %>");
    file.close();
    PageResponse r;
    QVERIFY(engine.run("/loop.asp", {}, nullptr, r));
    QCOMPARE(r.status, 500);
    QVERIFY(gbk::decode(r.body).contains(QStringLiteral("脚本超时")));

    // Growing a text without end stops at the limit instead of exhausting the server.
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("<% s = \"x\"\r\nDo\r\ns = s & s\r\nLoop %>");
    file.close();
    QVERIFY(engine.run("/loop.asp", {}, nullptr, r));
    QCOMPARE(r.status, 500);
    QVERIFY(gbk::decode(r.body).contains(QStringLiteral("内存不够")));
}

void AspEngineTest::includes()
{
    QDir(m_site.path()).mkpath("inc");
    QFile head(m_site.path() + "/inc/head.inc");
    QVERIFY(head.open(QIODevice::WriteOnly));
    head.write(
        gbk::encode(QStringLiteral("<% Function Greet(n)\r\nGreet = \"你好\" & n\r\nEnd Function %>[头]")));
    head.close();

    QCOMPARE(text("<!-- #include file=\"inc/head.inc\" --><%= Greet(1) %>"), QStringLiteral("[头]你好1"));
    QCOMPARE(text("<!--#include virtual=\"/inc/head.inc\"--><%= Greet(2) %>"), QStringLiteral("[头]你好2"));

    // The line of an error counts in the file where it is.
    const PageResponse missing = run("\r\n<!-- #include file=\"nothing.inc\" -->");
    QCOMPARE(missing.status, 500);
    QVERIFY(gbk::decode(missing.body).contains(QStringLiteral("找不到包含文件")));
    QVERIFY(gbk::decode(missing.body).contains(QStringLiteral("，行 2")));

    const PageResponse outside = run("<!-- #include file=\"../../etc/passwd\" -->");
    QCOMPARE(outside.status, 500);
    QVERIFY(gbk::decode(outside.body).contains(QStringLiteral("包含文件的路径不允许")));
}

void AspEngineTest::changedFilesParsedAgain()
{
    auto write = [&](const QString& name, const QString& text) {
        QFile file(m_site.path() + name);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(gbk::encode(text));
    };
    auto output = [&](const QString& page) {
        PageResponse r;
        m_engine.run(page, {}, nullptr, r);
        return QString::number(r.status) + u' ' + gbk::decode(r.body);
    };
    write("/part.inc", "甲");
    write("/whole.asp", "<!-- #include file=\"part.inc\" -->");
    QCOMPARE(output("/whole.asp"), QStringLiteral("200 甲"));
    write("/part.inc", "乙"); // the same size: the cache must not go by size alone
    QCOMPARE(output("/whole.asp"), QStringLiteral("200 乙"));

    write("/broken.asp", "<% If %>");
    QVERIFY(output("/broken.asp").startsWith("500 "));
    write("/broken.asp", "<%= 1 %>");
    QCOMPARE(output("/broken.asp"), QStringLiteral("200 1"));

    QFile::remove(m_site.path() + "/broken.asp");
    PageResponse r;
    QVERIFY(!m_engine.run("/broken.asp", {}, nullptr, r));
}

void AspEngineTest::requestValuesAreGbk()
{
    PageRequest request;
    request.method = "POST";
    request.query = "id=7&name=%D5%C5%C8%FD&a=1&a=2";
    request.body = "T1=%C6%DF%C4%EA%BC%B6+1%B0%E0&select=&empty";
    request.headers = {{"Content-Type", "application/x-www-form-urlencoded"},
                       {"Cookie", "theme=%C2%CC; other=1"},
                       {"User-Agent", "test"}};
    request.remoteAddress = "10.0.0.5";
    const QString page =
        "<%= Request.QueryString(\"NAME\") %>|<%= Request.Form(\"T1\") %>|<%= Request(\"id\") %>|"
        "<%= Request.QueryString(\"a\") %>|<%= IsEmpty(Request.Form(\"none\")) %>|"
        "<%= Request.Form(\"select\") = \"\" %>|<%= Request.Cookies(\"theme\") %>|"
        "<%= Request.ServerVariables(\"REQUEST_METHOD\") %>|<%= Request.ServerVariables(\"REMOTE_ADDR\") %>|"
        "<%= Request.ServerVariables(\"HTTP_USER_AGENT\") %>|<%= Request.Form.Count %>";
    QCOMPARE(gbk::decode(run(page, request).body),
             QStringLiteral("张三|七年级 1班|7|1, 2|True|True|绿|POST|10.0.0.5|test|3"));

    // A multipart body holds no fields a page could read as a form.
    request.headers = {{"Content-Type", "multipart/form-data; boundary=x"}};
    request.body = "--x\r\nContent-Disposition: form-data; name=\"T1\"\r\n\r\nabc\r\n--x--\r\n";
    QCOMPARE(gbk::decode(run("[<%= Request.Form(\"T1\") %>]", request).body), QStringLiteral("[]"));
}

void AspEngineTest::responseControlsTheAnswer()
{
    PageResponse r = run("x<% Response.Redirect \"h2.asp?id=3&vv=1\" %>y");
    QCOMPARE(r.status, 302);
    QVERIFY(std::find(r.headers.begin(), r.headers.end(), Headers::value_type("Location", "h2.asp?id=3&vv=1"))
            != r.headers.end());
    QVERIFY(!r.body.contains("xy"));

    r = run("<% Response.ContentType = \"image/png\" : Response.BinaryWrite Request.BinaryRead(3) %>",
            PageRequest{"POST", {}, "\x89PNG", {}, {}, {}, 80});
    QCOMPARE(r.contentType, QByteArray("image/png"));
    QCOMPARE(r.body, QByteArray("\x89PN"));

    r = run("<% Response.Status = \"404 Not Found\" : Response.Write \"没有\" %>");
    QCOMPARE(r.status, 404);
    QCOMPARE(gbk::decode(r.body), QStringLiteral("没有"));

    // A value with a line break cannot add a header of its own.
    r = run("<% Response.AddHeader \"X-Test\", \"a\" & vbCrLf & \"Set-Cookie: evil=1\" %>");
    QCOMPARE(r.headers.size(), size_t(1));
    QVERIFY(!r.headers.front().second.contains('\n'));

    r = run("<% Response.Write \"a\" : Response.Clear : Response.Cookies(\"班\") = \"一班\" %>b");
    QCOMPARE(r.body, QByteArray("b"));
    QCOMPARE(r.headers.front().second, QByteArray("%B0%E0=%D2%BB%B0%E0; path=/; HttpOnly; SameSite=Strict"));
}

void AspEngineTest::serverHelpers()
{
    QCOMPARE(text("<%= Server.HTMLEncode(\"<b title=\"\"x\"\">O'Neil & 张</b>\") %>|<%= "
                  "Server.HTMLEncode(Null) %>"),
             QStringLiteral("&lt;b title=&quot;x&quot;&gt;O&#39;Neil &amp; 张&lt;/b&gt;|"));
    QCOMPARE(text("<%= Server.URLEncode(\"一班 a&b\") %>"), QStringLiteral("%D2%BB%B0%E0+a%26b"));
    QCOMPARE(text("<%= Server.MapPath(\"学生信息.mdb\") %>"),
             m_site.path() + QStringLiteral("/学生信息.mdb"));
    QCOMPARE(text("<%= Server.MapPath(\"/\") %>"), m_site.path());
    const PageResponse outside = run("<%= Server.MapPath(\"../sys.ini\") %>");
    QCOMPARE(outside.status, 500);
    QVERIFY(gbk::decode(outside.body).contains(QStringLiteral("在网站之外")));
}

void AspEngineTest::sessionValues()
{
    OneSession sessions;
    QCOMPARE(gbk::decode(run("[<%= Session(\"班级\") %>]", {}, &sessions).body), QStringLiteral("[]"));
    QVERIFY(!sessions.made); // only reading makes no session

    QCOMPARE(
        gbk::decode(run("<% Session(\"班级\") = \"七(1)班\" : Session.Timeout = 5 %><%= Session.Timeout %>",
                        {}, &sessions)
                        .body),
        QStringLiteral("5"));
    QVERIFY(sessions.made);
    QCOMPARE(gbk::decode(run("<%= Session(\"班级\") %>", {}, &sessions).body), QStringLiteral("七(1)班"));

    const PageResponse object =
        run("<% Set Session(\"c\") = Server.CreateObject(\"ADODB.Connection\") %>", {}, &sessions);
    QCOMPARE(object.status, 500);

    // An object of the page's class kept inside an array outlives its page but runs no more.
    const QString counter = "<% Class C\r\nSub Inc(n)\r\nn = n + 1\r\nEnd Sub\r\nEnd Class\r\n";
    run(counter + "Session(\"kept\") = Array(New C) %>", {}, &sessions);
    const PageResponse later = run(counter + "k = 1 : a = Session(\"kept\") : a(0).Inc k %>", {}, &sessions);
    QCOMPARE(later.status, 500);
    QVERIFY2(gbk::decode(later.body).contains(QStringLiteral("在网页结束后使用 Class 的对象")),
             qPrintable(gbk::decode(later.body)));

    run("<% Session.Abandon %>", {}, &sessions);
    QVERIFY(sessions.state.abandoned);
}

namespace {

const QString openDatabase =
    "<% db = \"学生信息.mdb\"\r\nSet conn = Server.CreateObject(\"ADODB.Connection\")\r\n"
    "conn.Open \"Provider=Microsoft.Jet.OLEDB.4.0;jet oledb:database password=2961574;Data Source=\" & "
    "Server.MapPath(db)\r\nSet rs = Server.CreateObject(\"ADODB.recordset\") %>";

} // namespace

void AspEngineTest::adoReadsStudents()
{
    TestFolder folder;
    folder.addClasses({"七(1)班", "七(2)班"});
    const QList<int> ids = folder.addStudents({{"张三", "七(1)班", "2014001", jpegBytes(30, 40)},
                                               {"李四", "七(1)班", "2014002", {}},
                                               {"王五", "七(2)班", "2014003", {}}});
    folder.execute(QStringLiteral("UPDATE 学生 SET 简介=X'%1', 选项=NULL WHERE id=%2")
                       .arg(QString::fromLatin1(gbk::encode(QStringLiteral("爱好画画")).toHex()))
                       .arg(ids[0]));
    Engine engine(folder.path() + "/DB");
    auto page = [&](const QString& source) {
        QFile file(folder.path() + "/DB/t.asp");
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write");
        file.write(gbk::encode(openDatabase + source));
        file.close();
        PageResponse r;
        engine.run("/t.asp", {}, nullptr, r);
        return gbk::decode(r.body);
    };

    QCOMPARE(page("<% rs.Open \"Select * from 学生  where 班级='七(1)班' \", conn, 2, 2\r\n"
                  "Do While Not rs.EOF\r\nResponse.Write rs(\"姓名\") & \"/\" & rs.Fields(2) & "
                  "\";\"\r\nrs.MoveNext\r\n"
                  "Loop\r\nResponse.Write rs.RecordCount & rs.EOF %>"),
             QStringLiteral("张三/2014001;李四/2014002;2True"));
    // Remarks come as their GBK bytes, written out as they are; a NULL option is Null.
    QCOMPARE(
        page(QStringLiteral("<% rs.Open \"Select * from 学生 where id=%1\", conn, 2, 2 %>"
                            "<%= rs(\"简介\") %>|<%= IsNull(rs(\"选项\")) %>|<%= LenB(rs(\"照片\")) > 100 %>|"
                            "<%= TypeName(rs(\"id\").Value) %>|<%= rs.Fields(\"姓名\").Name %>")
                 .arg(ids[0])),
        QStringLiteral("爱好画画|True|True|Long|姓名"));
    QCOMPARE(
        page("<% rs.Open \"Select * from 学生 where 班级='没有'\", conn, 2, 2 %><%= rs.EOF %><%= rs.BOF %>"),
        QStringLiteral("TrueTrue"));
    QCOMPARE(page("<% Set r = conn.Execute(\"select count(*) as n from 学生\") %><%= r(\"n\") %><%= r(0) %>"),
             QStringLiteral("33"));

    // A field is found by any spelling of its name, by a name made while the page runs and by
    // its number, row after row.
    QCOMPARE(
        page(
            "<% rs.Open \"Select * from 学生  where 班级='七(1)班' \", conn, 2, 2\r\n"
            "Do While Not rs.EOF\r\nf = \"编\" & \"号\"\r\n"
            "Response.Write rs(\"ID\") & \",\" & rs(\"id\") & \",\" & rs(f) & rs(2) & \"-\" & rs(\"姓名\") & "
            "\";\"\r\nIf rs(\"姓名\") = \"李四\" Then Response.Write \"!\"\r\nrs.MoveNext\r\nLoop %>"),
        QStringLiteral("%1,%1,20140012014001-张三;%2,%2,20140022014002-李四;!").arg(ids[0]).arg(ids[1]));
    // rs(name) stays a Field where an object is wanted: it follows its recordset.
    QCOMPARE(page("<% rs.Open \"Select * from 学生  where 班级='七(1)班' \", conn, 2, 2\r\n"
                  "Set f = rs(\"姓名\") : rs.MoveNext %><%= f %>|<%= TypeName(rs(\"姓名\")) %>|"
                  "<%= IsObject(rs(\"姓名\")) %>"),
             QStringLiteral("李四|Field|True"));
    // A field read past the end fails only after what the expression evaluated before it.
    QCOMPARE(page("<% Function Say()\r\nResponse.Write \"said;\"\r\nEnd Function\r\nOn Error Resume Next\r\n"
                  "rs.Open \"select * from 学生 where id=0\", conn, 2, 2\r\nx = rs(\"姓名\") & Say()\r\n"
                  "Response.Write Err.Number & \";\"\r\nErr.Clear\r\ny = rs(\"姓名\") & \"\"\r\n"
                  "Response.Write Err.Number %>"),
             QStringLiteral("said;3021;3021"));

    const QString missing =
        page("<% rs.Open \"select * from 学生\", conn, 2, 2\r\nx = rs(\"没有的字段\") %>");
    QVERIFY2(missing.contains(QStringLiteral("未找到项目")), qPrintable(missing));
    const QString atEnd =
        page("<% rs.Open \"select * from 学生 where id=0\", conn, 2, 2\r\nx = rs(\"姓名\") %>");
    QVERIFY2(atEnd.contains(QStringLiteral("BOF 或 EOF")), qPrintable(atEnd));
    const QString badSql = page("<% rs.Open \"select * from 没有的表\", conn, 2, 2 %>");
    QVERIFY2(badSql.contains("80040e14"), qPrintable(badSql));
}

void AspEngineTest::adoWritesOneRecord()
{
    TestFolder folder;
    const QList<int> ids = folder.addStudents({{"张三", "七(1)班", "2014001", {}}});
    Engine engine(folder.path() + "/DB");
    QFile file(folder.path() + "/DB/up.asp");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(gbk::encode(
        openDatabase
        + QStringLiteral("<% rs.Open \"select * from 学生 where id=%1\", conn, 2, 2\r\n"
                         "rs(\"简介\") = \"喜欢\"\"读书\"\"\"\r\nrs(\"住址\") = \"北京路 1 号\"\r\n"
                         "rs(\"电话\") = 12345\r\nrs.Update\r\nrs.Close\r\n"
                         "rs.Open \"select * from 学生\", conn, 2, 2\r\nrs.AddNew\r\n"
                         "rs(\"姓名\") = \"新生\"\r\nrs(\"班级\") = \"七(2)班\"\r\nrs.Update %>ok")
              .arg(ids[0])));
    file.close();
    PageResponse r;
    QVERIFY(engine.run("/up.asp", {}, nullptr, r));
    QCOMPARE(gbk::decode(r.body), QStringLiteral("ok"));

    QCOMPARE(folder.storedColumn(u"住址"), QStringList({"北京路 1 号", ""}));
    QCOMPARE(folder.storedColumn(u"电话"), QStringList({"12345", ""}));
    QCOMPARE(folder.storedColumn(u"姓名"), QStringList({"张三", "新生"}));
    DatabaseConnection db;
    QVERIFY(db.openDatabaseFile(folder.databaseFile()));
    Recordset rs;
    rs.attach(db);
    QVERIFY(rs.open(QStringLiteral("select * from 学生 where id=%1").arg(ids[0])));
    QCOMPARE(rs.readBytes(u"简介"), gbk::encode(QStringLiteral("喜欢\"读书\"")));
}

void AspEngineTest::adoRefusesWhatPagesMustNotDo()
{
    TestFolder folder;
    folder.addStudents({{"张三", "七(1)班", "2014001", {}}});
    Engine engine(folder.path() + "/DB");
    QFile file(folder.path() + "/DB/bad.asp");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(gbk::encode(
        openDatabase + "<% rs.Open \"select * from 学生 where 编号='1'; DROP TABLE 学生\", conn, 2, 2 %>"));
    file.close();
    PageResponse r;
    QVERIFY(engine.run("/bad.asp", {}, nullptr, r));
    QCOMPARE(r.status, 500);
    QCOMPARE(folder.storedColumn(u"姓名"), QStringList({"张三"}));

    // A semicolon inside a quoted value is part of the value, not a second statement.
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(gbk::encode(
        openDatabase + "<% rs.Open \"select * from 学生 where 编号='1; x'\", conn, 2, 2 %><%= rs.EOF %>"));
    file.close();
    r = PageResponse();
    QVERIFY(engine.run("/bad.asp", {}, nullptr, r));
    QCOMPARE(gbk::decode(r.body), QStringLiteral("True"));
}

QTEST_GUILESS_MAIN(AspEngineTest)
#include "tst_aspengine.moc"
