// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class QCommandLineParser;
class QTextStream;

// `qinghe` with arguments works without a window, over SSH and in scripts. The arguments are
// read before any application object exists, so `--help`, `--version` and a mistyped option
// are answered without a display and without touching a file.
namespace CommandLine {

// The Qt application a command runs under, chosen here for each command and nowhere else.
enum class Application { Core, Gui, Widgets };

struct Command {
    QString name;
    // Its lines in the help text, each starting "  qinghe NAME".
    QString usage;
    Application application = Application::Core;
    QList<QCommandLineOption> options;
    // The largest number of positional arguments the command takes.
    int positionals = 0;
    // Runs the command once its parser has read the arguments; answers the exit code.
    int (*run)(const QCommandLineParser& parser, QTextStream& out, QTextStream& err) = nullptr;
};

// What the arguments ask for: the main window, a command, or nothing more (an answer to
// --help or --version, or a refusal, already written, with its exit code).
struct Choice {
    std::optional<int> exitCode;
    const Command* command = nullptr;
    QStringList arguments; // the command's, its own name first
};

Choice choose(const QStringList& arguments);

// Runs a chosen command under the application it needs.
int run(const Choice& choice, int& argc, char* argv[]);

// The program's arguments as Qt reads them, before an application object exists.
QStringList arguments(int argc, char* argv[]);

QString usage();

} // namespace CommandLine
