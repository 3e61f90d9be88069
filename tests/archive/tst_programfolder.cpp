// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/DatabaseConnection.h"
#include "archive/ProgramFolder.h"
#include "archive/ProgramFolderSetup.h"
#include "archive/Recordset.h"
#include "archive/StudentTable.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestFolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

void writeFile(const QString& path, const QByteArray& bytes, mode_t mode = 0644)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    file.close();
    chmod(QFile::encodeName(path).constData(), mode);
}

void setMode(const QString& path, mode_t mode) { chmod(QFile::encodeName(path).constData(), mode); }

// An installed program folder, as `cmake --install` lays it out under /opt.
struct Installed {
    QTemporaryDir root;
    QString folder = root.path() + QStringLiteral("/opt/qinghe");
    QString home = root.path() + QStringLiteral("/home");

    Installed()
    {
        QDir().mkpath(ProgramFolder::databaseFolder(folder));
        StudentTable::createDatabaseFile(ProgramFolder::databaseFile(folder));
        writeFile(folder + "/DB/login.asp", "<% ' login %>");
        writeFile(folder + "/DB/asp", "#!/bin/sh\n", 0755);
        writeFile(folder + "/照片/示例.jpg", "jpeg");
        writeFile(folder + "/qinghe", "program", 0755);
        QDir().mkpath(home);
        setMode(root.path(), 0755);
        setMode(home, 0777);
    }
    // The folder as root leaves it: nobody else may write there.
    void protect() const
    {
        for (const QString& dir : {root.path() + "/opt", folder, folder + "/DB", folder + "/照片"})
            setMode(dir, 0555);
    }
    void release() const
    {
        for (const QString& dir : {root.path() + "/opt", folder, folder + "/DB", folder + "/照片"})
            setMode(dir, 0755);
    }
    QString user() const { return home + QStringLiteral("/.local/share/qinghe"); }
};

// The class list of the archive in `folder`, read or (with `add`) first added to.
int classCount(const QString& folder, const QString& add = {})
{
    DatabaseConnection connection;
    Recordset classes;
    connection.openDatabaseFile(ProgramFolder::databaseFile(folder));
    classes.attach(connection);
    classes.open(StudentTable::selectClasses);
    if (!add.isEmpty()) {
        classes.addNew();
        classes.writeText(u"单位", add);
        if (connection.isReadOnly() || !classes.update())
            return -1;
    }
    return classes.recordCount();
}

} // namespace

class ProgramFolderTest : public QObject {
    Q_OBJECT

private slots:
    void overrideWinsAndSlashesGo();
    void writableFolderIsTheProgramFolder();
    void readOnlyInstallationUsesTheUserFolder();
    void userFolderThatCannotBeMadeLeavesTheInstalledOne();
    void installationNeverHoldsTheArchive();
};

void ProgramFolderTest::overrideWinsAndSlashesGo()
{
    Installed installed;
    QCOMPARE(ProgramFolder::choose("/srv/archive-2026/", installed.folder, installed.user()),
             QString("/srv/archive-2026"));
    QVERIFY(!QFile::exists(installed.user()));
}

void ProgramFolderTest::writableFolderIsTheProgramFolder()
{
    Installed installed;
    QCOMPARE(ProgramFolder::choose({}, installed.folder + "/", installed.user()), installed.folder);
    QVERIFY(!QFile::exists(installed.user()));
}

void ProgramFolderTest::readOnlyInstallationUsesTheUserFolder()
{
    Installed installed;
    installed.protect();
    const QString user = installed.user();
    const QByteArray database = fileBytes(ProgramFolder::databaseFile(installed.folder));

    // The archive can be written where it now lives.
    const int firstStart = runWithoutPrivileges([&] {
        return ProgramFolder::choose({}, installed.folder, user) == user && classCount(user, "七(1)班") == 1;
    });
    QCOMPARE(firstStart, 0);
    QCOMPARE(fileBytes(ProgramFolder::databaseFile(installed.folder)), database);
    QCOMPARE(fileBytes(user + "/DB/login.asp"), QByteArray("<% ' login %>"));
    QCOMPARE(fileBytes(user + "/照片/示例.jpg"), QByteArray("jpeg"));
    QVERIFY(!QFile::exists(user + "/DB/asp"));
    QVERIFY(!QFile::exists(user + "/qinghe"));

    // A newer installation brings a changed page and a new one: only the new one is added.
    installed.release();
    writeFile(installed.folder + "/DB/login.asp", "<% ' newer %>");
    writeFile(installed.folder + "/DB/show.asp", "<% ' show %>");
    installed.protect();
    const int secondStart = runWithoutPrivileges(
        [&] { return ProgramFolder::choose({}, installed.folder, user) == user && classCount(user) == 1; });
    QCOMPARE(secondStart, 0);
    QCOMPARE(fileBytes(user + "/DB/login.asp"), QByteArray("<% ' login %>"));
    QCOMPARE(fileBytes(user + "/DB/show.asp"), QByteArray("<% ' show %>"));
    installed.release();
}

void ProgramFolderTest::userFolderThatCannotBeMadeLeavesTheInstalledOne()
{
    Installed installed;
    installed.protect();
    setMode(installed.home, 0555);
    const int result = runWithoutPrivileges(
        [&] { return ProgramFolder::choose({}, installed.folder, installed.user()) == installed.folder; });
    setMode(installed.home, 0777);
    installed.release();
    QCOMPARE(result, 0);
}

// An installation's share/qinghe: the site's pages and no archive. Even a user who may write
// there (root, or an installation in the user's home) gets an archive of their own, made at
// the first start.
void ProgramFolderTest::installationNeverHoldsTheArchive()
{
    QTemporaryDir root;
    const QString shared = root.filePath("usr/share/qinghe");
    const QString user = root.filePath("home/.local/share/qinghe");
    writeFile(shared + "/DB/login.asp", "<% ' login %>");

    QCOMPARE(ProgramFolder::choose({}, shared, user, ProgramFolder::Installation::Shared), user);
    QCOMPARE(classCount(user, "七(1)班"), 1);
    QCOMPARE(fileBytes(user + "/DB/login.asp"), QByteArray("<% ' login %>"));
    QVERIFY(QFileInfo(ProgramFolder::photoFolder(user)).isDir());
    QCOMPARE(QDir(shared + "/DB").entryList(QDir::Files | QDir::Hidden), QStringList{"login.asp"});

    // The next start keeps the user's students.
    QCOMPARE(ProgramFolder::choose({}, shared, user, ProgramFolder::Installation::Shared), user);
    QCOMPARE(classCount(user), 1);
}

QTEST_GUILESS_MAIN(ProgramFolderTest)
#include "tst_programfolder.moc"
