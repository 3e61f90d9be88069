// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/BenchFolder.h"

#include "archive/DatabaseConnection.h"
#include "archive/ProgramFolder.h"
#include "archive/Recordset.h"
#include "archive/StudentTable.h"

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QRandomGenerator>

BenchFolder::BenchFolder(int students, int photoBytes, int classes, int distinctPhotos)
{
    QDir().mkpath(ProgramFolder::databaseFolder(path()));
    StudentTable::createDatabaseFile(databaseFile());
    DatabaseConnection connection;
    connection.openDatabaseFile(databaseFile());
    DatabaseTransaction transaction(connection);

    Recordset classTable;
    classTable.attach(connection);
    classTable.open(StudentTable::selectClasses);
    for (int c = 0; c < classes; ++c) {
        classTable.addNew();
        classTable.writeText(u"单位", className(c));
    }
    classTable.update();

    // A handful of distinct photos is enough where size, not variety, is what costs.
    QList<QByteArray> photos;
    for (int i = 0; photoBytes > 0 && i < distinctPhotos; ++i)
        photos << benchPhoto(photoBytes, i);

    Recordset table;
    table.attach(connection);
    table.open(StudentTable::selectId(-1));
    for (int i = 0; i < students; ++i) {
        table.addNew();
        table.writeText(u"姓名", QStringLiteral("学生%1").arg(i));
        table.writeText(u"编号", QStringLiteral("2014%1").arg(i, 5, 10, QChar(u'0')));
        table.writeText(u"班级", className(i % classes));
        table.writeText(u"性别", i % 2 ? QStringLiteral("女") : QStringLiteral("男"));
        if (!photos.isEmpty())
            table.writeBytes(u"照片", photos[i % photos.size()]);
    }
    table.update();
    transaction.commit();
}

QString BenchFolder::databaseFile() const { return ProgramFolder::databaseFile(path()); }

QString BenchFolder::className(int index) { return QStringLiteral("班级%1").arg(index + 1); }

QByteArray benchPhoto(int approximateBytes, int seed)
{
    // Noise compresses badly, which lets the JPEG reach the wanted size at a modest resolution.
    QRandomGenerator random(quint32(seed) + 1);
    for (int side = 120;; side += 20) {
        QImage image(side * 4 / 5, side, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x)
                line[x] = random.generate() | 0xff000000u;
        }
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "JPEG", 90);
        if (bytes.size() >= approximateBytes || side > 2000)
            return bytes;
    }
}
