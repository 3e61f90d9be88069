// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

#include <vector>

// A query result as a recordset holds it: every row fetched at open, byte columns as their
// length only (the bytes are read when asked for), each row with the key that finds it again.
struct ResultRows {
    QString table;     // empty when the result cannot be written back
    QString keyColumn; // the column the keys come from
    QStringList columns;
    std::vector<bool> bytes;    // byte columns: the cell holds the length
    std::vector<bool> deferred; // cells fetched per row when first read
    QString selectList;         // the back end's words for one whole row
    QString deferredList;
    QString condition; // what follows the table in the query (WHERE …), to read deferred cells again
    std::vector<qint64> keys;
    std::vector<QVariant> cells;    // row-major, columns.size() per row
    std::vector<bool> deferredRead; // per row
};
