<?php
// The home page of the site written in PHP: the same queries through PDO SQLite and the same
// HTML, byte for byte, as index.asp gives for the default settings. The benchmark serves it
// with `php -S` to have a peer measured by the same client in the same run. The page's own
// lines end in CR LF; the students' fields, a remark's line ends among them, go out as stored.
$db = new PDO('sqlite:' . getenv('QINGHE_PEER_DATABASE'));
$db->setAttribute(PDO::ATTR_ERRMODE, PDO::ERRMODE_EXCEPTION);
$db->exec('PRAGMA busy_timeout = 5000');

function h($value)
{
    return htmlspecialchars((string)$value, ENT_QUOTES | ENT_SUBSTITUTE, 'UTF-8');
}

$aa = $_POST['select'] ?? '';
$aa1 = $_POST['T1'] ?? '';
$classes = $db->query('Select * from 设置')->fetchAll(PDO::FETCH_ASSOC);

$out = "\r\n\r\n<script language=\"javascript\" src=\"../../../../print.js\"></script>\r\n"
    . "<style media=\"print\">\r\n\t.Noprint { DISPLAY: none; }\r\n</style>\r\n"
    . "<div align=\"center\" class= \"Noprint \">\r\n\t<p>　</p>\r\n"
    . "\t<p><b><font face=\"黑体\" size=\"7\" color=\"#FF0000\">学生信息查询</font></b></p>\r\n"
    . "\t<p><a href=\"login.asp\"><b><font face=\"黑体\" size=\"4\" color=\"#FF0000\">班级管理员登陆</font></b></a></p>\r\n"
    . "\t<form name=\"form2\" method=\"post\" action=\"../../../index.asp\">\r\n\t\t按班级\r\n";
if ($classes) {
    if ($aa === '' && $aa1 === '')
        $aa = (string)$classes[0]['单位'];
    $out .= "\r\n\t\t<select size=\"1\" name=\"select\">\r\n\t\t\t<option selected>" . h($classes[0]['单位']) . "</option>\r\n";
    for ($i = 1; $i < count($classes); ++$i)
        $out .= "\r\n\t\t\t<option>" . h($classes[$i]['单位']) . "</option>\r\n";
    $out .= "\r\n\t\t</select>\r\n";
}
$out .= "\r\n\t\t<input type=\"submit\" value=\"确定\" name=\"Submit2\">\r\n\t\t<input type=\"reset\" value=\"重置\" name=\"B3\">\r\n"
    . "\t</form>\r\n\t<form method=\"POST\" action=\"../../../index.asp\">\r\n\t\t按编号或姓名\r\n"
    . "\t\t<input type=\"text\" name=\"T1\" size=\"12\">\r\n\t\t<input type=\"submit\" value=\"确定\" name=\"B1\">\r\n"
    . "\t\t<input type=\"reset\" value=\"重置\" name=\"B2\">\r\n</div>\r\n<p align=\"center\">\r\n";
if ($aa1 === '') {
    $students = $db->prepare('Select * from 学生  where 班级=?');
    $students->execute([$aa]);
} else {
    $students = $db->prepare('Select * from 学生 where 编号=? or 姓名=?');
    $students->execute([$aa1, $aa1]);
}
while ($rs = $students->fetch(PDO::FETCH_ASSOC)) {
    $remark = $rs['简介'] === null ? '' : iconv('GB18030', 'UTF-8//IGNORE', $rs['简介']);
    $out .= "\r\n<table width=\"858\" border=\"1\" bgcolor=\"#CCCCCC\">\r\n\t<tr>\r\n"
        . "\t\t<td width=\"165\" rowspan=\"4\" align=\"center\"><img src=\"show.asp?id=" . $rs['id']
        . "\" width=\"159\" height=\"201\" style=\"border: 1px dotted #000000\"></td>\r\n"
        . "\t\t<td colspan=\"3\"><b><font size=\"5\" color=\"#FF0000\">备注</font></b><br><textarea rows=\"12\" name=\"S1\" cols=\"85\" readonly>"
        . h($remark) . "</textarea></td>\r\n\t</tr>\r\n\t<tr>\r\n"
        . "\t\t<td colspan=\"3\"><font size=\"2\" color=\"#FF0000\">家庭住址：</font>" . h($rs['住址']) . "</td>\r\n\t</tr>\r\n\t<tr>\r\n"
        . "\t\t<td><font size=\"2\" color=\"#FF0000\">编号：</font>" . h($rs['编号']) . "</td>\r\n"
        . "\t\t<td><font size=\"2\" color=\"#FF0000\">单位：</font>" . h($rs['班级']) . "</td>\r\n"
        . "\t\t<td><font size=\"2\" color=\"#FF0000\">联系电话：</font>" . h($rs['电话']) . "</td>\r\n\t</tr>\r\n\t<tr>\r\n"
        . "\t\t<td><font size=\"2\" color=\"#FF0000\">姓名：</font><b>" . h($rs['姓名']) . "</b></td>\r\n"
        . "\t\t<td><font size=\"2\" color=\"#FF0000\">性别：</font><b>" . h($rs['性别']) . "</b></td>\r\n"
        . "\t\t<td><font size=\"2\" color=\"#FF0000\">出生年月:</font><b>" . h($rs['出生年月']) . "</b></td>\r\n"
        . "\t</tr>\r\n</table>\r\n"
        . "<body leftmargin=\"0\" topmargin=\"0\" marginwidth=\"0\" marginheight=\"0\" style=\"text-align: center\" bgcolor=\"#008080\">\r\n";
}
$out .= "\r\n";
header('Content-Type: text/html; charset=GBK');
echo iconv('UTF-8', 'GB18030', $out);
