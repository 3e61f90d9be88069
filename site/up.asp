<%
'保存编辑页 h2.asp 的表单：只有登陆的班级管理员能改，而且只能改本班的学生
Function ZhengShu(s)
	ZhengShu=False
	If Len(s)=0 Or Len(s)>9 Then Exit Function
	For i=1 To Len(s)
		If InStr("0123456789",Mid(s,i,1))=0 Then Exit Function
	Next
	ZhengShu=True
End Function

'表单里有这个字段时才写入，少了的字段保持原样
Sub XieRu(ziduan, zhi)
	If Not IsEmpty(zhi) Then rs(ziduan)=zhi
End Sub

'除了制表符和换行，控制字符（空字符 NUL 之类）存不进数据库，也不该存：整张表单都不保存
Function YouKongZhi(s)
	YouKongZhi=False
	For i=1 To Len(s)
		c=AscW(Mid(s,i,1))
		If (c>=0 And c<32 And c<>9 And c<>10 And c<>13) Or c=127 Then
			YouKongZhi=True
			Exit Function
		End If
	Next
End Function

id=Request.QueryString("id")
bjmc=Session("单位") & ""
keyi=False
If bjmc<>"" And ZhengShu(id) And Request.ServerVariables("REQUEST_METHOD")="POST" Then
	db="学生信息.mdb"
	Set conn = Server.CreateObject("ADODB.Connection")
	connstr="Provider=Microsoft.Jet.OLEDB.4.0;jet oledb:database password=2961574;Data Source=" & Server.MapPath(db)
	conn.Open connstr
	Set rs=Server.CreateObject("ADODB.recordset")
	rs.Open "Select * from 学生 where id=" & id,conn,2,2
	If Not rs.EOF Then
		If rs("班级") & ""=bjmc Then keyi=True
	End If
End If
If Not keyi Then
	Response.Status="403 Forbidden"
%>
<html>
<head>
<meta http-equiv="Content-Type" content="text/html; charset=gb2312">
<title>不能保存</title>
</head>
<body topmargin="0" leftmargin="0" bgcolor="#008080">
<div align="center">
	<p>　</p>
	<p><b><font face="黑体" size="7" color="#FF0000">不能保存</font></b></p>
	<p><b><font size="4" color="#FFFFFF">只有本班的班级管理员登陆后才能修改学生信息。</font></b></p>
	<p><a href="login.asp"><b><font face="黑体" size="4" color="#FF0000">班级管理员登陆</font></b></a></p>
</div>
</body>
</html>
<%
	Response.End
End If
cuowu=""
If YouKongZhi(Request.Form("S1") & "") Then cuowu="备注"
If cuowu="" And YouKongZhi(Request.Form("T4") & "") Then cuowu="家庭住址"
If cuowu="" And YouKongZhi(Request.Form("T5") & "") Then cuowu="联系电话"
If cuowu="" And YouKongZhi(Request.Form("D2") & "") Then cuowu="选项"
If cuowu="" And YouKongZhi(Request.Form("T6") & "") Then cuowu="姓名"
If cuowu="" And YouKongZhi(Request.Form("D1") & "") Then cuowu="性别"
If cuowu="" And YouKongZhi(Request.Form("T3") & "") Then cuowu="出生年月"
If cuowu<>"" Then
	rs.Close
	conn.Close
%>
<html>
<head>
<meta http-equiv="Content-Type" content="text/html; charset=gb2312">
<title>不能保存</title>
</head>
<body topmargin="0" leftmargin="0" bgcolor="#008080">
<div align="center">
	<p>　</p>
	<p><b><font face="黑体" size="7" color="#FF0000">不能保存</font></b></p>
	<p><b><font size="4" color="#FFFFFF">“<%= Server.HTMLEncode(cuowu) %>”里有不能保存的控制字符，请删去后再提交。什么也没有保存。</font></b></p>
	<p><a href="h2.asp?id=<%= id %>"><b><font face="黑体" size="4" color="#FF0000">返回编辑页</font></b></a></p>
</div>
</body>
</html>
<%
	Response.End
End If
XieRu "简介", Request.Form("S1")
XieRu "住址", Request.Form("T4")
XieRu "电话", Request.Form("T5")
xx=Request.Form("D2")
If xx="无" Then xx=""
XieRu "选项", xx
XieRu "姓名", Request.Form("T6")
XieRu "性别", Request.Form("D1")
XieRu "出生年月", Request.Form("T3")
rs.Update
rs.Close
conn.Close
Response.Redirect "h2.asp?id=" & id & "&vv=1"
%>
