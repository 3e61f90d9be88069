// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/WindowCatalogue.h"

#include "cards/CardDesignerWindow.h"
#include "cards/CardPreviewWindow.h"
#include "exchange/DatabaseAdminWindow.h"
#include "records/PhotoStandardsWindow.h"
#include "records/RecordEditorWindow.h"
#include "web/ClassAdminWindow.h"
#include "web/WebSettingsWindow.h"

QWidget* createWindow(AppContext& context, WindowKind kind)
{
    QWidget* window = nullptr;
    switch (kind) {
    case WindowKind::RecordEditor:
        window = new RecordEditorWindow(context);
        break;
    case WindowKind::DatabaseAdmin:
        window = new DatabaseAdminWindow(context);
        break;
    case WindowKind::CardDesigner:
        window = new CardDesignerWindow(context);
        break;
    case WindowKind::CardPreview:
        window = new CardPreviewWindow(context);
        break;
    case WindowKind::ClassAdmin:
        window = new ClassAdminWindow(context);
        break;
    case WindowKind::WebSettings:
        window = new WebSettingsWindow(context);
        break;
    case WindowKind::PhotoStandards:
        window = new PhotoStandardsWindow(context);
        break;
    }
    return window;
}
