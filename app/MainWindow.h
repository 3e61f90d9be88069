// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "archive/DatabaseConnection.h"
#include "archive/Recordset.h"
#include "records/CaptureArea.h"

#include <QMainWindow>

#include <memory>

class AppContext;
namespace Ui {
class MainWindow;
}

// The roster row the operator picked; its name and class live in the entry boxes.
struct RosterSelection {
    int row = 0;
    QString number;
};

// The capture and entry station: camera, crop area, entry panel, roster list, and the
// doors to every other window.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(AppContext& context, QWidget* parent = nullptr);
    ~MainWindow() override;

    void refillClassSelectors();
    // Blanks the saved student's row in the roster workbook the list was loaded from; false
    // with the reason when the workbook could not be changed.
    bool markRosterRowDone(const QString& className, const QString& name, const QString& number,
                           QString* error = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void loadClassList();
    void connectNavigation();
    void showWebAddress();
    void watchSettingsFile();
    void startWebServer();
    void reportWebServerFailure(const QString& reason);
    void openWebAddress();
    QString webAddress() const;
    void connectEntry();
    void grabFrame();
    void showFramingHint(const QString& hint);
    void showCapture();
    void switchTableInputMode(bool rosterEntry);
    void rosterRowSelected(int row);
    void takeRosterRow(int row);
    void advanceRoster();
    void saveStudent();
    void connectRoster();
    void makeRosterTemplate();
    void loadChosenRoster();
    void showWholeRoster();
    void showRosterClass();
    void showFixedRoster(const QString& sql);
    void fillRosterList();
    void selectFirstRosterRow();

    AppContext& m_context;
    std::unique_ptr<Ui::MainWindow> m_ui;
    DatabaseConnection m_database;
    Recordset m_students;
    RosterSelection m_rosterSelection;
    DatabaseConnection m_rosterWorkbook; // 数据库连接2
    Recordset m_roster;                  // 记录集2
    QString m_chosenRoster;              // the file last chosen with 加载excel
    QString m_rosterFile;                // the file the list was loaded from
    CaptureArea m_capture;
    bool m_autoFraming = true; // 自动框选, read when the window opens
};
