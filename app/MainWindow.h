// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/DatabaseConnection.h"
#include "platform/Recordset.h"
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
    // Blanks the saved student's row in the roster workbook.
    void markRosterRowDone(const QString& className, const QString& name, const QString& number);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void loadClassList();
    void connectNavigation();
    void startWebServer();
    void openWebAddress();
    QString webAddress() const;
    void connectEntry();
    void grabFrame();
    void showCapture();
    void switchTableInputMode(bool rosterEntry);
    void rosterRowSelected(int row);
    void takeRosterRow(int row);
    void advanceRoster();
    void saveStudent();

    AppContext& m_context;
    std::unique_ptr<Ui::MainWindow> m_ui;
    DatabaseConnection m_database;
    Recordset m_students;
    RosterSelection m_rosterSelection;
    CaptureArea m_capture;
};
