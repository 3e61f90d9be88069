// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QComboBox>
#include <QStringList>
#include <QWidget>

#include <cstdlib>

// A window's control by its name; a missing control ends the test with its name.
template <typename T> T* control(const QWidget& window, const char* name)
{
    T* widget = window.findChild<T*>(QString::fromUtf8(name));
    if (!widget)
        qFatal("%s has no control %s of the expected kind", qPrintable(window.objectName()), name);
    return widget;
}

inline QStringList comboItems(const QComboBox* box)
{
    QStringList list;
    for (int i = 0; i < box->count(); ++i)
        list << box->itemText(i);
    return list;
}
