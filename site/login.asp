<%
'班级管理员登陆：帐号和密码与“班级管理员”中设置的一致时，列出本班学生，点击进入编辑页
db="学生信息.mdb"
Set conn = Server.CreateObject("ADODB.Connection")
connstr="Provider=Microsoft.Jet.OLEDB.4.0;jet oledb:database password=2961574;Data Source=" & Server.MapPath(db)
conn.Open connstr
ts=""
If Request.QueryString("tc")<>"" Then
	Session.Abandon
	Response.Redirect "login.asp"
End If
If Request.ServerVariables("REQUEST_METHOD")="POST" Then
	zh=Trim(Request.Form("zh"))
	mm=Request.Form("mm")
	If zh="" Or mm="" Then
		ts="请输入帐号和密码"
	Else
		Set bj=Server.CreateObject("ADODB.recordset")
		bj.Open "Select * from 设置 where 帐号='" & Replace(zh,"'","''") & "' and 密码='" & Replace(mm,"'","''") & "'",conn,2,2
		If Not bj.EOF Then
			Session("单位")=bj("单位") & ""
			Session("帐号")=zh
			bj.Close
			Response.Redirect "login.asp"
		End If
		bj.Close
		'登陆失败：服务器让这个地址的下一次尝试等待一秒
		Response.Status="403 Forbidden"
		ts="帐号或密码错误"
	End If
End If
bjmc=Session("单位") & ""
%>
<html>
<script language="javascript" src="../../../../print.js"></script>
<head>
<meta http-equiv="Content-Type" content="text/html; charset=gb2312">
<title>班级管理员登陆</title>
<style media="print">
.Noprint {DISPLAY: none}
</style>
</head>
<body topmargin="0" leftmargin="0" bgcolor="#008080">
<div align="center" class= "Noprint ">
	<p>　</p>
	<p><b><font face="黑体" size="7" color="#FF0000">班级管理员登陆</font></b></p>
	<p><a href="index.asp"><b><font face="黑体" size="4" color="#FF0000">返回首页</font></b></a></p>
<% If bjmc="" Then %>
	<form method="POST" action="login.asp" name="form1">
		<p><font color="#FFFFFF">帐号：</font><input type="text" name="zh" size="12">
		<font color="#FFFFFF">密码：</font><input type="password" name="mm" size="12">
		<input type="submit" value="登陆" name="B1"></p>
	</form>
<% If ts<>"" Then %>
	<p><b><font size="4" color="#FFFF00"><%= Server.HTMLEncode(ts) %></font></b></p>
<% End If %>
</div>
<% Else %>
	<p><b><font face="黑体" size="5" color="#FFFFFF"><%= Server.HTMLEncode(bjmc) %>　学生名单</font></b>
	　<a href="login.asp?tc=1"><font size="3" color="#FFFF00">退出登陆</font></a></p>
</div>
<div align="center">
<table border="1" width="858" bgcolor="#CCCCCC" cellspacing="0" cellpadding="4">
	<tr>
		<td><b><font size="2" color="#FF0000">编号</font></b></td>
		<td><b><font size="2" color="#FF0000">姓名</font></b></td>
		<td><b><font size="2" color="#FF0000">性别</font></b></td>
		<td><b><font size="2" color="#FF0000">出生年月</font></b></td>
		<td><b><font size="2" color="#FF0000">联系电话</font></b></td>
		<td class= "Noprint "><b><font size="2" color="#FF0000">修改</font></b></td>
	</tr>
<%
Set rs=Server.CreateObject("ADODB.recordset")
rs.Open "Select * from 学生 where 班级='" & Replace(bjmc,"'","''") & "' ",conn,2,2
Do While Not rs.EOF
%>
	<tr>
		<td><%= Server.HTMLEncode(rs("编号") & "") %>　</td>
		<td><b><%= Server.HTMLEncode(rs("姓名") & "") %></b>　</td>
		<td><%= Server.HTMLEncode(rs("性别") & "") %>　</td>
		<td><%= Server.HTMLEncode(rs("出生年月") & "") %>　</td>
		<td><%= Server.HTMLEncode(rs("电话") & "") %>　</td>
		<td class= "Noprint "><a href="h2.asp?id=<%= rs("id") %>">编辑</a></td>
	</tr>
<%
	rs.MoveNext
Loop
rs.Close
%>
</table>
</div>
<% End If %>
</body>
</html>
<% conn.Close %>
