// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Language.h"

#include <QCoreApplication>
#include <QHash>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {

// Texts that Qt's own Chinese catalogue lacks: the kinds of entry in the file dialog.
class MissingQtTexts final : public QTranslator {
public:
    using QTranslator::QTranslator;

    bool isEmpty() const override { return false; }

    QString translate(const char* context, const char* sourceText, const char*, int) const override
    {
        static const QHash<QByteArray, QString> kinds{{"Folder", QStringLiteral("文件夹")},
                                                      {"Drive", QStringLiteral("驱动器")},
                                                      {"Shortcut", QStringLiteral("快捷方式")},
                                                      {"Unknown", QStringLiteral("未知")}};
        if (qstrcmp(context, "QAbstractFileIconProvider") != 0)
            return {};
        return kinds.value(QByteArray(sourceText));
    }
};

} // namespace

void useSimplifiedChinese(QCoreApplication& app)
{
    const QLocale chinese(QLocale::Chinese, QLocale::SimplifiedChineseScript, QLocale::China);
    QLocale::setDefault(chinese);
    auto* qtTexts = new QTranslator(&app);
    if (qtTexts->load(chinese, QStringLiteral("qtbase"), QStringLiteral("_"),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qtTexts);
    QCoreApplication::installTranslator(new MissingQtTexts(&app));
}
