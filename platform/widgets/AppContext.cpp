// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/widgets/AppContext.h"

#include "platform/ProgramFolder.h"

AppContext::AppContext(Dialogs& dialogs, Navigator& navigator, Shell& shell)
    : dialogs(dialogs)
    , navigator(navigator)
    , shell(shell)
{
}

QString AppContext::databaseFile() const { return ProgramFolder::databaseFile(appFolder); }

QString AppContext::settingsFile() const { return ProgramFolder::settingsFile(appFolder); }

void AppContext::setClassList(const QStringList& classes)
{
    classList = classes;
    emit classListChanged();
}
