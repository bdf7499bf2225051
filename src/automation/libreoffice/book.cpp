// The workbook in its instance: load, read, replace, write, store, close.
#include "automation/libreoffice/book_p.h"
#include "automation/libreoffice/pool_p.h"
#include "automation/libreoffice/search_p.h"
#include "automation/sheetapp/filekind.h"
#include "xlsx/savefile.h"

#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XCellRangeFormula.hpp>
#include <com/sun/star/sheet/XSheetCellCursor.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <com/sun/star/sheet/XUsedAreaCursor.hpp>
#include <com/sun/star/table/CellContentType.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/util/NotNumericException.hpp>
#include <com/sun/star/util/NumberFormat.hpp>
#include <com/sun/star/util/NumberFormatter.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XModifiable.hpp>
#include <com/sun/star/util/XNumberFormats.hpp>
#include <com/sun/star/util/XNumberFormatsSupplier.hpp>
#include <com/sun/star/util/XReplaceDescriptor.hpp>
#include <com/sun/star/util/XReplaceable.hpp>

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QUrl>
#include <QtEndian>

#include <vector>

using css::uno::Any;
using css::uno::Reference;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace libreoffice {

struct BookData
{
    InstancePtr instance;
    bool ownsInstance = true; // false when lent by a sibling book
    BookPtr sibling;
    Reference<css::lang::XComponent> component;
    Reference<css::sheet::XSpreadsheetDocument> document;
    bool broken = false; // the instance failed during a call
};

namespace {

css::beans::PropertyValue property(const char *name, const Any &value)
{
    css::beans::PropertyValue p;
    p.Name = rtl::OUString::createFromAscii(name);
    p.Value = value;
    return p;
}

Sequence<css::beans::PropertyValue> properties(std::vector<css::beans::PropertyValue> list)
{
    return Sequence<css::beans::PropertyValue>(list.data(), sal_Int32(list.size()));
}

rtl::OUString fileUrl(const QString &path)
{
    return toOUString(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded));
}

Reference<css::sheet::XSpreadsheet> sheetAt(const BookData &d, int index)
{
    Reference<css::container::XIndexAccess> sheets(d.document->getSheets(), UNO_QUERY_THROW);
    return Reference<css::sheet::XSpreadsheet>(sheets->getByIndex(index), UNO_QUERY_THROW);
}

Reference<css::table::XCellRange> rangeOf(const BookData &d, int sheet, const xlsx::CellRange &r)
{
    return sheetAt(d, sheet)->getCellRangeByPosition(r.firstColumn - 1, r.firstRow - 1,
                                                     r.lastColumn - 1, r.lastRow - 1);
}

// Typed input read as a date, a time, a percentage or an amount of money
// also takes that kind of format when the cells show another kind, as the
// spreadsheet application does with what the user types.
void applyTypedFormat(const BookData &d, const Reference<css::table::XCellRange> &cells,
                      const QString &text)
{
    if (text.startsWith(QLatin1Char('=')) ||
        cells->getCellByPosition(0, 0)->getType() != css::table::CellContentType_VALUE)
        return;
    Reference<css::util::XNumberFormatsSupplier> supplier(d.document, UNO_QUERY_THROW);
    Reference<css::util::XNumberFormatter2> formatter =
        css::util::NumberFormatter::create(d.instance->context);
    formatter->attachNumberFormatsSupplier(supplier);
    sal_Int32 key = 0;
    try {
        key = formatter->detectNumberFormat(0, toOUString(text));
    } catch (const css::util::NotNumericException &) {
        return;
    }
    const auto kindOf = [&supplier](sal_Int32 k) {
        sal_Int16 type = 0;
        supplier->getNumberFormats()->getByKey(k)->getPropertyValue("Type") >>= type;
        return type & (css::util::NumberFormat::DATETIME | css::util::NumberFormat::CURRENCY |
                       css::util::NumberFormat::PERCENT);
    };
    const int kind = kindOf(key);
    Reference<css::beans::XPropertySet> properties(cells, UNO_QUERY_THROW);
    sal_Int32 current = 0;
    properties->getPropertyValue("NumberFormat") >>= current;
    if (kind != 0 && (kindOf(current) & kind) == 0)
        properties->setPropertyValue("NumberFormat", Any(key));
}

} // namespace

sheetapp::BookPtr openBook(const QString &canonicalPath, const QString &path,
                           const QVector<sheetapp::BookPtr> &open, QString *error)
{
    // The last book of this backend that the application holds lends its instance.
    BookPtr sibling;
    for (const sheetapp::BookPtr &b : open) {
        if (auto mine = std::dynamic_pointer_cast<Book>(b))
            sibling = mine;
    }
    auto book = std::make_shared<Book>(path, canonicalPath);
    if (!book->load(sibling, error))
        return nullptr;
    return book;
}

int activeTabOf(const QString &path)
{
    int tab = 0;
    sheetapp::readWorkbookGlobals(path, [&tab](quint16 type, const char *data, int length) {
        if (type != 0x003D || length < 12) // WINDOW1: itabCur at 10
            return true;
        tab = qFromLittleEndian<quint16>(data + 10);
        return false;
    });
    return tab;
}

Book::Book(QString path, QString canonicalPath)
    : sheetapp::Book(std::move(path), std::move(canonicalPath)), d(std::make_unique<BookData>())
{
}

Book::~Book()
{
    close();
}

bool Book::isOpen() const
{
    return d->document.is();
}

template <typename F> bool Book::call(const QString &what, QString *error, F &&f)
{
    if (!d->document.is() && what != QLatin1String("load")) {
        *error =
            QStringLiteral("%1: the workbook has been closed (the application quit)").arg(path());
        return false;
    }
    QString why;
    {
        CallGuard guard(*d->instance);
        try {
            f();
            return true;
        } catch (const css::lang::DisposedException &e) {
            d->broken = true;
            why = toQString(e.Message);
        } catch (const css::uno::RuntimeException &e) {
            why = toQString(e.Message);
        } catch (const css::uno::Exception &e) {
            why = toQString(e.Message);
        } catch (const std::exception &e) {
            why = QString::fromLocal8Bit(e.what());
        } catch (...) {
            why = QStringLiteral("unknown failure");
        }
    }
    if (d->instance->process->timedOut) {
        d->broken = true;
        why = QStringLiteral("LibreOffice did not answer within %1 s; the instance was ended")
                  .arg(callLimitMs() / 1000.0);
    } else if (!d->instance->alive()) {
        d->broken = true;
        why = QStringLiteral("the LibreOffice instance ended (%1)")
                  .arg(why.isEmpty() ? QStringLiteral("no message") : why);
    }
    *error = QStringLiteral("%1: LibreOffice %2: %3")
                 .arg(path(), what, why.isEmpty() ? QStringLiteral("failed") : why);
    return false;
}

bool Book::load(const BookPtr &sibling, QString *error)
{
    for (int attempt = 0;; ++attempt) {
        QMutexLocker lock(&m_mutex);
        d->broken = false;
        if (sibling && sibling->d->instance && sibling->isOpen()) {
            d->instance = sibling->d->instance;
            d->ownsInstance = false;
            d->sibling = sibling;
        } else {
            QString why;
            d->instance = leaseInstance(&why);
            d->ownsInstance = true;
            if (!d->instance) {
                *error = QStringLiteral("%1: no LibreOffice instance: %2").arg(path(), why);
                return false;
            }
        }
        const bool ok = call(QStringLiteral("load"), error, [this] {
            Reference<css::frame::XComponentLoader> loader(d->instance->desktop, UNO_QUERY_THROW);
            const Sequence<css::beans::PropertyValue> args = properties({
                property("Hidden", Any(true)),
                property("FilterName", Any(rtl::OUString("MS Excel 97"))),
                property("MacroExecMode", Any(sal_Int16(0))), // never run macros
                property("UpdateDocMode", Any(sal_Int16(0))), // never update links
                property("ReadOnly", Any(false)),
            });
            d->component = loader->loadComponentFromURL(fileUrl(canonicalPath()),
                                                        rtl::OUString("_blank"), 0, args);
            d->document.set(d->component, UNO_QUERY);
            if (d->component.is() && !d->document.is()) {
                Reference<css::util::XCloseable> closeable(d->component, UNO_QUERY);
                if (closeable.is())
                    closeable->close(true);
                d->component.clear();
            }
        });
        if (d->document.is())
            return true;
        if (ok)
            *error = QStringLiteral("%1: LibreOffice cannot load it as a spreadsheet").arg(path());
        // An instance that had served earlier jobs may have ended while it
        // waited in the pool: the file gets one more try on a fresh one. One
        // that ends while it loads the file for its first job does not.
        const bool retry = attempt == 0 && d->broken && d->ownsInstance && d->instance->leases > 1;
        lock.unlock();
        close();
        if (!retry)
            return false;
    }
}

void Book::close()
{
    QMutexLocker lock(&m_mutex);
    if (!d->instance)
        return;
    if (d->component.is() && !d->broken) {
        QString ignored;
        call(QStringLiteral("close"), &ignored, [this] {
            Reference<css::util::XCloseable> closeable(d->component, UNO_QUERY);
            if (closeable.is())
                closeable->close(true);
            else
                d->component->dispose();
        });
    }
    d->document.clear();
    d->component.clear();
    if (d->ownsInstance)
        returnInstance(d->instance, !d->broken);
    d->instance.reset();
    d->sibling.reset();
}

int Book::sheetCount(QString *error)
{
    QMutexLocker lock(&m_mutex);
    int count = 0;
    if (!call(QStringLiteral("Sheets.Count"), error,
              [&] { count = d->document->getSheets()->getElementNames().getLength(); }))
        return -1;
    return count;
}

bool Book::sheetName(int sheet, QString *name, QString *error)
{
    QMutexLocker lock(&m_mutex);
    return call(QStringLiteral("Sheet.Name"), error, [&] {
        Reference<css::container::XNamed> named(sheetAt(*d, sheet), UNO_QUERY_THROW);
        *name = toQString(named->getName());
    });
}

sheetapp::SheetKind Book::sheetKind(int)
{
    return sheetapp::SheetKind::Worksheet;
}

int Book::activeSheet(QString *error)
{
    // The sheet the file shows on top; LibreOffice keeps no view of a hidden
    // document to ask.
    const int count = sheetCount(error);
    if (count == 0)
        *error = QStringLiteral("%1: the workbook has no sheet").arg(path());
    if (count < 1)
        return -1;
    return qBound(0, activeTabOf(canonicalPath()), count - 1);
}

bool Book::usedRange(int sheet, xlsx::CellRange *range, QString *error)
{
    QMutexLocker lock(&m_mutex);
    return call(QStringLiteral("UsedRange"), error, [&] {
        Reference<css::sheet::XSheetCellCursor> cursor = sheetAt(*d, sheet)->createCursor();
        Reference<css::sheet::XUsedAreaCursor> used(cursor, UNO_QUERY_THROW);
        used->gotoStartOfUsedArea(false);
        used->gotoEndOfUsedArea(true);
        Reference<css::sheet::XCellRangeAddressable> address(cursor, UNO_QUERY_THROW);
        const css::table::CellRangeAddress a = address->getRangeAddress();
        *range = xlsx::CellRange(a.StartRow + 1, a.StartColumn + 1, a.EndRow + 1, a.EndColumn + 1);
    });
}

bool Book::replace(int sheet, const xlsx::CellRange &range, const sheetapp::ReplaceArguments &args,
                   bool *changed, QString *error)
{
    int replaced = 0;
    *changed = false;
    if (!replaceAll(sheet, range, args, &replaced, error)) {
        // As on the embedded path, a replace that fails changes nothing and
        // the job goes on; a dead instance fails the Save that follows.
        qWarning().noquote() << "Range.Replace:" << *error;
        return true;
    }
    *changed = replaced > 0;
    return true;
}

bool Book::replaceAll(int sheet, const xlsx::CellRange &range,
                      const sheetapp::ReplaceArguments &args, int *replaced, QString *error)
{
    QMutexLocker lock(&m_mutex);
    *replaced = 0;
    if (args.what.isEmpty())
        return true; // an empty What matches nothing
    return call(QStringLiteral("Replace"), error, [&] {
        Reference<css::util::XReplaceable> target(rangeOf(*d, sheet, range), UNO_QUERY_THROW);
        Reference<css::util::XReplaceDescriptor> descriptor = target->createReplaceDescriptor();
        descriptor->setSearchString(toOUString(wildcardToRegex(args.what)));
        descriptor->setReplaceString(toOUString(literalReplacement(args.replacement)));
        Reference<css::beans::XPropertySet> p(descriptor, UNO_QUERY_THROW);
        p->setPropertyValue("SearchRegularExpression", Any(true));
        p->setPropertyValue("SearchWords", Any(args.lookAt == 1)); // the entire cell
        p->setPropertyValue("SearchCaseSensitive", Any(args.matchCase));
        p->setPropertyValue("SearchByRow", Any(args.searchOrder == 1));
        p->setPropertyValue("SearchType", Any(sal_Int16(0))); // formulas, not shown values
        *replaced = target->replaceAll(Reference<css::util::XSearchDescriptor>(descriptor.get()));
    });
}

bool Book::setText(int sheet, const xlsx::CellRange &range, const QString &text, QString *error)
{
    QMutexLocker lock(&m_mutex);
    return call(QStringLiteral("Range.Value"), error, [&] {
        Reference<css::table::XCellRange> cells = rangeOf(*d, sheet, range);
        if (range.rowCount() == 1 && range.columnCount() == 1) {
            // Typed input: numbers, dates and "=" formulas are taken as such.
            cells->getCellByPosition(0, 0)->setFormula(toOUString(text));
            applyTypedFormat(*d, cells, text);
            return;
        }
        Sequence<rtl::OUString> row(range.columnCount());
        for (rtl::OUString &s : row)
            s = toOUString(text);
        Sequence<Sequence<rtl::OUString>> rows(range.rowCount());
        for (Sequence<rtl::OUString> &r : rows)
            r = row;
        Reference<css::sheet::XCellRangeFormula> formula(cells, UNO_QUERY_THROW);
        formula->setFormulaArray(rows);
        applyTypedFormat(*d, cells, text);
    });
}

bool Book::save(QString *error)
{
    QMutexLocker lock(&m_mutex);
    // LibreOffice writes the hidden temporary beside the workbook; the save
    // step refuses read-only files, keeps mode and owner, and replaces the
    // workbook in one step.
    // A workbook with no change leaves its file as it is.
    bool modified = true;
    if (!call(QStringLiteral("store"), error, [&] {
            Reference<css::util::XModifiable> state(d->document, UNO_QUERY);
            modified = !state.is() || state->isModified();
        }))
        return false;
    if (!modified)
        return true;
    xlsx::SaveFile file(canonicalPath());
    if (!file.open(error))
        return false;
    const bool stored = call(QStringLiteral("store"), error, [&] {
        Reference<css::frame::XStorable> storable(d->document, UNO_QUERY_THROW);
        const Sequence<css::beans::PropertyValue> args = properties({
            property("FilterName", Any(rtl::OUString("MS Excel 97"))),
            property("Overwrite", Any(true)),
        });
        storable->storeToURL(fileUrl(file.tempPath()), args);
    });
    if (!stored) {
        file.cancel();
        return false;
    }
    return file.commit(error);
}

} // namespace libreoffice
