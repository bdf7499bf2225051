// The arguments of Range calls.
#pragma once

#include "automation/sheetapp/book.h"
#include "automation/sheetapp/typedinput.h"
#include "xlsx/cellref.h"

#include <QString>
#include <QVariantList>

namespace sheetapp {

// Largest number of cells one Value write fills.
constexpr long long kMaxValueCells = 1048576;

// False with a message unless Range.Replace is given 2 to 5 arguments.
bool checkReplaceArgumentCount(const QVariantList &args, QString *error);

// Reads the arguments of Range.Replace; an omitted or empty optional argument
// takes its default. False with a message for a wrong one.
bool parseReplaceArguments(const QVariantList &args, ReplaceArguments *out, QString *error);

// The text of `Range.Value = value` on `range`: false with a message when
// the value is not a text, is too long for a cell, or `range` is larger than
// one write fills.
bool valueWriteText(const QVariant &value, const xlsx::CellRange &range, QString *text,
                    QString *error);

// Range.Address: "$B$2" or "$B$2:$C$4".
QString rangeAddress(const xlsx::CellRange &range);

} // namespace sheetapp
