// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "archive/DatabaseConnection.h"
#include "archive/Recordset.h"

#include <QWidget>

#include <memory>
#include <optional>

class AppContext;
namespace Ui {
class DatabaseAdminWindow;
}

// Export of every record to a spreadsheet, rebuilding the student table, the administrator
// password that guards the rebuild, and which archive the program uses: the file in DB or a
// database on a server.
class DatabaseAdminWindow : public QWidget {
    Q_OBJECT
public:
    explicit DatabaseAdminWindow(AppContext& context, QWidget* parent = nullptr);
    ~DatabaseAdminWindow() override;

private:
    void exportToSpreadsheet();
    void rebuildDatabase();
    void changePassword();
    void chooseArchive();
    void showArchive();
    bool passwordAccepted(const std::optional<QString>& entry);
    void tell(const QString& text);
    // Refusals and failures.
    void warn(const QString& text);

    AppContext& m_context;
    std::unique_ptr<Ui::DatabaseAdminWindow> m_ui;
    DatabaseConnection m_database; // 数据库连接1
    Recordset m_administrator;     // 记录集
    Recordset m_students;          // 记录集1
};
