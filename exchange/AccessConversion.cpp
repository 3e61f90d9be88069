// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchange/AccessConversion.h"

#include "exchange/AccessImport.h"
#include "widgets/AppContext.h"
#include "widgets/Dialogs.h"

#include <QDir>
#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>

#include <atomic>
#include <malloc.h>
#include <memory>
#include <thread>

namespace AccessConversion {

namespace {

QString shown(const AppContext& context, const QString& path)
{
    return QDir(context.appFolder).relativeFilePath(path);
}

} // namespace

bool offer(AppContext& context, QWidget* parent)
{
    const QString archive = context.databaseFile();
    if (!context.dialogs.confirm(parent, offerText, QStringLiteral("青禾名录")))
        return false;

    // The work runs beside the window; the Access file itself is read by a process of its own,
    // which "取消" ends at once: the work then ends too, and the window waits for that, so it
    // never says "cancelled" about a conversion that went through after all.
    struct Work {
        std::atomic<qint64> done = 0;
        std::atomic<qint64> total = 0;
        std::atomic<bool> cancelled = false;
        std::atomic<bool> finished = false;
        bool converted = false;
        AccessImport::Report result;
        QString error;
    };
    const auto work = std::make_shared<Work>();
    std::thread([work, archive] {
        work->converted = AccessImport::importArchive(archive, archive, false, &work->result, &work->error,
                                                      [&work](qint64 rows, qint64 all) {
                                                          work->done = rows;
                                                          work->total = all;
                                                          return !work->cancelled.load();
                                                      });
        // What the conversion held in memory goes back to the system, not only to the heap.
        malloc_trim(0);
        work->finished = true;
    }).detach();

    // A small archive is done before the progress window would appear.
    QProgressDialog progress(QStringLiteral("正在转换 Access 数据库，请稍候……"), QStringLiteral("取消"), 0,
                             1000, parent);
    progress.setWindowTitle(QStringLiteral("青禾名录"));
    progress.setWindowModality(Qt::ApplicationModal);
    progress.setMinimumDuration(700);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    // Starts the clock of the minimum duration; without a first value the window would wait
    // for Qt's default four seconds, however stuck the reader is.
    progress.setValue(0);
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (progress.wasCanceled() && !work->cancelled) {
            work->cancelled = true;
            progress.setLabelText(QStringLiteral("正在取消……"));
        }
        if (work->finished) {
            loop.quit();
            return;
        }
        if (work->total > 0)
            progress.setValue(int(std::min<qint64>(999, work->done * 1000 / work->total)));
    });
    tick.start(20);
    loop.exec();
    tick.stop();
    progress.close();
    if (!work->converted && work->result.cancelled) {
        context.dialogs.message(
            parent,
            QStringLiteral("已取消转换。原来的 Access 文件没有改动，仍在 %1。").arg(shown(context, archive)),
            QStringLiteral("青禾名录"), MessageIcon::Information);
        return false;
    }
    const AccessImport::Report& result = work->result;
    if (work->converted) {
        const AccessImport::Counts& c = result.counts;
        context.dialogs.message(parent,
                                QStringLiteral("转换完成：学生 %1 名，照片 %2 张，班级 %3 个，帐号 %4 个。\n"
                                               "原来的 Access 文件保存在 %5。")
                                    .arg(c.students)
                                    .arg(c.photos)
                                    .arg(c.classes)
                                    .arg(c.accounts)
                                    .arg(shown(context, result.keptOriginal)),
                                QStringLiteral("青禾名录"), MessageIcon::Information);
        return true;
    }
    QString text = QStringLiteral("没有转换：%1。\n原来的 Access 文件没有改动，仍在 %2。")
                       .arg(work->error, shown(context, archive));
    if (!result.keptOriginal.isEmpty())
        text += QStringLiteral("另有一份副本保存在 %1。").arg(shown(context, result.keptOriginal));
    context.dialogs.message(parent, text, QStringLiteral("错误信息"), MessageIcon::Warning);
    return false;
}

} // namespace AccessConversion
