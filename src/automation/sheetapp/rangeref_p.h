// The references Worksheet.Range accepts: one cell ("b2", "$B$2") or a
// rectangle ("B2:C4"), any letter case, within the sheet's limits.
#pragma once

#include "xlsx/cellref.h"

#include <QString>

namespace sheetapp {

// Parses `text`; an invalid range for names, unions, whole rows or columns,
// sheet-qualified references, blanks, out-of-limit cells and any other text.
// Corners may be given in any order ("C4:B2" is B2:C4).
xlsx::CellRange parseRangeReference(const QString &text);

} // namespace sheetapp
