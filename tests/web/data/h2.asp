<script language="javascript" src="../../../../print.js"></script>
<head>
<style media="print">
	.Noprint { DISPLAY: none; }
</style>
<base target="_self">
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

db = "学生信息.mdb"
Set conn = Server.CreateObject("ADODB.Connection")
conn.Open "Provider=Microsoft.Jet.OLEDB.4.0;jet oledb:database password=2961574;Data Source=" & Server.MapPath(db)
Set rs = Server.CreateObject("ADODB.recordset")
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
		<td colspan="3"><font size="2" color="#FF0000">选项：</font><%=Server.HTMLEncode(rs("选项") & "")%> <select size="1" name="D2"><option>无</option><option>三好学生</option><option>优秀团员</option><option>优秀班干部</option></select> <input type="submit" value="提交" name="B1"></td>
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
<body leftmargin="0" topmargin="0" marginwidth="0" marginheight="0" style="text-align: center" bgcolor="#008080">
<%
End If
%>
