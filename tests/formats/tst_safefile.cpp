// SPDX-License-Identifier: GPL-3.0-or-later
#include "formats/IniFile.h"
#include "formats/SafeFile.h"
#include "tests/support/ChildProcess.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writePlain(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// What a write leaves beside its file; the settings writers' lock file stays by design.
QStringList folderEntries(const QString& folder)
{
    QStringList entries =
        QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    entries.removeAll(QStringLiteral(".sys.ini.lock"));
    return entries;
}

// The pid of a process that has certainly ended.
qint64 endedProcess()
{
    const pid_t pid = startChild([] { return true; });
    waitForChild(pid);
    return pid;
}

} // namespace

class SafeFileTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_dir.emplace();
        QVERIFY(m_dir->isValid());
    }

    void replacesTheWholeFileKeepingItsPermissions();
    void fullDiskLeavesTheOldFile_data();
    void fullDiskLeavesTheOldFile();
    void producerFailureLeavesTheOldFile();
    void leftoversOfEndedWritersAreRemoved();
    void settingsKeysOfOneChangeAreWrittenTogether();
    void concurrentSettingsWritersKeepEveryKey();

private:
    std::optional<QTemporaryDir> m_dir;
};

void SafeFileTest::replacesTheWholeFileKeepingItsPermissions()
{
    const QString path = m_dir->filePath("background");
    QString error;
    QVERIFY(SafeFile::write(path, "first version, longer than the second", &error));
    QVERIFY(::chmod(QFile::encodeName(path).constData(), 0640) == 0);
    QVERIFY(SafeFile::write(path, "second", &error));
    QCOMPARE(readFile(path), QByteArray("second"));
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0640u);
    QCOMPARE(folderEntries(m_dir->path()), QStringList{"background"});

    // A link to a file elsewhere stays a link; the file it names is replaced.
    const QString real = m_dir->filePath("real.ini");
    writePlain(real, "old");
    QVERIFY(QFile::link(real, m_dir->filePath("sys.ini")));
    QVERIFY(SafeFile::write(m_dir->filePath("sys.ini"), "new", &error));
    QVERIFY(QFileInfo(m_dir->filePath("sys.ini")).isSymLink());
    QCOMPARE(readFile(real), QByteArray("new"));
}

void SafeFileTest::fullDiskLeavesTheOldFile_data()
{
    QTest::addColumn<bool>("throughSettings");
    QTest::newRow("whole file") << false;
    QTest::newRow("settings key") << true;
}

void SafeFileTest::fullDiskLeavesTheOldFile()
{
    QFETCH(bool, throughSettings);
    const QString path = m_dir->filePath("sys.ini");
    const QByteArray old = "[sys]\r\n左边=16\r\n";
    writePlain(path, old);
    const QString big(5000, u'x');
    const int code = runWithFullDisk(1024, [&] {
        QString error;
        const bool written = throughSettings ? IniFile::write(path, u"sys", u"WEB标题", big, &error)
                                             : SafeFile::write(path, big.toUtf8(), &error);
        // Reported, with the reason, and the reason names the file.
        return !written && error.contains(u"sys.ini") && error.contains(u"文件太大");
    });
    QCOMPARE(code, 0);
    QCOMPARE(readFile(path), old);
    QCOMPARE(folderEntries(m_dir->path()), QStringList{"sys.ini"});
}

void SafeFileTest::producerFailureLeavesTheOldFile()
{
    const QString path = m_dir->filePath("备份.mdb");
    writePlain(path, "old");
    QString error;
    const bool written = SafeFile::writeWith(
        path,
        [](const QString& temporary, QString* reason) {
            writePlain(temporary, "half");
            *reason = QStringLiteral("数据库正被其他程序使用");
            return false;
        },
        &error);
    QVERIFY(!written);
    QVERIFY2(error.contains(u"数据库正被其他程序使用"), qPrintable(error));
    QCOMPARE(readFile(path), QByteArray("old"));
    QCOMPARE(folderEntries(m_dir->path()), QStringList{"备份.mdb"});

    QVERIFY(SafeFile::writeWith(path, [](const QString& temporary, QString*) {
        writePlain(temporary, "new");
        return true;
    }));
    QCOMPARE(readFile(path), QByteArray("new"));
}

void SafeFileTest::leftoversOfEndedWritersAreRemoved()
{
    const QString path = m_dir->filePath("sys.ini");
    const QString ended = m_dir->filePath(QStringLiteral(".sys.ini.%1.abcdefgh.part").arg(endedProcess()));
    const QString running = m_dir->filePath(QStringLiteral(".sys.ini.%1.abcdefgh.part").arg(getppid()));
    const QString foreign = m_dir->filePath(".sys.ini.notours.part");
    for (const QString& file : {ended, running, foreign})
        writePlain(file, "half");
    QVERIFY(SafeFile::write(path, "[sys]\n"));
    QVERIFY(!QFile::exists(ended));
    QVERIFY(QFile::exists(running)); // another program may be writing it right now
    QVERIFY(QFile::exists(foreign));
}

void SafeFileTest::settingsKeysOfOneChangeAreWrittenTogether()
{
    const QString path = m_dir->filePath("sys.ini");
    QVERIFY(IniFile::write(
        path, u"姓名设置",
        {{"字体名称", "黑体"}, {"加粗", "真"}, {"倾斜", "假"}, {"字体大小", "16"}, {"字体颜色", "255"}}));
    QCOMPARE(readFile(path), QByteArray("[\xd0\xd5\xc3\xfb\xc9\xe8\xd6\xc3]\n"
                                        "\xd7\xd6\xcc\xe5\xc3\xfb\xb3\xc6=\xba\xda\xcc\xe5\n"
                                        "\xbc\xd3\xb4\xd6=\xd5\xe6\n"
                                        "\xc7\xe3\xd0\xb1=\xbc\xd9\n"
                                        "\xd7\xd6\xcc\xe5\xb4\xf3\xd0\xa1=16\n"
                                        "\xd7\xd6\xcc\xe5\xd1\xd5\xc9\xab=255\n"));
    // Rewritten in place, the keys keep their lines.
    QVERIFY(IniFile::write(path, u"姓名设置", {{"字体大小", "20"}, {"字体名称", "宋体"}}));
    QCOMPARE(IniFile::read(path, u"姓名设置", u"字体大小"), QString("20"));
    QCOMPARE(IniFile::read(path, u"姓名设置", u"字体名称"), QString("宋体"));
    QCOMPARE(readFile(path).count('\n'), 6);
}

void SafeFileTest::concurrentSettingsWritersKeepEveryKey()
{
    const QString path = m_dir->filePath("sys.ini");
    constexpr int writers = 4, keys = 15;
    std::vector<pid_t> children;
    for (int w = 0; w < writers; ++w) {
        children.push_back(startChild([&path, w] {
            for (int k = 0; k < keys; ++k) {
                if (!IniFile::write(path, u"sys", QStringLiteral("键%1_%2").arg(w).arg(k),
                                    QString::number(k)))
                    return false;
            }
            return true;
        }));
    }
    for (pid_t child : children)
        QCOMPARE(waitForChild(child), 0);
    for (int w = 0; w < writers; ++w) {
        for (int k = 0; k < keys; ++k)
            QCOMPARE(IniFile::read(path, u"sys", QStringLiteral("键%1_%2").arg(w).arg(k)),
                     QString::number(k));
    }
    QCOMPARE(folderEntries(m_dir->path()), QStringList{"sys.ini"});
}

QTEST_GUILESS_MAIN(SafeFileTest)
#include "tst_safefile.moc"
