// SPDX-License-Identifier: GPL-3.0-or-later
#include "records/RecordEditorWindow.h"

#include "ui_RecordEditorWindow.h"

#include "archive/ProgramFolder.h"
#include "archive/StudentTable.h"
#include "desktop/Shell.h"
#include "formats/graphics/Picture.h"
#include "records/Numbering.h"
#include "records/PhotoExport.h"
#include "records/StudentList.h"
#include "records/StudentRecord.h"
#include "widgets/AppContext.h"
#include "widgets/Dialogs.h"
#include "widgets/Navigator.h"
#include "widgets/WaitCursor.h"

#include <QAction>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSignalBlocker>
#include <QStyle>

namespace {

enum Column { ClassColumn, NameColumn, NumberColumn, PhotoColumn };
constexpr int idRole = Qt::UserRole;

QTreeWidgetItem* listItem(const StudentListRow& row)
{
    auto* item = new QTreeWidgetItem({row.班级, row.姓名, row.编号, photoMark(row.hasPhoto)});
    item->setData(ClassColumn, idRole, row.id);
    return item;
}

int rowId(const QTreeWidgetItem* item) { return item->data(ClassColumn, idRole).toInt(); }

} // namespace

RecordEditorWindow::RecordEditorWindow(AppContext& context, QWidget* parent)
    : QWidget(parent)
    , m_context(context)
    , m_ui(std::make_unique<Ui::RecordEditorWindow>())
{
    m_ui->setupUi(this);
    QTreeWidget* list = m_ui->数据列表框;
    for (const auto& [column, width] :
         {std::pair{ClassColumn, 70}, {NameColumn, 70}, {NumberColumn, 120}, {PhotoColumn, 40}})
        list->setColumnWidth(column, width);

    QAction* browse = m_ui->目录编辑框1->addAction(style()->standardIcon(QStyle::SP_DirOpenIcon),
                                                   QLineEdit::TrailingPosition);
    browse->setObjectName(QStringLiteral("浏览"));
    browse->setToolTip(QStringLiteral("请选择一个文件夹："));

    connect(m_ui->按钮5, &QPushButton::clicked, this, &RecordEditorWindow::listByClass);
    connect(m_ui->按钮6, &QPushButton::clicked, this, &RecordEditorWindow::listAll);
    connect(m_ui->按钮7, &QPushButton::clicked, this, &RecordEditorWindow::findByNumberOrName);
    connect(m_ui->按钮11, &QPushButton::clicked, this, &RecordEditorWindow::listWithoutPhoto);
    connect(list, &QTreeWidget::itemSelectionChanged, this, &RecordEditorWindow::showSelectedRecord);
    connect(m_ui->按钮1, &QPushButton::clicked, this, &RecordEditorWindow::showPrevious);
    connect(m_ui->按钮2, &QPushButton::clicked, this, &RecordEditorWindow::showNext);
    connect(m_ui->按钮4, &QPushButton::clicked, this, &RecordEditorWindow::saveChanges);
    connect(m_ui->按钮3, &QPushButton::clicked, this, &RecordEditorWindow::deleteRecord);
    connect(m_ui->按钮13, &QPushButton::clicked, this, &RecordEditorWindow::loadPhotoFile);
    connect(m_ui->按钮10, &QPushButton::clicked, this, &RecordEditorWindow::takeMainWindowPhoto);
    connect(m_ui->按钮8, &QPushButton::clicked, this, &RecordEditorWindow::exportListedPhotos);
    connect(browse, &QAction::triggered, this, &RecordEditorWindow::browseExportFolder);
    connect(m_ui->编辑框5, &QLineEdit::textChanged, this, &RecordEditorWindow::previewNumber);
    connect(m_ui->按钮9, &QPushButton::clicked, this, &RecordEditorWindow::numberStudents);
    connect(m_ui->按钮12, &QPushButton::clicked, this,
            [this] { m_context.navigator.open(WindowKind::DatabaseAdmin, this); });

    m_ui->组合框3->setCurrentIndex(0);
    for (const QString& className : m_context.classList) {
        m_ui->组合框1->addItem(className);
        m_ui->组合框2->addItem(className);
    }
    const int firstClass = m_context.classList.isEmpty() ? -1 : 0;
    m_ui->组合框1->setCurrentIndex(firstClass);
    m_ui->组合框2->setCurrentIndex(firstClass);
    m_ui->编辑框2->setText(QString::number(QDate::currentDate().year()));

    showWaitCursorWhileLocked(m_database);
    if (!StudentTable::openArchive(m_database, m_context.databaseFile())
        && QFileInfo::exists(m_context.databaseFile()))
        m_context.reportDatabaseProblem(this, m_database.lastErrorKind(), m_database.lastError());
    if (!m_context.databaseDamage.isEmpty())
        m_database.markDamaged(m_context.databaseDamage);
    m_records.attach(m_database);
    // Opening lists the first class whatever was listed last, and 开始编号 then numbers the
    // class the window names, not everyone as a 全部显示 of an earlier opening would.
    listByClass();

    m_ui->目录编辑框1->setText(ProgramFolder::photoFolder(m_context.appFolder));
}

RecordEditorWindow::~RecordEditorWindow() = default;

RecordEditorState& RecordEditorWindow::state() const { return m_context.recordEditor; }

void RecordEditorWindow::listByClass()
{
    state().listMode = RecordEditorState::ListMode::ByClass;
    const QString className = m_ui->组合框1->currentText();
    openList(StudentTable::selectClass(className), className + QStringLiteral("数据"));
}

void RecordEditorWindow::listAll()
{
    state().listMode = RecordEditorState::ListMode::All;
    openList(StudentTable::selectAll, QStringLiteral("所有数据"));
}

void RecordEditorWindow::findByNumberOrName()
{
    openList(StudentTable::selectNumberOrName(m_ui->编辑框3->text()), QStringLiteral("个人数据"));
}

void RecordEditorWindow::listWithoutPhoto()
{
    state().listMode = RecordEditorState::ListMode::ByClass;
    const QString className = m_ui->组合框1->currentText();
    openList(StudentTable::selectClass(className), className + QStringLiteral("数据"),
             StudentRows::WithoutPhoto);
}

void RecordEditorWindow::openList(const QString& query, const QString& caption, StudentRows which)
{
    QTreeWidget* list = m_ui->数据列表框;
    {
        const QSignalBlocker blocker(list);
        list->clear();
    }
    m_shownId = 0;
    m_records.open(query);
    reportDatabaseProblem();
    m_ui->标签1->setText(caption);

    // The details show the query's first record even when the list leaves it out.
    m_records.moveFirst();
    showRecord(readStudentRecord(m_records));
    QList<QTreeWidgetItem*> items;
    for (const StudentListRow& row : readStudentRows(m_records, which))
        items << listItem(row);
    list->addTopLevelItems(items);

    selectRow(0);
    scrollToRow(0);
    state().currentRow = 0;
}

int RecordEditorWindow::selectedRow() const
{
    const QList<QTreeWidgetItem*> selected = m_ui->数据列表框->selectedItems();
    return selected.isEmpty() ? -1 : m_ui->数据列表框->indexOfTopLevelItem(selected.first());
}

// A row outside the list selects nothing new: stepping past either end stays where it is.
void RecordEditorWindow::selectRow(int row)
{
    QTreeWidget* list = m_ui->数据列表框;
    if (row < 0 || row >= list->topLevelItemCount())
        return;
    list->setCurrentItem(list->topLevelItem(row), 0,
                         QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void RecordEditorWindow::scrollToRow(int row)
{
    QTreeWidget* list = m_ui->数据列表框;
    if (row >= 0 && row < list->topLevelItemCount())
        list->scrollToItem(list->topLevelItem(row));
}

void RecordEditorWindow::showSelectedRecord()
{
    const int row = selectedRow();
    if (row < 0)
        return;
    loadRow(row);
    state().currentRow = row;
}

void RecordEditorWindow::loadRow(int row)
{
    m_shownId = rowId(m_ui->数据列表框->topLevelItem(row));
    m_records.open(StudentTable::selectId(m_shownId));
    reportDatabaseProblem();
    showRecord(readStudentRecord(m_records));
}

// A damaged file is said once, and every list that then comes up empty is explained by it.
void RecordEditorWindow::reportDatabaseProblem()
{
    if (m_database.isDamaged())
        m_context.reportDatabaseProblem(this, ErrorKind::Damaged,
                                        m_records.lastError().isEmpty() ? m_database.lastError()
                                                                        : m_records.lastError());
}

int RecordEditorWindow::shownListedId() const
{
    const int row = selectedRow();
    if (row < 0 || m_shownId == 0 || rowId(m_ui->数据列表框->topLevelItem(row)) != m_shownId)
        return 0;
    return m_shownId;
}

// Saving and deleting act on the record by its id, whatever another window did to the shared
// row index or to this window's recordset in the meantime.
bool RecordEditorWindow::loadShownRecord(QString* error)
{
    if (!m_records.open(StudentTable::selectId(m_shownId))) {
        *error = m_records.lastError();
        return false;
    }
    if (m_records.recordCount() != 1) {
        *error = QStringLiteral("这条记录已被删除");
        return false;
    }
    return true;
}

void RecordEditorWindow::showPrevious() { step(-1); }

void RecordEditorWindow::showNext() { step(1); }

void RecordEditorWindow::step(int direction)
{
    selectRow(state().currentRow); // brings back a selection the user cleared
    selectRow(selectedRow() + direction);
    const int row = selectedRow();
    if (row < 0)
        return;
    // Keep the next neighbour in sight, so the user sees where the following step goes.
    const int neighbour = row + direction;
    scrollToRow(neighbour >= 0 && neighbour < m_ui->数据列表框->topLevelItemCount() ? neighbour : row);
    state().currentRow = row;
}

void RecordEditorWindow::showRecord(const StudentRecord& record)
{
    setPhoto(record.照片);
    m_ui->编辑框1->setText(record.姓名);
    m_ui->组合框2->setEditText(record.班级);
    m_ui->编辑框4->setText(record.编号);
    m_ui->组合框3->setEditText(record.性别);
    m_ui->编辑框9->setText(record.电话);
    m_ui->编辑框7->setText(record.出生年月);
    m_ui->编辑框8->setText(record.住址);
    m_ui->标签5->setText(record.选项);
    m_ui->编辑框10->setPlainText(remarksText(record.简介));
}

StudentRecord RecordEditorWindow::recordOnScreen() const
{
    StudentRecord record;
    record.姓名 = m_ui->编辑框1->text();
    record.班级 = m_ui->组合框2->currentText();
    record.照片 = m_photo;
    record.编号 = m_ui->编辑框4->text();
    record.性别 = m_ui->组合框3->currentText();
    record.电话 = m_ui->编辑框9->text();
    record.简介 = remarksBytes(m_ui->编辑框10->toPlainText());
    record.出生年月 = m_ui->编辑框7->text();
    record.住址 = m_ui->编辑框8->text();
    return record;
}

void RecordEditorWindow::setPhoto(const QByteArray& bytes)
{
    m_photo = bytes;
    QLabel* box = m_ui->图片框2;
    const QSize size = box->contentsRect().size();
    const QImage image = Picture::decode(bytes, size);
    if (image.isNull()) {
        box->clear();
        return;
    }
    box->setPixmap(QPixmap::fromImage(image.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

void RecordEditorWindow::saveChanges()
{
    if (shownListedId() == 0)
        return;
    const StudentRecord record = recordOnScreen();
    QString error;
    if (!loadShownRecord(&error) || !writeStudentRecord(m_records, record)) {
        m_context.dialogs.message(
            this, QStringLiteral("保存失败：") + (error.isEmpty() ? m_records.lastError() : error), {},
            MessageIcon::Warning);
        return;
    }
    QTreeWidgetItem* item = m_ui->数据列表框->topLevelItem(selectedRow());
    item->setText(ClassColumn, record.班级);
    item->setText(NameColumn, record.姓名);
    item->setText(NumberColumn, record.编号);
    item->setText(PhotoColumn, photoMark(!record.照片.isEmpty()));
    m_context.dialogs.message(this, QStringLiteral("更改成功!"));
}

void RecordEditorWindow::deleteRecord()
{
    const int deletedId = shownListedId();
    if (deletedId == 0)
        return;
    if (!m_context.dialogs.confirm(this, QStringLiteral("是否确定删除!!")))
        return;
    QString error;
    if (!loadShownRecord(&error) || !m_records.deleteCurrent() || !m_records.update()) {
        m_context.dialogs.message(
            this, QStringLiteral("删除失败：") + (error.isEmpty() ? m_records.lastError() : error), {},
            MessageIcon::Warning);
        return;
    }

    QTreeWidget* list = m_ui->数据列表框;
    int removed = -1;
    {
        const QSignalBlocker blocker(list);
        for (int row = 0; row < list->topLevelItemCount() && removed < 0; ++row) {
            if (rowId(list->topLevelItem(row)) == deletedId)
                removed = row;
        }
        if (removed >= 0)
            delete list->takeTopLevelItem(removed);
        // Nothing selected, so the selection below loads the record it lands on.
        list->setCurrentItem(nullptr);
        list->clearSelection();
    }
    m_shownId = 0;

    if (list->topLevelItemCount() == 0) {
        showRecord(StudentRecord{});
        return;
    }
    // The row that followed the deleted one, or the first row when the last one went.
    const int next = removed >= 0 && removed < list->topLevelItemCount() ? removed : 0;
    selectRow(next);
    scrollToRow(next);
}

void RecordEditorWindow::loadPhotoFile()
{
    const QString path = m_context.dialogs.openPicture(this, QStringLiteral("载入照片"));
    if (path.isEmpty())
        return;
    const QString fileName = QFileInfo(path).fileName();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_context.dialogs.message(this,
                                  QStringLiteral("无法读取照片文件 %1：%2").arg(fileName, file.errorString()),
                                  {}, MessageIcon::Warning);
        return;
    }
    const QByteArray bytes = file.readAll();
    QString error;
    if (Picture::decode(bytes, m_ui->图片框2->contentsRect().size(), &error).isNull()) {
        m_context.dialogs.message(this, QStringLiteral("无法载入照片 %1：%2").arg(fileName, error), {},
                                  MessageIcon::Warning);
        return;
    }
    setPhoto(bytes);
}

void RecordEditorWindow::takeMainWindowPhoto()
{
    setPhoto(m_context.entryPhoto ? m_context.entryPhoto() : QByteArray());
}

void RecordEditorWindow::browseExportFolder()
{
    const QString current = m_ui->目录编辑框1->text().trimmed();
    const QString start = current.isEmpty() ? ProgramFolder::photoFolder(m_context.appFolder) : current;
    const QString chosen = m_context.dialogs.chooseFolder(this, QStringLiteral("请选择一个文件夹："), start);
    if (!chosen.isEmpty())
        m_ui->目录编辑框1->setText(QDir::toNativeSeparators(chosen));
}

void RecordEditorWindow::exportListedPhotos()
{
    const QString typed = m_ui->目录编辑框1->text().trimmed();
    if (typed.isEmpty()) {
        m_context.dialogs.message(this, QStringLiteral("请先选择导出相片的文件夹"), {}, MessageIcon::Warning);
        return;
    }
    // A folder typed without its full path lies in the program folder, like the default one.
    const QString folder = QDir(m_context.appFolder).absoluteFilePath(QDir::fromNativeSeparators(typed));

    QList<int> ids;
    const QTreeWidget* list = m_ui->数据列表框;
    for (int row = 0; row < list->topLevelItemCount(); ++row)
        ids << rowId(list->topLevelItem(row));
    const PhotoExportResult result = exportPhotos(m_database, ids, folder);
    if (!result.folderError.isEmpty()) {
        m_context.dialogs.message(this, QStringLiteral("导出失败：") + result.folderError, {},
                                  MessageIcon::Warning);
        return;
    }
    if (result.succeeded())
        m_context.dialogs.message(this, QStringLiteral("导出成功"));
    else
        m_context.dialogs.message(this,
                                  QStringLiteral("有 %1 张相片没有导出，例如 %2：%3")
                                      .arg(result.failedFiles.size())
                                      .arg(result.failedFiles.first(), result.firstFailure),
                                  {}, MessageIcon::Warning);
    m_context.shell.openFolder(folder);
}

void RecordEditorWindow::previewNumber() { m_ui->编辑框6->setText(numberPart(1, m_ui->编辑框5->text())); }

QString RecordEditorWindow::numberingQuery() const
{
    return state().listMode == RecordEditorState::ListMode::All
               ? StudentTable::selectAll
               : StudentTable::selectClass(m_ui->组合框1->currentText());
}

void RecordEditorWindow::numberStudents()
{
    // The whole class (or everyone), even when a search result or the photo-less are listed.
    if (state().listMode == RecordEditorState::ListMode::All)
        listAll();
    else
        listByClass();

    QTreeWidget* list = m_ui->数据列表框;
    const QString prefix = m_ui->编辑框2->text();
    const QString digits = m_ui->编辑框5->text();
    QStringList numbers;
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
        numbers << studentNumber(prefix, digits, row + 1);
        list->topLevelItem(row)->setText(NumberColumn, numbers.last());
    }

    QString error;
    if (!writeStudentNumbers(m_database, m_records, numberingQuery(), numbers, &error)) {
        m_context.dialogs.message(this, QStringLiteral("编号失败：") + error, {}, MessageIcon::Warning);
        // Show what the database holds, not the numbers that were not stored.
        if (state().listMode == RecordEditorState::ListMode::All)
            listAll();
        else
            listByClass();
        return;
    }
    // The details were loaded before the run: show the new number, so that saving them
    // does not put the old one back.
    if (const int row = selectedRow(); row >= 0)
        loadRow(row);
}
