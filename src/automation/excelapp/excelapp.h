// "Excel.Application": the spreadsheet application's object model with both
// of its backends, the embedded engine for .xlsx packages and LibreOffice for
// legacy .xls workbooks. A program registers it where it starts.
#pragma once

#include "automation/dispatch.h"

namespace excelapp {

// A new, hidden application instance with alerts on and no workbook open.
automation::DispatchPtr createApplication();

// Registers createApplication as "Excel.Application".
void registerApplication();

} // namespace excelapp
