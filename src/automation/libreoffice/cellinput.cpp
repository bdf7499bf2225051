// Typed input into cells held by LibreOffice: decided by the object model, stored by UNO.
#include "automation/libreoffice/cellinput_p.h"
#include "automation/libreoffice/pool_p.h"
#include "automation/sheetapp/typedinput.h"

#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/lang/Locale.hpp>
#include <com/sun/star/sheet/CellFlags.hpp>
#include <com/sun/star/sheet/XCellFormatRangesSupplier.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XCellRangeFormula.hpp>
#include <com/sun/star/sheet/XSheetOperation.hpp>
#include <com/sun/star/util/Date.hpp>
#include <com/sun/star/util/NumberFormat.hpp>
#include <com/sun/star/util/XNumberFormatTypes.hpp>
#include <com/sun/star/util/XNumberFormats.hpp>
#include <com/sun/star/util/XNumberFormatsSupplier.hpp>

using css::uno::Any;
using css::uno::Reference;
using css::uno::Sequence;
using css::uno::UNO_QUERY_THROW;

namespace libreoffice {
namespace {

// The kind of value a number format makes of what is typed, and the document's date system
// (LibreOffice counts serials from the null date, which is 1904-01-01 in a 1904 workbook).
sheetapp::CellFormat cellFormat(const Reference<css::util::XNumberFormatsSupplier> &supplier,
                                const Reference<css::beans::XPropertySet> &cells)
{
    namespace NF = css::util::NumberFormat;
    sal_Int32 key = 0;
    cells->getPropertyValue("NumberFormat") >>= key;
    sal_Int16 type = 0;
    supplier->getNumberFormats()->getByKey(key)->getPropertyValue("Type") >>= type;
    css::util::Date nullDate;
    supplier->getNumberFormatSettings()->getPropertyValue("NullDate") >>= nullDate;

    sheetapp::CellFormat format;
    format.date1904 = nullDate.Year == 1904;
    if (type & NF::TEXT)
        format.kind = sheetapp::ValueFormat::Text;
    else if ((type & NF::DATETIME) == NF::DATETIME)
        format.kind = sheetapp::ValueFormat::DateTime;
    else if (type & NF::DATE)
        format.kind = sheetapp::ValueFormat::Date;
    else if (type & NF::TIME)
        format.kind = sheetapp::ValueFormat::Time;
    return format;
}

// Every cell of a rows x columns block holding `value`.
template <typename T> Sequence<Sequence<T>> filled(int rows, int columns, const T &value)
{
    Sequence<T> row(columns);
    for (T &v : row)
        v = value;
    Sequence<Sequence<T>> all(rows);
    for (Sequence<T> &r : all)
        r = row;
    return all;
}

// One block of cells that share a number format.
void writeBlock(const Reference<css::util::XNumberFormatsSupplier> &supplier,
                const Reference<css::table::XCellRange> &block, const QString &text)
{
    Reference<css::beans::XPropertySet> properties(block, UNO_QUERY_THROW);
    const sheetapp::TypedInput in =
        sheetapp::readTypedInput(text, cellFormat(supplier, properties));
    Reference<css::sheet::XCellRangeAddressable> addressable(block, UNO_QUERY_THROW);
    const css::table::CellRangeAddress a = addressable->getRangeAddress();
    const int rows = a.EndRow - a.StartRow + 1;
    const int columns = a.EndColumn - a.StartColumn + 1;
    Reference<css::sheet::XCellRangeData> data(block, UNO_QUERY_THROW);
    Reference<css::sheet::XCellRangeFormula> formulas(block, UNO_QUERY_THROW);
    switch (in.kind) {
    case sheetapp::TypedInput::Empty: {
        namespace CF = css::sheet::CellFlags;
        Reference<css::sheet::XSheetOperation> operation(block, UNO_QUERY_THROW);
        operation->clearContents(CF::VALUE | CF::DATETIME | CF::STRING | CF::FORMULA);
        return;
    }
    case sheetapp::TypedInput::Text:
        // Set as strings, which LibreOffice does not read again.
        data->setDataArray(filled(rows, columns, Any(toOUString(in.text))));
        return;
    case sheetapp::TypedInput::Boolean: {
        // A boolean is a number in the boolean format.
        Reference<css::util::XNumberFormatTypes> types(supplier->getNumberFormats(),
                                                       UNO_QUERY_THROW);
        properties->setPropertyValue(
            "NumberFormat",
            Any(types->getStandardFormat(css::util::NumberFormat::LOGICAL, css::lang::Locale())));
        data->setDataArray(filled(rows, columns, Any(in.number)));
        return;
    }
    case sheetapp::TypedInput::Number:
        data->setDataArray(filled(rows, columns, Any(in.number)));
        return;
    case sheetapp::TypedInput::Error:
        // UNO sets no error constant: a formula that is one.
        formulas->setFormulaArray(filled(rows, columns, toOUString(QLatin1Char('=') + in.text)));
        return;
    case sheetapp::TypedInput::Formula:
        formulas->setFormulaArray(filled(rows, columns, toOUString(in.text)));
        return;
    case sheetapp::TypedInput::Refused:
        break;
    }
    throw css::uno::RuntimeException(toOUString(in.text));
}

} // namespace

void writeTypedInput(const Reference<css::sheet::XSpreadsheetDocument> &document,
                     const Reference<css::table::XCellRange> &cells, const QString &text)
{
    Reference<css::util::XNumberFormatsSupplier> supplier(document, UNO_QUERY_THROW);
    // The cells in blocks of one format each, so that a large range takes few calls.
    Reference<css::sheet::XCellFormatRangesSupplier> blocks(cells, UNO_QUERY_THROW);
    Reference<css::container::XIndexAccess> list = blocks->getCellFormatRanges();
    const sal_Int32 count = list->getCount();
    for (sal_Int32 i = 0; i < count; ++i)
        writeBlock(supplier,
                   Reference<css::table::XCellRange>(list->getByIndex(i), UNO_QUERY_THROW), text);
}

} // namespace libreoffice
