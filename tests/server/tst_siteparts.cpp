// SPDX-License-Identifier: GPL-3.0-or-later
// The web server's parts that need no socket: which paths exist, sessions, the pause after a
// refused post, where a request ends.
#include "server/RefusalThrottle.h"
#include "server/RequestFraming.h"
#include "server/SessionStore.h"
#include "server/SitePath.h"

#include <QTest>

class SitePartsTest : public QObject {
    Q_OBJECT

private slots:
    void pathsDecoded_data();
    void pathsDecoded();
    void onlySiteFilesExist_data();
    void onlySiteFilesExist();
    void sessionsMadeOnFirstWrite();
    void sessionsEndAfterTwentyIdleMinutes();
    void abandonedSessionsAreForgotten();
    void fullStoreDropsTheLongestUnused();
    void refusedPostsWaitInTurn();
    void requestsFramed_data();
    void requestsFramed();
};

void SitePartsTest::pathsDecoded_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("path"); // empty: refused

    QTest::newRow("root") << QByteArray("/") << "/";
    QTest::newRow("page") << QByteArray("/index.asp") << "/index.asp";
    QTest::newRow("double slashes") << QByteArray("//a//b.js") << "/a/b.js";
    QTest::newRow("folder") << QByteArray("/sub/") << "/sub/";
    QTest::newRow("UTF-8 name") << QByteArray("/%E7%85%A7%E7%89%87.jpg") << "/照片.jpg";
    QTest::newRow("parent") << QByteArray("/../sys.ini") << "";
    QTest::newRow("parent in the middle") << QByteArray("/a/../../sys.ini") << "";
    QTest::newRow("encoded dots") << QByteArray("/%2e%2e/sys.ini") << "";
    QTest::newRow("encoded dots, upper case") << QByteArray("/%2E%2E%2Fsys.ini") << "";
    QTest::newRow("encoded slash") << QByteArray("/..%2fsys.ini") << "";
    QTest::newRow("backslash") << QByteArray("/..\\sys.ini") << "";
    QTest::newRow("encoded backslash") << QByteArray("/%2e%2e%5csys.ini") << "";
    QTest::newRow("overlong dot") << QByteArray("/%c0%ae%c0%ae/sys.ini") << "";
    QTest::newRow("overlong slash") << QByteArray("/..%c0%afsys.ini") << "";
    QTest::newRow("NUL") << QByteArray("/index.asp%00.js") << "";
    QTest::newRow("broken escape") << QByteArray("/a%2") << "";
    QTest::newRow("hidden file") << QByteArray("/.git/config") << "";
    QTest::newRow("current folder") << QByteArray("/./index.asp") << "";
    QTest::newRow("no leading slash") << QByteArray("index.asp") << "";
    // Decoded once: a doubly encoded dot stays a name with a percent sign in it.
    QTest::newRow("double encoding") << QByteArray("/%252e%252e/sys.ini") << "/%2e%2e/sys.ini";
}

void SitePartsTest::pathsDecoded()
{
    QFETCH(QByteArray, raw);
    QFETCH(QString, path);
    QCOMPARE(SitePath::decode(raw).value_or(QString()), path);
}

void SitePartsTest::onlySiteFilesExist_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("mime");

    const int page = int(SitePath::Kind::Page), file = int(SitePath::Kind::File),
              no = int(SitePath::Kind::Refused);
    QTest::newRow("page") << "/index.asp" << page << QByteArray();
    QTest::newRow("page in capitals") << "/LOGIN.ASP" << page << QByteArray();
    QTest::newRow("script") << "/print.js" << file << QByteArray("application/javascript; charset=GBK");
    QTest::newRow("style") << "/a.css" << file << QByteArray("text/css; charset=GBK");
    QTest::newRow("jpeg") << "/a.jpg" << file << QByteArray("image/jpeg");
    QTest::newRow("png") << "/a.png" << file << QByteArray("image/png");
    QTest::newRow("gif") << "/a.gif" << file << QByteArray("image/gif");
    QTest::newRow("static page") << "/a.htm" << file << QByteArray("text/html; charset=GBK");
    QTest::newRow("database") << "/学生信息.mdb" << no << QByteArray();
    QTest::newRow("its journal") << "/学生信息.mdb-wal" << no << QByteArray();
    QTest::newRow("its shared memory") << "/学生信息.mdb-shm" << no << QByteArray();
    QTest::newRow("a backup") << "/学生信息.mdb.bak" << no << QByteArray();
    QTest::newRow("settings") << "/sys.ini" << no << QByteArray();
    QTest::newRow("the server") << "/asp" << no << QByteArray();
    QTest::newRow("an include") << "/inc/head.inc" << no << QByteArray();
    QTest::newRow("a dot in a folder") << "/a.jpg/asp" << no << QByteArray();
}

void SitePartsTest::onlySiteFilesExist()
{
    QFETCH(QString, path);
    QFETCH(int, kind);
    QFETCH(QByteArray, mime);
    QCOMPARE(int(SitePath::kindOf(path)), kind);
    if (!mime.isEmpty())
        QCOMPARE(SitePath::mimeType(path), mime);
}

void SitePartsTest::sessionsMadeOnFirstWrite()
{
    SessionStore store;
    QString id;
    {
        SessionStore::Lease lease(store, {});
        QVERIFY(!lease.session(false));
        asp::SessionState* s = lease.session(true);
        QVERIFY(s);
        id = s->id;
        s->values[QStringLiteral("班级")] = asp::Value::fromString(QStringLiteral("七(1)班"));
        const QByteArray cookie = lease.finish();
        QCOMPARE(cookie, "ASPSESSIONID=" + id.toLatin1() + "; path=/; HttpOnly; SameSite=Strict");
    }
    QCOMPARE(id.size(), 32); // 128 bits
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{32}$")).match(id).hasMatch());

    SessionStore::Lease again(store, SessionStore::idFromCookies("theme=1; ASPSESSIONID=" + id.toLatin1()));
    QCOMPARE(again.session(false)->values[QStringLiteral("班级")].toString(), QStringLiteral("七(1)班"));
    QCOMPARE(again.finish(), QByteArray()); // known already: no cookie again

    SessionStore::Lease other(store, {});
    QVERIFY(other.session(true)->id != id);
}

void SitePartsTest::sessionsEndAfterTwentyIdleMinutes()
{
    SessionStore store;
    QString id;
    {
        SessionStore::Lease lease(store, {});
        id = lease.session(true)->id;
    }
    store.advance(std::chrono::minutes(19));
    {
        SessionStore::Lease lease(store, id);
        QVERIFY(lease.session(false)); // a request keeps it alive
    }
    store.advance(std::chrono::minutes(19));
    {
        SessionStore::Lease lease(store, id);
        QVERIFY(lease.session(false));
    }
    store.advance(std::chrono::minutes(21));
    SessionStore::Lease late(store, id);
    QVERIFY(!late.session(false));
}

void SitePartsTest::abandonedSessionsAreForgotten()
{
    SessionStore store;
    QString id;
    {
        SessionStore::Lease lease(store, {});
        id = lease.session(true)->id;
    }
    {
        SessionStore::Lease lease(store, id);
        lease.session(false)->abandoned = true;
        QVERIFY(lease.finish().contains("Max-Age=0"));
    }
    SessionStore::Lease after(store, id);
    QVERIFY(!after.session(false));
    QCOMPARE(store.size(), size_t(0));
}

void SitePartsTest::fullStoreDropsTheLongestUnused()
{
    SessionStore store(3);
    QStringList ids;
    for (int i = 0; i < 3; ++i) {
        SessionStore::Lease lease(store, {});
        ids << lease.session(true)->id;
        store.advance(std::chrono::seconds(1));
    }
    {
        SessionStore::Lease lease(store, ids[0]); // used again: now the second is the oldest
        QVERIFY(lease.session(false));
    }
    {
        SessionStore::Lease lease(store, {});
        lease.session(true);
    }
    QCOMPARE(store.size(), size_t(3));
    SessionStore::Lease first(store, ids[0]);
    QVERIFY(first.session(false));
    first.finish();
    SessionStore::Lease second(store, ids[1]);
    QVERIFY(!second.session(false));
}

void SitePartsTest::refusedPostsWaitInTurn()
{
    using namespace std::chrono;
    RefusalThrottle throttle(seconds(1));
    const auto start = RefusalThrottle::Clock::now();
    const auto unrefused = throttle.admit("10.0.0.1");
    QVERIFY(unrefused <= RefusalThrottle::Clock::now());
    throttle.refused("10.0.0.1");
    const auto first = throttle.admit("10.0.0.1");
    const auto second = throttle.admit("10.0.0.1");
    QVERIFY(first - start >= milliseconds(900));
    QVERIFY(second - first >= milliseconds(999));
    const auto other = throttle.admit("10.0.0.2");
    QVERIFY(other <= RefusalThrottle::Clock::now()); // others are not held up
}

void SitePartsTest::requestsFramed_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("length"); // -1: all the bytes
    QTest::addColumn<bool>("expects");

    using State = RequestFraming::State;
    const QByteArray form = "POST /index.asp HTTP/1.1\r\ncontent-length:  5 \r\n\r\n";
    QTest::newRow("a head still coming")
        << QByteArray("GET / HTTP/1.1\r\nHost: x\r\n") << int(State::Partial) << 0 << false;
    QTest::newRow("a page asked for")
        << QByteArray("GET / HTTP/1.1\r\nHost: x\r\n\r\n") << int(State::Complete) << -1 << false;
    QTest::newRow("a form whose body is coming")
        << form + "T1" << int(State::Partial) << int(form.size()) + 5 << false;
    QTest::newRow("a form and the next request") << form + "T1=ab" + "GET / HTTP/1.1\r\n"
                                                 << int(State::Complete) << int(form.size()) + 5 << false;
    const QByteArray asking = "POST / HTTP/1.1\r\nExpect: 100-Continue\r\nContent-Length: 3\r\n\r\n";
    QTest::newRow("waiting to be asked for the body")
        << asking << int(State::Partial) << int(asking.size()) + 3 << true;
    const QByteArray upload = "POST / HTTP/1.1\r\nContent-Type: Multipart/form-data; boundary=b\r\n"
                              "Content-Length: 900000\r\n\r\n";
    QTest::newRow("a file upload, refused unread") << upload << int(State::Complete) << -1 << false;
}

void SitePartsTest::requestsFramed()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, state);
    QFETCH(int, length);
    QFETCH(bool, expects);
    const auto frame = RequestFraming{}.frame(std::string_view(bytes.constData(), size_t(bytes.size())));
    QCOMPARE(int(frame.state), state);
    QCOMPARE(qsizetype(frame.length), length < 0 ? bytes.size() : length);
    QCOMPARE(!frame.expectLine.empty(), expects);
}

QTEST_GUILESS_MAIN(SitePartsTest)
#include "tst_siteparts.moc"
