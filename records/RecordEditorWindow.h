// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "archive/DatabaseConnection.h"
#include "archive/Recordset.h"
#include "records/StudentList.h"

#include <QByteArray>
#include <QWidget>

#include <memory>

class AppContext;
struct RecordEditorState;
struct StudentRecord;
namespace Ui {
class RecordEditorWindow;
}

// Browses, searches, corrects, deletes and numbers the stored students, and moves their
// photos in and out. `m_records` holds the last list query until a row is selected, and then
// exactly the selected row's record, which saving and deleting act on.
class RecordEditorWindow : public QWidget {
    Q_OBJECT
public:
    explicit RecordEditorWindow(AppContext& context, QWidget* parent = nullptr);
    ~RecordEditorWindow() override;

private:
    void listByClass();
    void listAll();
    void findByNumberOrName();
    void listWithoutPhoto();
    void showSelectedRecord();
    void showPrevious();
    void showNext();
    void saveChanges();
    void deleteRecord();
    void loadPhotoFile();
    void takeMainWindowPhoto();
    void exportListedPhotos();
    void browseExportFolder();
    void previewNumber();
    void numberStudents();

    RecordEditorState& state() const;
    void openList(const QString& query, const QString& caption, StudentRows which = StudentRows::All);
    void step(int direction);
    int selectedRow() const;
    void selectRow(int row);
    void scrollToRow(int row);
    void loadRow(int row);
    void showRecord(const StudentRecord& record);
    // The listed, selected row whose record the form shows: its id, or 0 when there is none.
    int shownListedId() const;
    bool loadShownRecord(QString* error);
    void reportDatabaseProblem();
    StudentRecord recordOnScreen() const;
    void setPhoto(const QByteArray& bytes);
    QString numberingQuery() const;

    AppContext& m_context;
    std::unique_ptr<Ui::RecordEditorWindow> m_ui;
    DatabaseConnection m_database;
    Recordset m_records;
    QByteArray m_photo; // the picture of 图片框2, exactly as stored
    int m_shownId = 0;  // the record of a listed row the form shows; 0 for none
};
