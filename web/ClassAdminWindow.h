// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

#include <memory>

class AppContext;
namespace Ui {
class ClassAdminWindow;
}

// The classes and their web administrators, edited in a grid whose row 0 is the header.
// Saving replaces the table, rebuilds the class list and closes the window; closing without
// saving changes nothing.
class ClassAdminWindow : public QWidget {
    Q_OBJECT
public:
    explicit ClassAdminWindow(AppContext& context, QWidget* parent = nullptr);
    ~ClassAdminWindow() override;

private:
    void load();
    void addRow();
    void insertRow();
    void deleteRow();
    void save();
    // The selected data row; 0 when none is selected or the header is.
    int selectedDataRow() const;
    void formatRows(int first, int count);

    AppContext& m_context;
    std::unique_ptr<Ui::ClassAdminWindow> m_ui;
};
