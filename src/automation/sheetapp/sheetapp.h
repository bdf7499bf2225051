// The embedded spreadsheet application: the built-in server behind the
// ProgID "Excel.Application".
#pragma once

#include "automation/dispatch.h"

namespace sheetapp {

// A new, hidden application instance with alerts on and no workbook open.
automation::DispatchPtr createApplication();

} // namespace sheetapp
