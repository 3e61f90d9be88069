// SPDX-License-Identifier: GPL-3.0-or-later
#include "formats/Gbk.h"
#include "formats/IniFile.h"
#include "formats/SettingText.h"
#include "formats/graphics/SettingColor.h"
#include "tests/support/ChildProcess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
QByteArray readFile(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}
} // namespace

class IniFileTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_path = m_dir.filePath("sys.ini");
        QFile::remove(m_path);
    }

    void missingFileGivesDefaults();
    void newFileIsGbkWithOneSection();
    void valuesRoundTrip_data();
    void valuesRoundTrip();
    void otherLinesKeptByteForByte();
    void nothingIsCached();
    void failedWriteLeavesFileAlone();
    void integers_data();
    void integers();
    void flagsAndColours();
    void endedWriterNeverDelaysTheNext_data();
    void endedWriterNeverDelaysTheNext();
    void liveWriterIsWaitedFor();
    void fullDiskGivesTheTrueReason();
    void unreadableFileIsLeftIntact();

private:
    QTemporaryDir m_dir;
    QString m_path;
};

void IniFileTest::missingFileGivesDefaults()
{
    QCOMPARE(IniFile::read(m_path, u"sys", u"WEB标题", "学生信息查询"), QString("学生信息查询"));
    QCOMPARE(IniFile::read(m_path, u"姓名设置", u"字体名称"), QString());
    QCOMPARE(IniFile::readInteger(m_path, u"sys", u"左边", 16), 16);
    QVERIFY(!IniFile::readFlag(m_path, u"姓名设置", u"加粗"));
    QVERIFY(!QFile::exists(m_path));
}

void IniFileTest::newFileIsGbkWithOneSection()
{
    QVERIFY(IniFile::write(m_path, u"sys", u"证件高度", u"300"));
    QVERIFY(IniFile::write(m_path, u"sys", u"证件宽度", u"400"));
    QCOMPARE(readFile(m_path), gbk::encode(u"[sys]\n证件高度=300\n证件宽度=400\n"));
    QVERIFY(IniFile::write(m_path, u"姓名设置", u"字体名称", u"宋体"));
    QCOMPARE(readFile(m_path),
             gbk::encode(u"[sys]\n证件高度=300\n证件宽度=400\n[姓名设置]\n字体名称=宋体\n"));
    // GBK, not UTF-8: 宋体 is CB CE CC E5.
    QVERIFY(readFile(m_path).contains(QByteArray("\xCB\xCE\xCC\xE5")));
}

void IniFileTest::valuesRoundTrip_data()
{
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("options with bars") << "sys"
                                       << "学生选项"
                                       << "三好学生|优秀团员|优秀班干部";
    QTest::newRow("chinese everything") << "编号设置"
                                        << "字体名称"
                                        << "华文琥珀";
    QTest::newRow("empty") << "sys"
                           << "WEB标题"
                           << "";
    QTest::newRow("equals and brackets") << "sys"
                                         << "WEB标题"
                                         << "a=b [c]";
    QTest::newRow("outside GBK") << "sys"
                                 << "WEB标题"
                                 << "青禾 😀 €";
}

void IniFileTest::valuesRoundTrip()
{
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QVERIFY(IniFile::write(m_path, section, key, value));
    QCOMPARE(IniFile::read(m_path, section, key, "default"), value);
}

void IniFileTest::otherLinesKeptByteForByte()
{
    // A file as Windows tools write it: CRLF, a comment, odd spacing, an invalid GBK byte.
    const QByteArray before =
        gbk::encode(u"; 设置\r\n[sys]\r\n左边 = 20\r\nWEB标题=旧标题\r\n\r\n[姓名设置]\r\n顶边=105\r\n")
        + "junk=\xFF\xFE\r\n";
    writeFile(m_path, before);
    QCOMPARE(IniFile::readInteger(m_path, u"SYS", u"左边", 16), 20);
    QVERIFY(IniFile::write(m_path, u"sys", u"WEB标题", u"新标题"));
    QVERIFY(IniFile::write(m_path, u"sys", u"顶边", u"-12"));
    QVERIFY(IniFile::write(m_path, u"姓名设置", u"加粗", u"真"));
    const QByteArray expected =
        gbk::encode(u"; 设置\r\n[sys]\r\n左边 = 20\r\nWEB标题=新标题\r\n顶边=-12\r\n\r\n"
                    u"[姓名设置]\r\n顶边=105\r\n")
        + "junk=\xFF\xFE\r\n" + gbk::encode(u"加粗=真\r\n");
    QCOMPARE(readFile(m_path), expected);
    QCOMPARE(IniFile::readInteger(m_path, u"姓名设置", u"顶边", 0), 105);

    // A value never breaks the file into two lines.
    QVERIFY(IniFile::write(m_path, u"sys", u"WEB标题", u"第一行\n[假节]"));
    QCOMPARE(IniFile::read(m_path, u"sys", u"WEB标题"), QString("第一行 [假节]"));
    QCOMPARE(IniFile::read(m_path, u"假节", u"x", "none"), QString("none"));
}

void IniFileTest::nothingIsCached()
{
    IniFile::write(m_path, u"sys", u"左边", u"1");
    QCOMPARE(IniFile::readInteger(m_path, u"sys", u"左边", 16), 1);
    writeFile(m_path, gbk::encode(u"[sys]\n左边=2\n"));
    QCOMPARE(IniFile::readInteger(m_path, u"sys", u"左边", 16), 2);
    QFile::remove(m_path);
    QCOMPARE(IniFile::readInteger(m_path, u"sys", u"左边", 16), 16);
}

void IniFileTest::failedWriteLeavesFileAlone()
{
    QVERIFY(!IniFile::write(m_dir.filePath("没有的文件夹/sys.ini"), u"sys", u"a", u"b"));
    writeFile(m_path, "[sys]\na=1\n");
    QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::ExeOwner);
    const bool written = IniFile::write(m_path, u"sys", u"a", u"2");
    QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (!written) // root may write anyway; otherwise the old file must be intact
        QCOMPARE(readFile(m_path), QByteArray("[sys]\na=1\n"));
}

void IniFileTest::integers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("plain") << "264" << 264;
    QTest::newRow("fraction cut") << "12.9" << 12;
    QTest::newRow("negative fraction toward zero") << "-3.5" << -3;
    QTest::newRow("letters") << "abc" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("spaces") << "  42 " << 42;
    QTest::newRow("plus") << "+7" << 7;
    QTest::newRow("trailing letters") << "12px" << 12;
    QTest::newRow("too big") << "99999999999" << std::numeric_limits<int>::max();
    QTest::newRow("too small") << "-99999999999" << std::numeric_limits<int>::min();
}

void IniFileTest::integers()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    QCOMPARE(SettingText::toInteger(text), value);
    IniFile::write(m_path, u"sys", u"n", text);
    QCOMPARE(IniFile::readInteger(m_path, u"sys", u"n", 99), value);
}

void IniFileTest::flagsAndColours()
{
    QVERIFY(SettingText::toFlag(u"真"));
    for (const char* other : {"假", "1", "true", "TRUE", "", " 真"})
        QVERIFY2(!SettingText::toFlag(QString::fromUtf8(other)), other);
    QCOMPARE(SettingText::fromFlag(false), QString("假"));
    QCOMPARE(SettingText::toColor(u"255"), QColor(255, 0, 0));
    QCOMPARE(SettingText::toColor(u"16711680"), QColor(0, 0, 255));
    QCOMPARE(SettingText::fromColor(QColor(1, 2, 3)), QString::number(1 + 2 * 256 + 3 * 65536));
    QCOMPARE(SettingText::toColor(u"abc"), QColor(0, 0, 0));
}

namespace {

// A process that takes the settings lock and then, once the lock is surely held, is killed.
void killWhileHoldingLock(const QString& lockFile)
{
    int ready[2];
    QVERIFY(::pipe(ready) == 0);
    const pid_t holder = startChild([&] {
        const int fd = ::open(QFile::encodeName(lockFile).constData(), O_RDWR | O_CREAT, 0666);
        if (fd < 0 || ::flock(fd, LOCK_EX) != 0)
            return false;
        if (::write(ready[1], "x", 1) != 1)
            return false;
        for (;;)
            ::pause();
    });
    char byte = 0;
    QCOMPARE(::read(ready[0], &byte, 1), ssize_t(1));
    ::close(ready[0]);
    ::close(ready[1]);
    ::kill(holder, SIGKILL);
    QCOMPARE(waitForChild(holder), -1);
}

} // namespace

void IniFileTest::endedWriterNeverDelaysTheNext_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("killed holding the lock") << "kill";
    QTest::newRow("empty lock file left behind") << "empty";
    QTest::newRow("killed writers at random moments") << "random";
}

void IniFileTest::endedWriterNeverDelaysTheNext()
{
    QFETCH(QString, how);
    const QString lockFile = m_dir.filePath(".sys.ini.lock");
    writeFile(m_path, "[sys]\n左边=16\n");
    if (how == u"kill") {
        killWhileHoldingLock(lockFile);
    } else if (how == u"empty") {
        writeFile(lockFile, {});
    } else {
        for (int round = 0; round < 20; ++round) {
            const pid_t writer = startChild([this]() -> bool {
                for (int i = 0;; i = (i + 1) % 1000)
                    IniFile::write(m_path, u"sys", u"顶边", QString::number(i));
            });
            ::usleep(useconds_t(2000 + (round * 7919) % 15000));
            ::kill(writer, SIGKILL);
            waitForChild(writer);
        }
    }
    QElapsedTimer clock;
    clock.start();
    QString error;
    QVERIFY2(IniFile::write(m_path, u"sys", u"左边", u"20", &error), qPrintable(error));
    // A live writer holds the lock for milliseconds; waiting out a dead one took seconds.
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(IniFile::readInteger(m_path, u"sys", u"左边", 0), 20);
}

void IniFileTest::liveWriterIsWaitedFor()
{
    const QByteArray lockFile = QFile::encodeName(m_dir.filePath(".sys.ini.lock"));
    const int fd = ::open(lockFile.constData(), O_RDWR | O_CREAT, 0666);
    QVERIFY(fd >= 0);
    QCOMPARE(::flock(fd, LOCK_EX), 0);
    // Another open of the file is another holder, as another program's would be.
    QString error;
    QVERIFY(!IniFile::write(m_path, u"sys", u"左边", u"1", &error));
    QCOMPARE(error, QString("设置文件正被另一个程序写入，请稍后再试"));
    QVERIFY(!QFile::exists(m_path));

    ::close(fd);

    // A writer that holds the lock a while is waited for.
    int ready[2];
    QVERIFY(::pipe(ready) == 0);
    const pid_t holder = startChild([&] {
        const int own = ::open(lockFile.constData(), O_RDWR);
        if (own < 0 || ::flock(own, LOCK_EX) != 0 || ::write(ready[1], "x", 1) != 1)
            return false;
        ::usleep(300 * 1000);
        return true;
    });
    char byte = 0;
    QCOMPARE(::read(ready[0], &byte, 1), ssize_t(1));
    ::close(ready[0]);
    ::close(ready[1]);
    QVERIFY2(IniFile::write(m_path, u"sys", u"左边", u"2", &error), qPrintable(error));
    QCOMPARE(waitForChild(holder), 0);
    QCOMPARE(IniFile::readInteger(m_path, u"sys", u"左边", 0), 2);
}

void IniFileTest::fullDiskGivesTheTrueReason()
{
    const QString folder = m_dir.filePath("small");
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + "/sys.ini";
    const QByteArray old = gbk::encode(u"[sys]\r\n左边=16\r\n");
    // A disk of its own, seen only by the child that mounts it and gone with it.
    const auto mountSmallDisk = [&folder] {
        return ::unshare(CLONE_NEWNS) == 0 && ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
               && ::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, "size=256k") == 0;
    };
    if (runInChild(mountSmallDisk) != 0)
        QSKIP("mounting a small disk needs root and mount namespaces");
    const int code = runInChild([&] {
        if (!mountSmallDisk())
            return false;
        writeFile(path, old);
        QFile filler(folder + "/filler");
        if (!filler.open(QIODevice::WriteOnly))
            return false;
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        QString error;
        const bool written = IniFile::write(path, u"sys", u"左边", u"20", &error);
        const bool intact = readFile(path) == old;
        if (written || !intact || error != QStringLiteral("无法写入“sys.ini”：磁盘已满")) {
            qWarning("%s", qPrintable(error));
            return false;
        }
        return true;
    });
    QCOMPARE(code, 0);
}

void IniFileTest::unreadableFileIsLeftIntact()
{
    const QByteArray old = "[sys]\n左边=16\n[姓名设置]\n字体名称=黑体\n";
    writeFile(m_path, old);
    QVERIFY(::chmod(QFile::encodeName(m_path).constData(), 0600) == 0);
    QVERIFY(::chmod(QFile::encodeName(m_dir.path()).constData(), 0777) == 0);
    // As root the file is another user's, as a run under sudo leaves it; otherwise it is
    // the test's own file with reading taken away.
    const auto write = [this] {
        QString error;
        const bool written = IniFile::write(m_path, u"sys", u"左边", u"20", &error);
        if (written || error != QStringLiteral("无法读取“sys.ini”：没有读取这个文件的权限")) {
            qWarning("%s", qPrintable(error));
            return false;
        }
        return true;
    };
    int code = 0;
    if (::geteuid() == 0) {
        code = runWithoutPrivileges(write);
    } else {
        QVERIFY(::chmod(QFile::encodeName(m_path).constData(), 0200) == 0);
        code = write() ? 0 : 1;
        QVERIFY(::chmod(QFile::encodeName(m_path).constData(), 0600) == 0);
    }
    QVERIFY(::chmod(QFile::encodeName(m_dir.path()).constData(), 0700) == 0);
    QCOMPARE(code, 0);
    QCOMPARE(readFile(m_path), old);
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(m_path).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0600u);
}

QTEST_GUILESS_MAIN(IniFileTest)
#include "tst_inifile.moc"
