<%
'学生照片：show.asp?id=学生的 id，按照片开头的字节给出图片类型；学生没有照片时给出“无照片”图片，没有这个学生时回答 404
Function ZhengShu(s)
	ZhengShu=False
	If Len(s)=0 Or Len(s)>9 Then Exit Function
	For i=1 To Len(s)
		If InStr("0123456789",Mid(s,i,1))=0 Then Exit Function
	Next
	ZhengShu=True
End Function

id=Request.QueryString("id")
zp=""
youxuesheng=False
If ZhengShu(id) Then
	db="学生信息.mdb"
	Set conn = Server.CreateObject("ADODB.Connection")
	connstr="Provider=Microsoft.Jet.OLEDB.4.0;jet oledb:database password=2961574;Data Source=" & Server.MapPath(db)
	conn.Open connstr
	Set rs=Server.CreateObject("ADODB.recordset")
	rs.Open "Select * from 学生 where id=" & id,conn,2,2
	If Not rs.EOF Then
		youxuesheng=True
		zp=rs("照片")
		If IsNull(zp) Then zp=""
	End If
	rs.Close
	conn.Close
End If
If LenB(zp)<4 And youxuesheng Then
	Set st=Server.CreateObject("ADODB.Stream")
	st.Type=1
	st.Open
	st.LoadFromFile Server.MapPath("nophoto.png")
	Response.ContentType="image/png"
	Response.BinaryWrite st.Read
	st.Close
	Response.End
End If
If LenB(zp)<4 Then
	Response.Status="404 Not Found"
	Response.Write "没有照片"
	Response.End
End If
b1=AscB(MidB(zp,1,1))
b2=AscB(MidB(zp,2,1))
b3=AscB(MidB(zp,3,1))
b4=AscB(MidB(zp,4,1))
lx="application/octet-stream"
If b1=&HFF And b2=&HD8 Then
	lx="image/jpeg"
ElseIf b1=&H89 And b2=&H50 And b3=&H4E And b4=&H47 Then
	lx="image/png"
ElseIf b1=&H47 And b2=&H49 And b3=&H46 Then
	lx="image/gif"
ElseIf b1=&H42 And b2=&H4D Then
	lx="image/bmp"
End If
Response.ContentType=lx
Response.BinaryWrite zp
'后面的换行不属于照片
Response.End
%>
