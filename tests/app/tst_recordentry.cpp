// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/MainWindow.h"
#include "archive/DatabaseConnection.h"
#include "archive/Recordset.h"
#include "archive/StudentTable.h"
#include "formats/IniFile.h"
#include "tests/support/Controls.h"
#include "tests/support/FacePicture.h"
#include "tests/support/TestFolder.h"
#include "tests/support/TestServices.h"
#include "widgets/Canvas.h"
#include "widgets/VideoDevice.h"

#include <QCameraDevice>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMediaDevices>
#include <QPainter>
#include <QPushButton>
#include <QScopeGuard>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>

#include <functional>
#include <memory>

namespace {

struct Stored {
    QString name;
    QString className;
    QString number;
    QByteArray photo;
};

QList<Stored> storedStudents(const TestFolder& folder)
{
    DatabaseConnection connection;
    connection.openDatabaseFile(folder.databaseFile());
    Recordset students;
    students.attach(connection);
    students.open(StudentTable::selectAll);
    QList<Stored> list;
    for (int i = 0, n = students.recordCount(); i < n; ++i) {
        list.append({students.readText(u"姓名"), students.readText(u"班级"), students.readText(u"编号"),
                     students.readBytes(u"照片")});
        students.moveNext();
    }
    return list;
}

bool near(QRgb a, QRgb b)
{
    return qAbs(qRed(a) - qRed(b)) < 40 && qAbs(qGreen(a) - qGreen(b)) < 40 && qAbs(qBlue(a) - qBlue(b)) < 40;
}

// The main window of a fresh program folder with two classes, shown so it takes the mouse.
struct Station {
    TestFolder folder;
    TestServices services;
    std::unique_ptr<MainWindow> window;

    // `prepare` sets up the folder before the window opens.
    explicit Station(const std::function<void(const TestFolder&)>& prepare = {})
    {
        folder.addClasses({"七(1)班", "七(2)班"});
        if (prepare)
            prepare(folder);
        window = std::make_unique<MainWindow>(services.context);
        window->show();
    }

    QLineEdit* name() const { return control<QLineEdit>(*window, "编辑框1"); }
    QComboBox* className() const { return control<QComboBox>(*window, "编辑框2"); }
    QTableWidget* roster() const { return control<QTableWidget>(*window, "数据列表框"); }
    QCheckBox* tableInput() const { return control<QCheckBox>(*window, "表"); }
    Canvas* captureCanvas() const { return control<Canvas>(*window, "画板1"); }
    void save() const { control<QPushButton>(*window, "按钮2")->click(); }
    ShownDialog lastMessage() const { return services.dialogs.last(); }

    void fillRoster(const QList<QStringList>& rows) const
    {
        roster()->setRowCount(int(rows.size()));
        for (int r = 0; r < rows.size(); ++r)
            for (int c = 0; c < 3; ++c)
                roster()->setItem(r, c, new QTableWidgetItem(rows[r][c]));
    }
    QStringList rosterNames() const
    {
        QStringList names;
        for (int r = 0; r < roster()->rowCount(); ++r)
            names << roster()->item(r, 1)->text();
        return names;
    }
    QStringList form() const { return {name()->text(), className()->currentText()}; }
};

QRect shownFrame(const Station& s) { return FacePicture::shownFrame(*s.window); }

// Sets the stand-in camera picture for the stations made while the guard lives.
auto standInCamera(const QString& path)
{
    const QByteArray previous = qgetenv("QINGHE_CAMERA_IMAGE");
    qputenv("QINGHE_CAMERA_IMAGE", path.toUtf8());
    return qScopeGuard([previous] { qputenv("QINGHE_CAMERA_IMAGE", previous); });
}

const QList<QStringList> threeStudents{
    {"七(1)班", "王一", "2024001"}, {"七(1)班", "王二", "2024002"}, {"七(2)班", "王三", "2024003"}};

} // namespace

class RecordEntryTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void typedSaveStoresTheCropWithAnEmptyNumber();
    void secondSaveNeedsANewCrop();
    void refusedWithoutNameOrClass_data();
    void refusedWithoutNameOrClass();
    void switchingInputModeEmptiesTheForm();
    void selectedRosterRowFillsTheForm();
    void rosterSaveAdvances_data();
    void rosterSaveAdvances();
    void typedEntryKeepsTheRosterNumber();
    void refusedWriteKeepsTheForm_data();
    void refusedWriteKeepsTheForm();
    void grabbedFrameReplacesThePicture();
    void grabWithoutPictureGivesNoPhoto();
    void entryPhotoFollowsTheMouseAndDiesWithTheWindow();
    void autoFramingSetting_data();
    void autoFramingSetting();
    void framedFaceIsSavedAtPrintSize();
    void noFaceIsSaidInTheStatusLine();
    void noCameraIsSaid();
    void standInCameraIsShownUnsqueezed();

private:
    QTemporaryDir m_pictures;
    QString m_cameraImage;
};

void RecordEntryTest::initTestCase()
{
    // Red on the left half, blue on the right: the stand-in camera, so that no real camera
    // of the machine running the tests is ever switched on.
    QImage picture(720, 500, QImage::Format_RGB32);
    picture.fill(Qt::red);
    QPainter(&picture).fillRect(360, 0, 360, 500, Qt::blue);
    m_cameraImage = m_pictures.filePath("camera.png");
    QVERIFY(picture.save(m_cameraImage));
    qputenv("QINGHE_CAMERA_IMAGE", m_cameraImage.toUtf8());
}

void RecordEntryTest::typedSaveStoresTheCropWithAnEmptyNumber()
{
    Station s;
    const QByteArray photo = s.services.context.entryPhoto();
    QCOMPARE(QImage::fromData(photo, "JPEG").size(), QSize(170, 210));

    s.name()->setText("张三");
    s.save();
    QCOMPARE(s.lastMessage().text, QString("保存成功"));
    QCOMPARE(s.lastMessage().title, QString("文件信息"));
    const QList<Stored> stored = storedStudents(s.folder);
    QCOMPARE(stored.size(), 1);
    QCOMPARE(stored[0].name, QString("张三"));
    QCOMPARE(stored[0].className, QString("七(1)班"));
    QCOMPARE(stored[0].number, QString());
    QCOMPARE(stored[0].photo, photo);
    QCOMPARE(QImage::fromData(stored[0].photo, "JPEG").size(), QSize(170, 210));

    // Ready for the next student of the class, and without the photo just saved.
    QCOMPARE(s.form(), QStringList({"", "七(1)班"}));
    QVERIFY(s.services.context.entryPhoto().isEmpty());
    QVERIFY(control<QLabel>(*s.window, "图片框1")->pixmap().isNull());
}

void RecordEntryTest::secondSaveNeedsANewCrop()
{
    Station s;
    s.name()->setText("张三");
    s.save();
    s.name()->setText("李四");
    s.save();
    QCOMPARE(s.lastMessage().text, QString("对不起，你还没有录入头像！"));
    QCOMPARE(s.lastMessage().title, QString("错误信息"));
    QCOMPARE(storedStudents(s.folder).size(), 1);
    QCOMPARE(s.name()->text(), QString("李四"));

    QTest::mouseClick(s.captureCanvas(), Qt::LeftButton, {}, QPoint(200, 150));
    s.save();
    QCOMPARE(s.lastMessage().text, QString("保存成功"));
    const QList<Stored> stored = storedStudents(s.folder);
    QCOMPARE(stored.size(), 2);
    QCOMPARE(stored[1].name, QString("李四"));
    QVERIFY(!stored[1].photo.isEmpty());
}

void RecordEntryTest::refusedWithoutNameOrClass_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::newRow("no name") << ""
                             << "七(1)班";
    QTest::newRow("no class") << "张三"
                              << "";
    QTest::newRow("neither") << ""
                             << "";
}

void RecordEntryTest::refusedWithoutNameOrClass()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    Station s;
    const QByteArray photo = s.services.context.entryPhoto();
    s.name()->setText(name);
    s.className()->setEditText(className);
    s.save();
    QCOMPARE(s.services.dialogs.messages(), QStringList({"对不起，姓名或班级为空，不能保存"}));
    QCOMPARE(s.lastMessage().title, QString("错误信息"));
    QVERIFY(storedStudents(s.folder).isEmpty());
    QCOMPARE(s.form(), QStringList({name, className}));
    QCOMPARE(s.services.context.entryPhoto(), photo);
}

void RecordEntryTest::switchingInputModeEmptiesTheForm()
{
    Station s;
    QVERIFY(!s.tableInput()->isChecked());
    s.name()->setText("李四");
    s.className()->setEditText("七(2)班");

    s.tableInput()->click();
    QCOMPARE(s.form(), QStringList({"", ""}));
    QVERIFY(s.roster()->isEnabled());
    QVERIFY(!s.className()->isEnabled());
    QVERIFY(s.name()->isReadOnly());

    s.fillRoster(threeStudents);
    s.roster()->setCurrentCell(1, 0);
    QCOMPARE(s.form(), QStringList({"王二", "七(1)班"}));
    s.tableInput()->click();
    QCOMPARE(s.form(), QStringList({"", ""}));
    QVERIFY(!s.roster()->isEnabled());
    QVERIFY(s.className()->isEnabled());
    QVERIFY(!s.name()->isReadOnly());
}

void RecordEntryTest::selectedRosterRowFillsTheForm()
{
    Station s;
    s.tableInput()->click();
    s.fillRoster(threeStudents);
    s.roster()->setCurrentCell(2, 1);
    QCOMPARE(s.form(), QStringList({"王三", "七(2)班"}));
    s.roster()->setCurrentCell(0, 2);
    QCOMPARE(s.form(), QStringList({"王一", "七(1)班"}));
    s.roster()->setCurrentCell(-1, 0); // no row: the form stays
    QCOMPARE(s.form(), QStringList({"王一", "七(1)班"}));
    s.save();
    QCOMPARE(storedStudents(s.folder).value(0).number, QString("2024001"));
}

void RecordEntryTest::rosterSaveAdvances_data()
{
    QTest::addColumn<QList<QStringList>>("rows");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QStringList>("remaining");
    QTest::addColumn<int>("current");
    QTest::addColumn<QStringList>("form");

    QTest::newRow("a middle row: the next student follows")
        << threeStudents << 1 << QStringList{"王一", "王三"} << 1 << QStringList{"王三", "七(2)班"};
    QTest::newRow("the last row: back to the first")
        << threeStudents << 2 << QStringList{"王一", "王二"} << 0 << QStringList{"王一", "七(1)班"};
    QTest::newRow("the only row: nothing left")
        << QList<QStringList>{threeStudents[1]} << 0 << QStringList{} << -1 << QStringList{"", ""};
}

void RecordEntryTest::rosterSaveAdvances()
{
    QFETCH(QList<QStringList>, rows);
    QFETCH(int, selected);
    QFETCH(QStringList, remaining);
    QFETCH(int, current);
    QFETCH(QStringList, form);

    Station s;
    s.tableInput()->click();
    s.fillRoster(rows);
    s.roster()->setCurrentCell(selected, 0);
    s.save();

    QCOMPARE(s.services.dialogs.messages(), QStringList({"保存成功"}));
    const QList<Stored> stored = storedStudents(s.folder);
    QCOMPARE(stored.size(), 1);
    QCOMPARE((QStringList{stored[0].className, stored[0].name, stored[0].number}), rows[selected]);
    QCOMPARE(s.rosterNames(), remaining);
    QCOMPARE(s.roster()->currentRow(), current);
    QCOMPARE(s.form(), form);
    QVERIFY(s.services.context.entryPhoto().isEmpty());

    // The next save stores the student now in the form, with that student's number.
    if (current >= 0) {
        QTest::mouseClick(s.captureCanvas(), Qt::LeftButton, {}, QPoint(180, 125));
        s.save();
        const Stored next = storedStudents(s.folder).value(1);
        QCOMPARE((QStringList{next.className, next.name, next.number}), rows[selected == 2 ? 0 : 2]);
    }
}

void RecordEntryTest::typedEntryKeepsTheRosterNumber()
{
    Station s;
    s.tableInput()->click();
    s.fillRoster(threeStudents);
    s.roster()->setCurrentCell(2, 0);
    s.tableInput()->click();
    s.name()->setText("赵六");
    s.className()->setEditText("七(1)班");
    s.save();
    const Stored stored = storedStudents(s.folder).value(0);
    QCOMPARE(stored.name, QString("赵六"));
    QCOMPARE(stored.number, QString("2024003"));
    QCOMPARE(s.rosterNames().size(), 3); // typed entry leaves the roster alone
}

void RecordEntryTest::refusedWriteKeepsTheForm_data()
{
    QTest::addColumn<bool>("fromRoster");
    QTest::newRow("typed") << false;
    QTest::newRow("roster") << true;
}

void RecordEntryTest::refusedWriteKeepsTheForm()
{
    QFETCH(bool, fromRoster);
    Station s;
    if (fromRoster) {
        s.tableInput()->click();
        s.fillRoster(threeStudents);
        s.roster()->setCurrentCell(1, 0);
    } else {
        s.name()->setText("张三");
    }
    const QStringList form = s.form();
    const QByteArray photo = s.services.context.entryPhoto();
    s.folder.execute("CREATE TRIGGER 拒绝 BEFORE INSERT ON 学生 BEGIN SELECT RAISE(ABORT, '磁盘已满'); END");

    s.save();
    QCOMPARE(s.services.dialogs.messages().size(), 1);
    QVERIFY2(s.lastMessage().text.startsWith("保存失败：") && s.lastMessage().text.contains("磁盘已满"),
             qPrintable(s.lastMessage().text));
    QCOMPARE(s.lastMessage().title, QString("错误信息"));
    QVERIFY(storedStudents(s.folder).isEmpty());
    QCOMPARE(s.form(), form);
    QCOMPARE(s.services.context.entryPhoto(), photo);
    QCOMPARE(s.rosterNames().size(), fromRoster ? 3 : 0);

    // Once the database takes writes again the same entry is saved, once.
    s.folder.execute("DROP TRIGGER 拒绝");
    s.save();
    QCOMPARE(s.lastMessage().text, QString("保存成功"));
    const QList<Stored> stored = storedStudents(s.folder);
    QCOMPARE(stored.size(), 1);
    QCOMPARE(stored[0].name, form[0]);
    QCOMPARE(stored[0].photo, photo);
}

void RecordEntryTest::grabbedFrameReplacesThePicture()
{
    Station s;
    QCOMPARE(control<VideoDevice>(*s.window, "视频设备1")->grabFrame().size(), QSize(720, 500));
    const QByteArray placeholderCrop = s.services.context.entryPhoto();

    control<QPushButton>(*s.window, "按钮1")->click();
    const QImage display = s.captureCanvas()->image();
    QCOMPARE(display.pixel(50, 100), qRgb(255, 0, 0));
    QCOMPARE(display.pixel(300, 100), qRgb(0, 0, 255));
    // The frame still spans 100 to 270, across the middle of the picture at 180.
    const QImage photo = QImage::fromData(s.services.context.entryPhoto(), "JPEG");
    QVERIFY(s.services.context.entryPhoto() != placeholderCrop);
    // At print size: twice the frame, the camera's pixels being twice the canvas's.
    QCOMPARE(photo.size(), QSize(340, 420));
    QVERIFY(near(photo.pixel(80, 200), qRgb(255, 0, 0)));
    QVERIFY(near(photo.pixel(260, 200), qRgb(0, 0, 255)));
    QVERIFY(!control<QLabel>(*s.window, "图片框1")->pixmap().isNull());
}

void RecordEntryTest::grabWithoutPictureGivesNoPhoto()
{
    qputenv("QINGHE_CAMERA_IMAGE", m_pictures.filePath("missing.png").toUtf8());
    const auto restore = qScopeGuard([this] { qputenv("QINGHE_CAMERA_IMAGE", m_cameraImage.toUtf8()); });
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("QINGHE_CAMERA_IMAGE"));
    Station s;
    control<QPushButton>(*s.window, "按钮1")->click();
    QVERIFY(s.services.context.entryPhoto().isEmpty());
    QVERIFY(control<QLabel>(*s.window, "图片框1")->pixmap().isNull());
    QCOMPARE(control<QStatusBar>(*s.window, "状态条1")->currentMessage(), QString("没有找到摄像头"));

    s.name()->setText("张三");
    s.save();
    QCOMPARE(s.services.dialogs.messages(), QStringList({"对不起，你还没有录入头像！"}));
    QVERIFY(storedStudents(s.folder).isEmpty());
}

void RecordEntryTest::entryPhotoFollowsTheMouseAndDiesWithTheWindow()
{
    Station s;
    Canvas* canvas = s.captureCanvas();
    QTest::mousePress(canvas, Qt::LeftButton, {}, QPoint(200, 150));
    QTest::mouseMove(canvas, QPoint(220, 160));
    QTest::mouseRelease(canvas, Qt::LeftButton, {}, QPoint(220, 160));
    // The frame now spans 135 to 305 and 55 to 265, drawn on the display canvas only.
    QCOMPARE(canvas->image().pixel(135, 100), qRgb(0, 0, 0));
    QCOMPARE(canvas->image().pixel(304, 100), qRgb(0, 0, 0));
    const QImage photo = QImage::fromData(s.services.context.entryPhoto(), "JPEG");
    QVERIFY(near(photo.pixel(85, 95), canvas->image().pixel(220, 150)));
    QVERIFY(qGray(photo.pixel(0, 45)) > 60); // no outline in the photo

    s.window.reset();
    QVERIFY(!s.services.context.entryPhoto);
}

void RecordEntryTest::autoFramingSetting_data()
{
    QTest::addColumn<QString>("setting"); // empty: no such key
    QTest::addColumn<bool>("framed");
    QTest::newRow("absent means on") << QString() << true;
    QTest::newRow("真") << "真" << true;
    QTest::newRow("假 turns it off") << "假" << false;
    QTest::newRow("anything else is on") << "0" << true;
}

void RecordEntryTest::autoFramingSetting()
{
    QFETCH(QString, setting);
    QFETCH(bool, framed);
    const QPointF eyes(240, 115);
    const QString camera = m_pictures.filePath("astronaut-frame.png");
    QVERIFY(FacePicture::frameWithAstronaut(2.8, FacePicture::framePoint(eyes)).save(camera));
    const auto restore = standInCamera(camera);
    Station s([&setting](const TestFolder& folder) {
        if (!setting.isEmpty())
            IniFile::write(folder.settingsFile(), u"sys", u"自动框选", setting);
    });
    QCOMPARE(shownFrame(s), QRect(100, 30, 170, 210));
    // Read when the window opened: a change now has no effect until the next opening.
    QVERIFY(IniFile::write(s.folder.settingsFile(), u"sys", u"自动框选", framed ? u"假" : u"真"));

    control<QPushButton>(*s.window, "按钮1")->click();
    if (framed) {
        QTRY_VERIFY_WITH_TIMEOUT(shownFrame(s) != QRect(100, 30, 170, 210), 20000);
        QVERIFY2(qAbs(shownFrame(s).center().x() - eyes.x()) <= 10,
                 qPrintable(QString::number(shownFrame(s).x())));
    } else {
        QTest::qWait(300);
        QCOMPARE(shownFrame(s), QRect(100, 30, 170, 210));
    }
    QCOMPARE(control<QStatusBar>(*s.window, "状态条1")->currentMessage(), QString());
}

void RecordEntryTest::framedFaceIsSavedAtPrintSize()
{
    const QString camera = m_pictures.filePath("astronaut-saved.png");
    QVERIFY(FacePicture::frameWithAstronaut(2.8, FacePicture::framePoint({150, 110})).save(camera));
    const auto restore = standInCamera(camera);
    Station s;
    control<QPushButton>(*s.window, "按钮1")->click();
    QTRY_VERIFY_WITH_TIMEOUT(shownFrame(s) != QRect(100, 30, 170, 210), 20000);
    const QPixmap shown = control<QLabel>(*s.window, "图片框1")->pixmap();
    // Fitted into its box with the crop's own shape.
    QVERIFY2(qAbs(double(shown.width()) / shown.height() - 170.0 / 210) < 0.01,
             qPrintable(QStringLiteral("%1 × %2").arg(shown.width()).arg(shown.height())));

    s.name()->setText("柯林斯");
    s.save();
    QCOMPARE(s.lastMessage().text, QString("保存成功"));
    const QList<Stored> stored = storedStudents(s.folder);
    QCOMPARE(stored.size(), 1);
    const QImage photo = QImage::fromData(stored[0].photo, "JPEG");
    QCOMPARE(photo.size(), QSize(425, 525));
    // The face is in the middle: skin, not the grey beside her.
    const QRgb middle = photo.pixel(212, 250);
    QVERIFY2(qRed(middle) > qBlue(middle) + 30, qPrintable(QColor(middle).name()));
}

void RecordEntryTest::noFaceIsSaidInTheStatusLine()
{
    const QString camera = m_pictures.filePath("coffee-frame.png");
    QVERIFY(QImage(FacePicture::file("coffee.png")).scaled(1280, 720).save(camera));
    const auto restore = standInCamera(camera);
    Station s;
    QStatusBar* status = control<QStatusBar>(*s.window, "状态条1");
    control<QPushButton>(*s.window, "按钮1")->click();
    QTRY_COMPARE_WITH_TIMEOUT(status->currentMessage(), QString("没有找到人脸，请手动框选"), 20000);
    QCOMPARE(shownFrame(s), QRect(100, 30, 170, 210));
    // The operator frames by hand and saves as before.
    QTest::mouseClick(s.captureCanvas(), Qt::LeftButton, {}, QPoint(200, 130));
    QCOMPARE(shownFrame(s), QRect(115, 25, 170, 210));
}

void RecordEntryTest::noCameraIsSaid()
{
    if (!QMediaDevices::videoInputs().isEmpty())
        QSKIP("this machine has a camera");
    const auto restore = standInCamera({});
    Station s;
    auto* video = control<VideoDevice>(*s.window, "视频设备1");
    QCOMPARE(video->statusText(), QString("没有找到摄像头"));
    // Said in the area itself, not left black.
    const QImage shown = video->grab().toImage();
    int light = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            light += qGray(shown.pixel(x, y)) > 128;
    QVERIFY2(light > 50, qPrintable(QString::number(light)));
}

void RecordEntryTest::standInCameraIsShownUnsqueezed()
{
    // A 16:9 stand-in: a black disc on white must stay a disc in the live picture.
    QImage picture(1280, 720, QImage::Format_RGB32);
    picture.fill(Qt::white);
    {
        QPainter painter(&picture);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::black);
        painter.drawEllipse(QPointF(640, 360), 300, 300);
    }
    const QString camera = m_pictures.filePath("disc.png");
    QVERIFY(picture.save(camera));
    const auto restore = standInCamera(camera);
    Station s;
    auto* video = control<VideoDevice>(*s.window, "视频设备1");
    QCOMPARE(video->statusText(), QString());
    const QImage shown = video->grab().toImage();
    const auto run = [&shown](bool alongRow) {
        int dark = 0;
        const int length = alongRow ? shown.width() : shown.height();
        for (int i = 0; i < length; ++i)
            dark += qGray(alongRow ? shown.pixel(i, shown.height() / 2) : shown.pixel(shown.width() / 2, i))
                    < 128;
        return dark;
    };
    QVERIFY2(qAbs(run(true) - run(false)) <= 3,
             qPrintable(QStringLiteral("%1 × %2").arg(run(true)).arg(run(false))));
}

QTEST_MAIN(RecordEntryTest)
#include "tst_recordentry.moc"
