// The parameters of one file's job, handed by value to every job.
#pragma once

#include <QPair>
#include <QString>
#include <QVector>

// A text to find (or, in position mode, a cell reference such as "A1") and
// the text to put in its place.
using KeyPair = QPair<QString, QString>;

struct Param
{
    QString sheetIndex;     // "默认页", "首表", "尾表", "所有表" or a typed list "1,3"
    QVector<KeyPair> keys;  // applied in this order
    bool isKeyMode = true;  // true: keyword replace; false: write by cell position
    int lookAt = 2;         // keyword mode: 1 whole cell, 2 part of the cell
    int searchOrder = 1;    // keyword mode: 1 by rows, 2 by columns
    bool matchCase = false; // keyword mode: true compares case-sensitively
};
