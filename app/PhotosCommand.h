// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCommandLineOption>
#include <QList>

class QCommandLineParser;
class QTextStream;

// `qinghe photos`: a class's photos written to an authority's standard, or a photographer's
// folder brought into a class.
namespace PhotosCommand {

QList<QCommandLineOption> options();
// Answers the exit code: 3 when a student or a file was left out.
int run(const QCommandLineParser& options, QTextStream& out, QTextStream& err);

} // namespace PhotosCommand
