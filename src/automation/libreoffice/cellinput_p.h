// A Value write into cells of a workbook held by LibreOffice: the text read as typed input
// by the object model's rule, and stored as the value, formula or string it gives.
#pragma once

#include "automation/libreoffice/uno_p.h"

#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/table/XCellRange.hpp>

#include <QString>

namespace libreoffice {

// Writes `text` into every cell of `cells`, each read in its own number format (a Text
// cell keeps the text, a date or time cell takes a date or time). Numbers and dates keep the
// cell's format; a boolean gets the boolean format. LibreOffice has no quote prefix: text
// typed after an apostrophe is stored without it. Throws what the UNO calls throw.
void writeTypedInput(const css::uno::Reference<css::sheet::XSpreadsheetDocument> &document,
                     const css::uno::Reference<css::table::XCellRange> &cells, const QString &text);

} // namespace libreoffice
