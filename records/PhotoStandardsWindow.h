// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "records/PhotoFolderImport.h"

#include <QWidget>

#include <memory>

class AppContext;
namespace Ui {
class PhotoStandardsWindow;
}

// A class's photos exported to an authority's standard, with every photo that cannot meet
// it listed with the reason; and a photographer's folder matched to the class, shown photo
// by photo before anything is stored.
class PhotoStandardsWindow : public QWidget {
    Q_OBJECT
public:
    explicit PhotoStandardsWindow(AppContext& context, QWidget* parent = nullptr);
    ~PhotoStandardsWindow() override;

private:
    void fillStandards(const QString& current);
    void showStandard();
    void saveStandard();
    void browseFolder();
    void exportClass();
    void planImport();
    void storeImport();
    void addRow(const QString& student, const QString& file, const QString& result, const QImage& photo,
                bool problem);
    void setStatus(const QString& text);

    AppContext& m_context;
    std::unique_ptr<Ui::PhotoStandardsWindow> m_ui;
    PhotoFolderImport::Plan m_plan;
};
