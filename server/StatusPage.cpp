// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/StatusPage.h"

#include "formats/Gbk.h"

namespace StatusPage {

namespace {

const char* reasonPhrase(int status)
{
    switch (status) {
    case 400:
        return "Bad Request";
    case 408:
        return "Request Timeout";
    case 411:
        return "Length Required";
    case 413:
        return "Content Too Large";
    case 414:
        return "URI Too Long";
    case 431:
        return "Request Header Fields Too Large";
    case 503:
        return "Service Unavailable";
    default:
        return "Error";
    }
}

} // namespace

QString title(int status)
{
    switch (status) {
    case 400:
        return QStringLiteral("400 请求无效");
    case 403:
        return QStringLiteral("403 禁止访问");
    case 404:
        return QStringLiteral("404 找不到网页");
    case 405:
        return QStringLiteral("405 不支持这种请求");
    case 408:
        return QStringLiteral("408 请求超时");
    case 411:
        return QStringLiteral("411 请求缺少内容长度");
    case 413:
        return QStringLiteral("413 提交的内容太大");
    case 414:
        return QStringLiteral("414 网址太长");
    case 415:
        return QStringLiteral("415 不支持这种提交方式");
    case 431:
        return QStringLiteral("431 请求头太大");
    case 503:
        return QStringLiteral("503 服务器忙，请稍后再试");
    default:
        return QString::number(status) + QStringLiteral(" 服务器错误");
    }
}

QByteArray html(int status, const QString& reason)
{
    const QString paragraph = reason.isEmpty() ? QString() : QStringLiteral("<p>%1</p>").arg(reason);
    return gbk::encode(QStringLiteral("<html><head><title>%1</title></head><body><h2>%1</h2>%2</body></html>")
                           .arg(title(status), paragraph));
}

QByteArray closingAnswer(int status, const QString& reason)
{
    const QByteArray body = html(status, reason);
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status)
           + "\r\nServer: " + QByteArray(serverName) + "\r\nContent-Type: text/html; charset=GBK\r\n"
           + (status == 503 ? "Retry-After: 1\r\n" : "")
           + "Connection: close\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

} // namespace StatusPage
