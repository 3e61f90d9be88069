// SPDX-License-Identifier: GPL-3.0-or-later
#include "cards/pages/CardsPdf.h"

#include "archive/DatabaseConnection.h"
#include "archive/ProgramFolder.h"
#include "archive/Recordset.h"
#include "archive/StudentTable.h"
#include "cards/pages/CardComposer.h"
#include "cards/pages/CardSheet.h"
#include "cards/pages/SheetRenderer.h"
#include "formats/graphics/Picture.h"

#include <QFileInfo>

namespace CardsPdf {

bool write(const QString& appFolder, const std::optional<QString>& className, const QString& pdf,
           SheetRenderer::Paper paper, Written* written, QString* error)
{
    const auto refuse = [error](const QString& reason) {
        if (error)
            *error = reason;
        return false;
    };
    const QString databaseFile = ProgramFolder::databaseFile(appFolder);
    // The PDF is written in place over whatever the path names: over the archive or its log
    // that would destroy the students, and closing the file would drop this process's locks.
    const QString target = QFileInfo(pdf).absoluteFilePath();
    for (const QString& suffix :
         {QString(), QStringLiteral("-wal"), QStringLiteral("-shm"), QStringLiteral("-journal")}) {
        const QFileInfo archiveFile(databaseFile + suffix);
        if (target == archiveFile.absoluteFilePath()
            || (archiveFile.exists()
                && QFileInfo(pdf).canonicalFilePath() == archiveFile.canonicalFilePath()))
            return refuse(QStringLiteral("不能把 PDF 写到学生数据库 %1 上，请另选文件名").arg(pdf));
    }
    DatabaseConnection connection;
    if (!StudentTable::openArchive(connection, databaseFile))
        return refuse(QStringLiteral("打不开学生数据库 %1：%2").arg(databaseFile, connection.lastError()));
    Recordset records;
    records.attach(connection);
    if (!records.open(className ? StudentTable::selectClass(*className) : StudentTable::selectAll))
        return refuse(QStringLiteral("读不出学生记录：") + records.lastError());
    // An empty sheet from a mistyped class name would pass for a finished job.
    if (records.recordCount() == 0)
        return refuse(className ? QStringLiteral("班级“%1”没有学生").arg(*className)
                                : QStringLiteral("数据库里没有学生"));

    // A card of no width or height would make a blank page that passes for the cards.
    const CardSheet::CardSize size = CardSheet::loadCardSize(appFolder);
    if (size.width <= 0 || size.height <= 0)
        return refuse(
            QStringLiteral("证件大小是 %1 × %2 像素（sys.ini 的“证件宽度”和“证件高度”），证件画不出来；"
                           "请在证件预览中设定证件大小")
                .arg(size.width)
                .arg(size.height));
    Written result;
    const CardLayout layout = CardLayout::load(appFolder);
    if (!layout.background.isEmpty()) {
        QString reason;
        if (Picture::decode(layout.background, CardComposer::faceSize, &reason).isNull())
            result.warnings
                << QStringLiteral("背景图片“background”无法使用（%1），证件用内置的背景").arg(reason);
    }

    const CardComposer composer(layout);
    CardSheet sheet;
    QStringList unreadablePhotos;
    QStringList damagedPhotos;
    result.cards = sheet.fill(records, composer, size, &unreadablePhotos, &damagedPhotos);
    for (const QString& photo : unreadablePhotos)
        result.warnings << photo + QStringLiteral("，证件上没有照片");
    result.warnings << damagedPhotos;
    if (written)
        *written = result;
    QString failure;
    result.pages = SheetRenderer(sheet, paper).writePdf(pdf, &failure);
    if (result.pages == 0)
        return refuse(QStringLiteral("无法写入 PDF 文件 %1：%2").arg(pdf, failure));
    if (written)
        *written = result;
    return true;
}

} // namespace CardsPdf
