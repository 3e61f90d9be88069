// SPDX-License-Identifier: GPL-3.0-or-later
// Photos cut to the authorities' standards and a photographer's folder brought into a class,
// on real portraits, a real archive file and the face finder itself measuring the results.
#include "archive/DatabaseConnection.h"
#include "archive/Recordset.h"
#include "archive/StudentTable.h"
#include "formats/IniFile.h"
#include "formats/graphics/Picture.h"
#include "records/FaceFinder.h"
#include "records/Head.h"
#include "records/PhotoFolderImport.h"
#include "records/PhotoFraming.h"
#include "records/PhotoStandard.h"
#include "records/StandardExport.h"
#include "tests/support/FacePicture.h"
#include "tests/support/TestFolder.h"

#include <QDir>
#include <QTest>

namespace {

// A camera portrait: her face a fifth of the width, as a photographer frames a pupil.
QImage cameraPortrait(bool patterned = false)
{
    return FacePicture::portrait(QSize(960, 1280), 300, QPointF(480, 560), patterned);
}

// A photo as the archive holds it after the entry station or an import framed it.
QByteArray storedPortrait(FaceFinder& finder, bool patterned = false)
{
    return PhotoFraming::jpeg(PhotoFraming::forArchive(finder, cameraPortrait(patterned)), 90);
}

QString bandText(const PhotoStandard::Band& b) { return QStringLiteral("%1–%2").arg(b.low).arg(b.high); }

} // namespace

class PhotoStandardsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void standardTexts_data();
    void standardTexts();
    void settingsChangeAndAddStandards();
    void exportMeetsTheStandard_data();
    void exportMeetsTheStandard();
    void unfitPhotosAreReportedNotWritten_data();
    void unfitPhotosAreReportedNotWritten();
    void fileNames();
    void folderImport();

private:
    FaceFinder m_finder;
};

void PhotoStandardsTest::initTestCase()
{
    QVERIFY2(m_finder.usable(), qPrintable(FaceFinder::defaultCascadeFile()));
}

void PhotoStandardsTest::standardTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("error"); // a word of the reason; empty when it is a standard

    QTest::newRow("bands") << "480×640 300dpi 20-40KB 头顶50-110 眼睛200-300 脸宽180-300"
                           << "";
    QTest::newRow("share, x and upper case") << "295X413 300DPI 0-100kb 头高2/3"
                                             << "";
    QTest::newRow("only a largest size") << "295x413 300dpi 100KB 头高0.7"
                                         << "";
    QTest::newRow("no size") << "300dpi 0-100KB 头高2/3"
                             << "像素";
    QTest::newRow("no dpi") << "295×413 0-100KB 头高2/3"
                            << "分辨率";
    QTest::newRow("sizes upside down") << "295×413 300dpi 50-10KB 头高2/3"
                                       << "文件大小";
    QTest::newRow("a band missing") << "480×640 300dpi 20-40KB 头顶50-110 眼睛200-300"
                                    << "头部位置";
    QTest::newRow("share and bands") << "480×640 300dpi 20-40KB 头高2/3 头顶50-110 眼睛200-300 脸宽180-300"
                                     << "头部位置";
    QTest::newRow("band upside down") << "480×640 300dpi 20-40KB 头顶110-50 眼睛200-300 脸宽180-300"
                                      << "从大到小";
    QTest::newRow("unknown word") << "480×640 300dpi 20-40KB 头高2/3 彩色"
                                  << "彩色";
}

void PhotoStandardsTest::standardTexts()
{
    QFETCH(QString, text);
    QFETCH(QString, error);
    QString reason;
    const std::optional<PhotoStandard> s = PhotoStandard::parse(QStringLiteral("试"), text, &reason);
    if (!error.isEmpty()) {
        QVERIFY(!s);
        QVERIFY2(reason.contains(error), qPrintable(reason));
        return;
    }
    QVERIFY2(s, qPrintable(reason));
    // What is written back reads as the same standard.
    const std::optional<PhotoStandard> again = PhotoStandard::parse(s->name, s->text());
    QVERIFY(again);
    QCOMPARE(again->text(), s->text());
    QCOMPARE(again->placement().faceWidth.low, s->placement().faceWidth.low);
}

void PhotoStandardsTest::settingsChangeAndAddStandards()
{
    TestFolder folder;
    const QString ini = folder.settingsFile();
    QCOMPARE(PhotoStandards::load(ini).size(), 4);
    QVERIFY(IniFile::write(ini, PhotoStandards::section,
                           {{QStringLiteral("一寸"), QStringLiteral("300×420 300dpi 10-90KB 头高0.6")},
                            {QStringLiteral("护照"), QStringLiteral("390×567 300dpi 0-120KB 头高0.7")},
                            {QStringLiteral("坏的"), QStringLiteral("390 300dpi")}}));
    QStringList problems;
    const QList<PhotoStandard> standards = PhotoStandards::load(ini, &problems);
    QStringList names;
    for (const PhotoStandard& s : standards)
        names << s.name;
    QCOMPARE(names, QStringList({"学籍", "毕业", "一寸", "二寸", "护照"}));
    QCOMPARE(standards[2].pixels, QSize(300, 420));
    QCOMPARE(standards[2].smallestKB, 10);
    QCOMPARE(problems.size(), 1);
    QVERIFY2(problems.first().contains(u"坏的"), qPrintable(problems.first()));
    QString error;
    QVERIFY(!PhotoStandards::find(ini, QStringLiteral("坏的"), &error));
    QVERIFY2(error.contains(u"390"), qPrintable(error));
    QVERIFY(!PhotoStandards::find(ini, QStringLiteral("三寸"), &error));
    QVERIFY2(error.contains(u"护照"), qPrintable(error)); // the ones there are
}

void PhotoStandardsTest::exportMeetsTheStandard_data()
{
    QTest::addColumn<QString>("standard");
    for (const PhotoStandard& s : PhotoStandards::defaults())
        QTest::newRow(qPrintable(s.name)) << s.name;
}

void PhotoStandardsTest::exportMeetsTheStandard()
{
    QFETCH(QString, standard);
    TestFolder folder;
    const QByteArray photo = storedPortrait(m_finder);
    folder.addStudents({{"张三", "七(1)班", "2024001", photo},
                        {"李四", "七(1)班", "2024002", photo},
                        {"王五", "七(2)班", "2024003", photo}});
    DatabaseConnection database;
    QVERIFY(StudentTable::openArchive(database, folder.databaseFile()));
    StandardExport::Request request;
    request.className = QStringLiteral("七(1)班");
    request.folder = folder.path() + QStringLiteral("/上传");
    request.standard = *PhotoStandards::find(folder.settingsFile(), standard, nullptr);
    const StandardExport::Report report = StandardExport::run(database, request);
    QVERIFY2(report.leftOut.isEmpty(), qPrintable(report.leftOut.value(0).reasons.join(u';')));
    QCOMPARE(QDir(request.folder).entryList(QDir::Files), QStringList({"2024001.jpg", "2024002.jpg"}));

    const PhotoStandard& s = request.standard;
    const PhotoStandard::Placement bands = s.placement();
    const QByteArray written = fileBytes(request.folder + QStringLiteral("/2024001.jpg"));
    QVERIFY2(written.size() >= s.smallestBytes() && written.size() <= s.largestBytes(),
             qPrintable(QString::number(written.size())));
    QCOMPARE(FacePicture::jfifDensity(written), QSize(s.dpi, s.dpi));
    const QImage picture = QImage::fromData(written);
    QCOMPARE(picture.size(), s.pixels);
    // The finder, looking again at the written file, sees the head where the standard asks.
    const std::optional<QRect> face = PhotoFraming::findFace(m_finder, picture);
    QVERIFY(face);
    const Head head = Head::of(*face);
    const QString seen = QStringLiteral("hair %1 (%2), eyes %3 (%4), face %5 (%6)")
                             .arg(head.hairTop())
                             .arg(bandText(bands.hairTop))
                             .arg(head.eyes)
                             .arg(bandText(bands.eyes))
                             .arg(head.faceWidth)
                             .arg(bandText(bands.faceWidth));
    QVERIFY2(bands.hairTop.contains(head.hairTop()), qPrintable(seen));
    QVERIFY2(bands.eyes.contains(head.eyes), qPrintable(seen));
    QVERIFY2(bands.faceWidth.contains(head.faceWidth), qPrintable(seen));
    QVERIFY2(qAbs(head.centreX - s.pixels.width() / 2.0) < s.pixels.width() * 0.05, qPrintable(seen));
}

void PhotoStandardsTest::unfitPhotosAreReportedNotWritten_data()
{
    QTest::addColumn<QByteArray>("photo");
    QTest::addColumn<QString>("reason");
    QTest::newRow("no face") << fileBytes(FacePicture::file("coffee.png")) << "没有找到人脸";
    for (const auto& [face, reason] : {std::pair{70, "脸太小"}, std::pair{330, "脸太大"}})
        QTest::addRow("face of %d pixels", face) << PhotoFraming::jpeg(
            FacePicture::portrait(PhotoFraming::archivePhotoSize, face, QPointF(212, 236)), 90)
                                                 << reason;
    QTest::newRow("patterned background") << storedPortrait(m_finder, true) << "背景不是纯色";
    QTest::newRow("damaged") << QByteArray("\xff\xd8\xff\xe0 not a picture") << "无法读取";
    QTest::newRow("no photo") << QByteArray() << "没有照片";
}

void PhotoStandardsTest::unfitPhotosAreReportedNotWritten()
{
    QFETCH(QByteArray, photo);
    QFETCH(QString, reason);
    TestFolder folder;
    folder.addStudents({{"张三", "七(1)班", "2024001", photo}});
    DatabaseConnection database;
    QVERIFY(StudentTable::openArchive(database, folder.databaseFile()));
    StandardExport::Request request;
    request.className = QStringLiteral("七(1)班");
    request.folder = folder.path() + QStringLiteral("/上传");
    request.standard = PhotoStandards::defaults().at(1); // 毕业
    StandardExport::Report report = StandardExport::run(database, request);
    QCOMPARE(report.written.size(), 0);
    QCOMPARE(report.leftOut.size(), 1);
    QVERIFY2(report.leftOut.first().reasons.join(u';').contains(reason),
             qPrintable(report.leftOut.first().reasons.join(u';')));
    QVERIFY(!QFile::exists(request.folder + QStringLiteral("/2024001.jpg")));

    // Forced, whatever can be made of a picture is written, the reason still said.
    request.force = true;
    report = StandardExport::run(database, request);
    const bool picture = !Picture::decode(photo).isNull();
    QCOMPARE(report.written.size(), picture ? 1 : 0);
    if (picture) {
        QVERIFY(report.written.first().reasons.join(u';').contains(reason));
        const QImage forced(request.folder + QStringLiteral("/2024001.jpg"));
        QCOMPARE(forced.size(), request.standard.pixels);
    }
}

void PhotoStandardsTest::fileNames()
{
    QStringList taken;
    QCOMPARE(StandardExport::fileName("七(1)班", "张三", "2024001", taken), QString("2024001.jpg"));
    QCOMPARE(StandardExport::fileName("七(1)班", "李四", "2024001", taken), QString("2024001-2.jpg"));
    QCOMPARE(StandardExport::fileName("七(1)班", "王五", "", taken), QString("七(1)班王五.jpg"));
    QCOMPARE(StandardExport::fileName("七(1)班", "王五", " ", taken), QString("七(1)班王五-2.jpg"));
    QCOMPARE(StandardExport::fileName("七/1班", "赵六", "", taken), QString("七_1班赵六.jpg"));
    QCOMPARE(StandardExport::fileName("七(1)班", "钱七", "../x", taken), QString(".._x.jpg"));
}

void PhotoStandardsTest::folderImport()
{
    TestFolder folder;
    const QByteArray oldPhoto = jpegBytes(425, 525);
    const QList<int> ids = folder.addStudents({
        {"张三", "七(1)班", "2024001", {}},
        {"李四", "七(1)班", "2024002", {}},
        {"王五", "七(1)班", "2024003", {}},
        {"赵六", "七(1)班", "2024004", {}},
        {"赵六", "七(1)班", "2024005", {}},
        {"孙七", "七(1)班", "2024006", oldPhoto},
        {"周八", "七(1)班", "2024007", {}},
        {"李四", "七(2)班", "2025002", {}}, // same name, other class
    });
    const QString dir = folder.path() + QStringLiteral("/摄影师");
    QDir().mkpath(dir);
    const QByteArray portrait = PhotoFraming::jpeg(cameraPortrait(), 90);
    writeTestFile(dir + QStringLiteral("/2024001.jpg"), portrait); // by number
    writeTestFile(dir + QStringLiteral("/李四.JPG"), portrait);    // by name
    writeTestFile(dir + QStringLiteral("/王五.jpg"), FacePicture::sidewaysJpeg(cameraPortrait())); // turned
    writeTestFile(dir + QStringLiteral("/赵六.jpg"), portrait);   // two 赵六
    writeTestFile(dir + QStringLiteral("/孙七.jpg"), portrait);   // has one
    writeTestFile(dir + QStringLiteral("/张三.jpg"), portrait);   // 2024001 again
    writeTestFile(dir + QStringLiteral("/陌生人.jpg"), portrait); // nobody
    writeTestFile(dir + QStringLiteral("/2024007.png"), fileBytes(FacePicture::file("coffee.png")));
    writeTestFile(dir + QStringLiteral("/说明.txt"), "not a picture");

    DatabaseConnection database;
    QVERIFY(StudentTable::openArchive(database, folder.databaseFile()));
    PhotoFolderImport::Plan plan = PhotoFolderImport::plan(database, dir, QStringLiteral("七(1)班"), false);
    QVERIFY2(plan.error.isEmpty(), qPrintable(plan.error));
    QStringList stored;
    for (const auto& m : plan.toStore)
        stored << m.file + u'>' + m.name;
    QCOMPARE(stored, QStringList({"2024001.jpg>张三", "李四.JPG>李四", "王五.jpg>王五"}));
    QCOMPARE(plan.kept.size(), 1);
    QCOMPARE(plan.kept.first().name, QString("孙七"));
    QCOMPARE(plan.unmatched, QStringList({"陌生人.jpg"}));
    QStringList refused;
    for (const auto& r : plan.refused)
        refused << r.file;
    QCOMPARE(refused, QStringList({"2024007.png", "张三.jpg", "赵六.jpg"}));
    QCOMPARE(plan.stillWithout, QStringList({"赵六（2024004）", "赵六（2024005）", "周八（2024007）"}));

    // Nothing is written until the plan is stored; then every photo is, in the archive's size.
    QCOMPARE(folder.storedColumn(u"编号").size(), 8);
    QString error;
    QCOMPARE(PhotoFolderImport::store(database, plan, &error), 3);
    Recordset records;
    records.attach(database);
    for (const int id : {ids[0], ids[1], ids[2]}) {
        QVERIFY(records.open(StudentTable::selectId(id)));
        const QImage photo = Picture::decode(records.readBytes(u"照片"));
        QCOMPARE(photo.size(), PhotoFraming::archivePhotoSize);
        // Upright, framed as the entry station frames: the face found, centred, eyes at 45 %.
        const std::optional<QRect> face = PhotoFraming::findFace(m_finder, photo);
        QVERIFY2(face, qPrintable(records.readText(u"姓名")));
        const Head head = Head::of(*face);
        QVERIFY2(qAbs(head.centreX - 212.5) < 15 && qAbs(head.eyes - 236) < 20,
                 qPrintable(QStringLiteral("%1: %2, %3")
                                .arg(records.readText(u"姓名"))
                                .arg(head.centreX)
                                .arg(head.eyes)));
    }
    QVERIFY(records.open(StudentTable::selectId(ids[5])));
    QCOMPARE(records.readBytes(u"照片"), oldPhoto);
    QVERIFY(records.open(StudentTable::selectId(ids[7])));
    QVERIFY(records.fieldIsEmpty(u"照片"));

    // Replacing: 孙七 gets the new photo.
    plan = PhotoFolderImport::plan(database, dir, QStringLiteral("七(1)班"), true);
    QVERIFY(plan.kept.isEmpty());
    QCOMPARE(PhotoFolderImport::store(database, plan, &error), 4); // 张三, 李四, 王五 again, and 孙七
    QVERIFY(records.open(StudentTable::selectId(ids[5])));
    QVERIFY(records.readBytes(u"照片") != oldPhoto);
}

QTEST_MAIN(PhotoStandardsTest)
#include "tst_photostandards.moc"
