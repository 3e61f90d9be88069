// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/TestServices.h"

#include "widgets/PrintPreview.h"

#include <QPrinter>
#include <QThread>
#include <QWidget>

QStringList ScriptedDialogs::messages() const
{
    QStringList texts;
    for (const ShownDialog& d : shown) {
        if (d.kind == u"message")
            texts << d.text;
    }
    return texts;
}

void ScriptedDialogs::message(QWidget*, const QString& text, const QString& title, MessageIcon icon)
{
    shown.append({QStringLiteral("message"), text, title, {}, icon});
}

bool ScriptedDialogs::confirm(QWidget*, const QString& text, const QString& title)
{
    shown.append({QStringLiteral("confirm"), text, title});
    return !confirmAnswers.isEmpty() && confirmAnswers.dequeue();
}

std::optional<QString> ScriptedDialogs::input(QWidget*, const QString& prompt, const QString& title,
                                              const QString& initial)
{
    shown.append({QStringLiteral("input"), prompt, title, initial});
    return textAnswers.isEmpty() ? std::nullopt : textAnswers.dequeue();
}

std::optional<QString> ScriptedDialogs::password(QWidget*, const QString& prompt, const QString& title)
{
    shown.append({QStringLiteral("password"), prompt, title});
    return textAnswers.isEmpty() ? std::nullopt : textAnswers.dequeue();
}

QString ScriptedDialogs::openFile(QWidget*, const QString& title, const QString& filter, const QString&)
{
    shown.append({QStringLiteral("openFile"), filter, title});
    return pathAnswers.isEmpty() ? QString() : pathAnswers.dequeue();
}

QString ScriptedDialogs::openPicture(QWidget*, const QString& title)
{
    shown.append({QStringLiteral("openPicture"), {}, title});
    return pathAnswers.isEmpty() ? QString() : pathAnswers.dequeue();
}

QString ScriptedDialogs::chooseFolder(QWidget*, const QString& prompt, const QString& startFolder)
{
    shown.append({QStringLiteral("chooseFolder"), startFolder, prompt});
    return pathAnswers.isEmpty() ? QString() : pathAnswers.dequeue();
}

std::optional<FontChoice> ScriptedDialogs::chooseFont(QWidget*, const FontChoice& initial)
{
    shown.append({QStringLiteral("chooseFont"), {}, {}});
    fontsOffered.append(initial);
    return fontAnswers.isEmpty() ? std::nullopt : fontAnswers.dequeue();
}

namespace {
void printToPdf(QPrinter& printer, const QString& file)
{
    if (file.isEmpty())
        return;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(file);
}
} // namespace

bool ScriptedDialogs::setUpPrinter(QWidget*, QPrinter& printer)
{
    shown.append({QStringLiteral("printer"), {}, {}});
    const bool accepted = !printerAnswers.isEmpty() && printerAnswers.dequeue();
    if (accepted)
        printToPdf(printer, printToFile);
    return accepted;
}

void ScriptedDialogs::showPrintPreview(QWidget*, QPrinter& printer, const PageSource& pages)
{
    shown.append({QStringLiteral("printPreview"), {}, {}});
    ++previewCount;
    if (printToFile.isEmpty())
        return;
    printToPdf(printer, printToFile);
    printPages(printer, pages, printToFile);
}

void RecordingNavigator::present(QWidget* window, bool modal)
{
    openings.append(
        {window, QString::fromLatin1(window->metaObject()->className()), modal, window->parentWidget()});
    window->show();
}

bool RecordingShell::openUrl(const QString& url)
{
    openedUrls << url;
    return browserFound;
}

bool RecordingShell::openFolder(const QString& path)
{
    openedFolders << path;
    return true;
}

bool RecordingShell::startDetached(const QString& program, const QStringList& arguments, const QString&)
{
    startedPrograms << program;
    startedArguments << arguments;
    return true;
}

bool RecordingShell::openWithProgramFor(const QString& path, const QString& mimeType)
{
    if (!programTypes.contains(mimeType))
        return false;
    openedFiles << path;
    return true;
}

ProgramResult RecordingShell::run(const QString& program, const QStringList& arguments, const QString&, int)
{
    startedPrograms << program;
    startedArguments << arguments;
    lastRunThread = QThread::currentThread();
    return programResult;
}
