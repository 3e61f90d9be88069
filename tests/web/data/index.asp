<%
aa = Request.Form("select")
aa1 = Request.Form("T1")
%>
<%
db = "学生信息.mdb"
Set conn = Server.CreateObject("ADODB.Connection")
conn.Open "Provider=Microsoft.Jet.OLEDB.4.0;jet oledb:database password=2961574;Data Source=" & Server.MapPath(db)
Set bj = Server.CreateObject("ADODB.recordset")
bj.Open "Select * from 设置", conn, 2, 2
%>
<script language="javascript" src="../../../../print.js"></script>
<style media="print">
	.Noprint { DISPLAY: none; }
</style>
<div align="center" class= "Noprint ">
	<p>　</p>
	<p><b><font face="黑体" size="7" color="#FF0000">学生信息查询</font></b></p>
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
<body leftmargin="0" topmargin="0" marginwidth="0" marginheight="0" style="text-align: center" bgcolor="#008080">
<%
	rs.MoveNext
Loop
%>
