// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

#include <memory>

class AppContext;
namespace Ui {
class DatabaseAdminWindow;
}

class DatabaseAdminWindow : public QWidget {
    Q_OBJECT
public:
    explicit DatabaseAdminWindow(AppContext& context, QWidget* parent = nullptr);
    ~DatabaseAdminWindow() override;

private:
    AppContext& m_context;
    std::unique_ptr<Ui::DatabaseAdminWindow> m_ui;
};
