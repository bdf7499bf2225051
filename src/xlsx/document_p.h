// Internals of the package library (tests may include this header).
#pragma once

#include "xlsx/document.h"

namespace xlsx {

class DocumentData
{
public:
    QString path;
    bool open = false;
};

class WorksheetData
{
public:
    Document *doc = nullptr;
    int index = 0;
};

} // namespace xlsx
