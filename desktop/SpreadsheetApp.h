// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class NewWorkbook;
class Shell;

// The desktop's spreadsheet program, as far as the program drives it: a workbook made here
// is written as a template into a private temporary folder and opened there, so the operator
// gets a new, untitled workbook to look at, change and save.
class SpreadsheetApp {
public:
    static const QString templateType; // MIME type of .xltx
    static const QString workbookType; // MIME type of .xlsx

    explicit SpreadsheetApp(Shell& shell);

    // Whether the desktop has a program for workbooks at all.
    bool isInstalled() const;
    // `name` begins the file name, which some programs show until the workbook is saved.
    bool open(const NewWorkbook& book, const QString& name, QString* error);

    // The private folder the workbooks are written to.
    static QString workbookFolder();

private:
    Shell& m_shell;
};
