// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

#include <string>
#include <utility>

// A form body as a browser sends it from one of the site's GBK pages.
std::string webForm(const QList<std::pair<QString, QString>>& fields);
