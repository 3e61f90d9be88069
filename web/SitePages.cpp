// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/SitePages.h"

#include "archive/ProgramFolder.h"
#include "archive/StudentTable.h"
#include "formats/Gbk.h"
#include "formats/SafeFile.h"

#include <QStringList>

namespace SitePages {

namespace {

// The pieces are kept with plain line feeds and tab indentation; the files carry CR LF.
// Every value that comes from the database or a request reaches SQL quoted with its single
// quotes doubled and reaches the HTML through Server.HTMLEncode; "& """ turns a NULL field
// into empty text first.

QString databaseOpening()
{
    return QStringLiteral("db = \"学生信息.mdb\"\n"
                          "Set conn = Server.CreateObject(\"ADODB.Connection\")\n"
                          "conn.Open \"Provider=Microsoft.Jet.OLEDB.4.0;jet oledb:database password=")
           + StudentTable::databasePassword + QStringLiteral(";Data Source=\" & Server.MapPath(db)\n");
}

const QString printScript =
    QStringLiteral(R"(<script language="javascript" src="../../../../print.js"></script>
)");

const QString printStyle = QStringLiteral(R"(<style media="print">
	.Noprint { DISPLAY: none; }
</style>
)");

const QString studentBlockEnd = QStringLiteral(
    R"(<body leftmargin="0" topmargin="0" marginwidth="0" marginheight="0" style="text-align: center" bgcolor="#008080">
)");

QString homeHead()
{
    return QStringLiteral(R"(<%
aa = Request.Form("select")
aa1 = Request.Form("T1")
%>
<%
)") + databaseOpening()
           + QStringLiteral(R"(Set bj = Server.CreateObject("ADODB.recordset")
bj.Open "Select * from 设置", conn, 2, 2
%>
)") + printScript
           + printStyle + QStringLiteral(R"(<div align="center" class= "Noprint ">
	<p>　</p>
	<p><b><font face="黑体" size="7" color="#FF0000">)");
}

QString homeBody()
{
    return QStringLiteral(R"(</font></b></p>
	<p><a href="login.asp"><b><font face="黑体" size="4" color="#FF0000">班级管理员登陆</font></b></a></p>
	<form name="form2" method="post" action="../../../index.asp">
		按班级
<%
If Not bj.EOF Then
	If aa = "" And aa1 = "" Then aa = bj("单位") & ""
%>
		<select size="1" name="select">
			<option selected><%=Server.HTMLEncode(bj("单位") & "")%></option>
<%
	bj.MoveNext
	Do While Not bj.EOF
%>
			<option><%=Server.HTMLEncode(bj("单位") & "")%></option>
<%
		bj.MoveNext
	Loop
%>
		</select>
<%
End If
%>
		<input type="submit" value="确定" name="Submit2">
		<input type="reset" value="重置" name="B3">
	</form>
	<form method="POST" action="../../../index.asp">
		按编号或姓名
		<input type="text" name="T1" size="12">
		<input type="submit" value="确定" name="B1">
		<input type="reset" value="重置" name="B2">
</div>
<p align="center">
<%
If aa1 = "" Then
	sql = "Select * from 学生  where 班级='" & Replace(aa, "'", "''") & "' "
Else
	sql = "Select * from 学生 where 编号='" & Replace(aa1, "'", "''") & "'or 姓名='" & Replace(aa1, "'", "''") & "' "
End If
Set rs = Server.CreateObject("ADODB.recordset")
rs.Open sql, conn, 2, 2
Do While Not rs.EOF
	zz = rs("id")
%>
<table width="858" border="1" bgcolor="#CCCCCC">
	<tr>
		<td width="165" rowspan="4" align="center"><img src="show.asp?id=<%=zz%>" width="159" height="201" style="border: 1px dotted #000000"></td>
		<td colspan="3"><b><font size="5" color="#FF0000">备注</font></b><br><textarea rows="12" name="S1" cols="85" readonly><%=Server.HTMLEncode(rs("简介") & "")%></textarea></td>
	</tr>
	<tr>
		<td colspan="3"><font size="2" color="#FF0000">家庭住址：</font><%=Server.HTMLEncode(rs("住址") & "")%></td>
	</tr>
	<tr>
		<td><font size="2" color="#FF0000">编号：</font><%=Server.HTMLEncode(rs("编号") & "")%></td>
		<td><font size="2" color="#FF0000">单位：</font><%=Server.HTMLEncode(rs("班级") & "")%></td>
		<td><font size="2" color="#FF0000">联系电话：</font><%=Server.HTMLEncode(rs("电话") & "")%></td>
	</tr>
	<tr>
		<td><font size="2" color="#FF0000">姓名：</font><b><%=Server.HTMLEncode(rs("姓名") & "")%></b></td>
		<td><font size="2" color="#FF0000">性别：</font><b><%=Server.HTMLEncode(rs("性别") & "")%></b></td>
		<td><font size="2" color="#FF0000">出生年月:</font><b><%=Server.HTMLEncode(rs("出生年月") & "")%></b></td>
	</tr>
</table>
)") + studentBlockEnd
           + QStringLiteral(R"(<%
	rs.MoveNext
Loop
%>
)");
}

// The form is shown only to the administrator of the student's class: the login page keeps
// the class of the account it accepted in Session("单位").
QString editHead()
{
    return printScript + QStringLiteral("<head>\n") + printStyle + QStringLiteral(R"(<base target="_self">
</head>
<div align="center" class="Noprint">
	<p><b><font face="黑体" size="7" color="#FF0000">信息编辑</font></b></p>
</div>
<p align="center">
<%
Function IsWholeNumber(text)
	Dim i
	IsWholeNumber = False
	If Len(text) = 0 Or Len(text) > 9 Then Exit Function
	For i = 1 To Len(text)
		If InStr("0123456789", Mid(text, i, 1)) = 0 Then Exit Function
	Next
	IsWholeNumber = True
End Function

)") + databaseOpening()
           + QStringLiteral(R"(Set rs = Server.CreateObject("ADODB.recordset")
id = Request.QueryString("id")
allowed = False
If IsWholeNumber(id) Then
	rs.Open "Select * from 学生 where id=" & id & " ", conn, 2, 2
	If Not rs.EOF Then
		If Session("单位") <> "" And Session("单位") = rs("班级") & "" Then
			allowed = True
		Else
			Response.Write "<font color=""#FF0000"">只有本班的班级管理员<a href=""login.asp"">登陆</a>后才能编辑这名学生的信息。</font>"
		End If
	End If
	If allowed And Request.QueryString("vv") <> "" Then Response.Write "<script language=""javascript"">alert('保存成功！')</script>"
End If
If allowed Then
%>
<table width="858" border="1" bgcolor="#CCCCCC">
	<form method="POST" action="up.asp?id=<%=id%>" target="_top">
	<tr>
		<td width="160" rowspan="5" align="center"><img src="show.asp?id=<%=id%>" width="153" height="194" style="border: 1px dotted #000000"></td>
		<td colspan="3"><b><font size="5" color="#FF0000">备注</font></b><br><textarea rows="10" name="S1" cols="86"><%=Server.HTMLEncode(rs("简介") & "")%></textarea></td>
	</tr>
	<tr>
		<td colspan="3"><font size="2" color="#FF0000">家庭住址：</font><input type="text" name="T4" size="59" value="<%=Server.HTMLEncode(rs("住址") & "")%>"></td>
	</tr>
	<tr>
		<td><font size="2" color="#FF0000">编号：</font><%=Server.HTMLEncode(rs("编号") & "")%></td>
		<td><font size="2" color="#FF0000">单位：</font><%=Server.HTMLEncode(rs("班级") & "")%></td>
		<td><font size="2" color="#FF0000">联系电话：</font><input type="text" name="T5" size="16" value="<%=Server.HTMLEncode(rs("电话") & "")%>"></td>
	</tr>
	<tr>
		<td colspan="3"><font size="2" color="#FF0000">选项：</font><%=Server.HTMLEncode(rs("选项") & "")%> <select size="1" name="D2"><option>无</option>)");
}

QString editTail()
{
    return QStringLiteral(R"(</select> <input type="submit" value="提交" name="B1"></td>
	</tr>
	<tr>
		<td><font size="2" color="#FF0000">姓名：</font><input type="text" name="T6" size="12" value="<%=Server.HTMLEncode(rs("姓名") & "")%>"></td>
		<td><font size="2" color="#FF0000">性别：</font><select size="1" name="D1">
			<option value="男"<% If rs("性别") & "" = "男" Then Response.Write " selected" %>>男</option>
			<option value="女"<% If rs("性别") & "" = "女" Then Response.Write " selected" %>>女</option>
		</select></td>
		<td><font size="2" color="#FF0000">出生年月:</font><input type="text" name="T3" size="12" value="<%=Server.HTMLEncode(rs("出生年月") & "")%>"></td>
	</tr>
	</form>
</table>
)") + studentBlockEnd
           + QStringLiteral(R"(<%
End If
%>
)");
}

// A setting typed on one line stays on one line of the page, and cannot open markup.
QString pageText(const QString& setting)
{
    QString text = setting;
    text.replace(u'\r', u' ').replace(u'\n', u' ');
    return text.toHtmlEscaped();
}

QByteArray pageBytes(QString text)
{
    text.replace(u'\n', QStringLiteral("\r\n"));
    return gbk::encode(text);
}

} // namespace

QByteArray homePage(const QString& title) { return pageBytes(homeHead() + pageText(title) + homeBody()); }

QByteArray editPage(const QString& options)
{
    QString list;
    for (const QString& option : options.split(u'|', Qt::SkipEmptyParts))
        list += QStringLiteral("<option>") + pageText(option) + QStringLiteral("</option>");
    return pageBytes(editHead() + list + editTail());
}

bool write(const QString& appFolder, const QString& title, const QString& options, QString* error)
{
    const QString folder = ProgramFolder::databaseFolder(appFolder);
    return SafeFile::write(folder + QStringLiteral("/index.asp"), homePage(title), error)
           && SafeFile::write(folder + QStringLiteral("/h2.asp"), editPage(options), error);
}

} // namespace SitePages
