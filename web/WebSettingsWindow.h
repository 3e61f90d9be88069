// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

#include <memory>

class AppContext;
namespace Ui {
class WebSettingsWindow;
}

// The home page title and the student options of the query site: saving writes both
// generated pages, then the settings; the options chosen on the web can be cleared.
class WebSettingsWindow : public QWidget {
    Q_OBJECT
public:
    explicit WebSettingsWindow(AppContext& context, QWidget* parent = nullptr);
    ~WebSettingsWindow() override;

private:
    void saveAndGenerate();
    void clearOptions();

    AppContext& m_context;
    std::unique_ptr<Ui::WebSettingsWindow> m_ui;
};
