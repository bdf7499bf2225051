// The workbook in its instance: load, read, replace, write, store, close.
#include "automation/libreoffice/book_p.h"
#include "automation/libreoffice/cellinput_p.h"
#include "automation/libreoffice/pool_p.h"
#include "automation/libreoffice/search_p.h"
#include "automation/sheetapp/biff.h"
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
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XModifiable.hpp>
#include <com/sun/star/util/XReplaceDescriptor.hpp>
#include <com/sun/star/util/XReplaceable.hpp>

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <mutex>
#include <QUrl>
#include <QtEndian>

#include <algorithm>
#include <vector>

using css::uno::Any;
using css::uno::Reference;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace libreoffice {

namespace biff = sheetapp::biff;

struct BookData
{
    InstancePtr instance;
    bool ownsInstance = true; // false when lent by a sibling book
    BookPtr sibling;
    Reference<css::lang::XComponent> component;
    Reference<css::sheet::XSpreadsheetDocument> document;
    bool broken = false; // the instance failed during a call
    // The sheets of the file when it holds others than worksheets (empty: LibreOffice's
    // sheets are the file's), and where LibreOffice holds the cells of each (-1: nowhere).
    std::vector<biff::Sheet> sheets;
    std::vector<int> cellSheet;
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

// A kind of sheet as the application's objects know it (a macro sheet's cells
// are a worksheet's).
sheetapp::SheetKind kindOf(biff::SheetKind kind)
{
    switch (kind) {
    case biff::SheetKind::Worksheet:
    case biff::SheetKind::MacroSheet:
        break;
    case biff::SheetKind::Chart:
        return sheetapp::SheetKind::Chart;
    case biff::SheetKind::Dialog:
        return sheetapp::SheetKind::Dialog;
    case biff::SheetKind::Module:
        return sheetapp::SheetKind::Module;
    }
    return sheetapp::SheetKind::Worksheet;
}

QString kindText(biff::SheetKind kind)
{
    return kind == biff::SheetKind::MacroSheet ? QStringLiteral("Excel 4 macro sheet")
                                               : sheetapp::sheetKindText(kindOf(kind));
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
        std::unique_lock<std::mutex> lock(m_mutex);
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
        m_readVersion = xlsx::FileIdentity::of(canonicalPath());
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
        if (d->document.is()) {
            if (mapSheets(error))
                return true;
        } else if (ok) {
            *error = QStringLiteral("%1: LibreOffice cannot load it as a spreadsheet").arg(path());
        }
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

bool Book::mapSheets(QString *error)
{
    // LibreOffice turns a chart sheet into a worksheet holding the chart, and may drop or
    // keep the other kinds: the file's own sheet records say what the workbook holds.
    QByteArray stream;
    std::vector<biff::Sheet> sheets;
    if (biff::readWorkbookStream(canonicalPath(), qint64(1) << 30, &stream))
        sheets = biff::sheetsOf(stream);
    d->sheets.clear();
    d->cellSheet.clear();
    if (std::all_of(sheets.cbegin(), sheets.cend(),
                    [](const biff::Sheet &s) { return s.kind == biff::SheetKind::Worksheet; }))
        return true;
    QStringList names;
    if (!call(QStringLiteral("Sheets"), error, [&] {
            for (const rtl::OUString &n : d->document->getSheets()->getElementNames())
                names << toQString(n);
        }))
        return false;
    for (const biff::Sheet &s : sheets) {
        int at = -1;
        if (s.kind == biff::SheetKind::Worksheet || s.kind == biff::SheetKind::MacroSheet) {
            at = int(names.indexOf(s.name));
            for (int i = 0; i < names.size() && at < 0; ++i)
                if (names.at(i).compare(s.name, Qt::CaseInsensitive) == 0)
                    at = i;
        }
        d->cellSheet.push_back(at);
    }
    d->sheets = std::move(sheets);
    return true;
}

bool Book::cellSheet(int index, int *loIndex, QString *error) const
{
    if (d->sheets.empty()) {
        *loIndex = index;
        return true;
    }
    if (index < 0 || size_t(index) >= d->sheets.size()) {
        *error = QStringLiteral("%1: no sheet %2").arg(path()).arg(index + 1);
        return false;
    }
    *loIndex = d->cellSheet[size_t(index)];
    if (*loIndex >= 0)
        return true;
    *error = noCells(index);
    return false;
}

QString Book::noCells(int index) const
{
    if (d->sheets.empty() || index < 0 || size_t(index) >= d->sheets.size() ||
        d->cellSheet[size_t(index)] >= 0)
        return QString();
    const biff::Sheet &s = d->sheets[size_t(index)];
    if (s.kind == biff::SheetKind::Worksheet || s.kind == biff::SheetKind::MacroSheet)
        return QStringLiteral("%1: LibreOffice did not load the cells of sheet \"%2\"")
            .arg(path(), s.name);
    return QStringLiteral("%1: sheet \"%2\" is a %3, it has no cells")
        .arg(path(), s.name, kindText(s.kind));
}

sheetapp::SheetKind Book::sheetKind(int sheet)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (d->sheets.empty() || sheet < 0 || size_t(sheet) >= d->sheets.size())
        return sheetapp::SheetKind::Worksheet;
    return kindOf(d->sheets[size_t(sheet)].kind);
}

bool Book::hasCells(int sheet, QString *error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int loIndex = 0;
    return cellSheet(sheet, &loIndex, error);
}

void Book::close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
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
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!d->sheets.empty())
        return int(d->sheets.size());
    int count = 0;
    if (!call(QStringLiteral("Sheets.Count"), error,
              [&] { count = d->document->getSheets()->getElementNames().getLength(); }))
        return -1;
    return count;
}

bool Book::sheetName(int sheet, QString *name, QString *error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!d->sheets.empty()) {
        if (sheet >= 0 && size_t(sheet) < d->sheets.size()) {
            *name = d->sheets[size_t(sheet)].name;
            return true;
        }
        *error = QStringLiteral("%1: no sheet %2").arg(path()).arg(sheet + 1);
        return false;
    }
    return call(QStringLiteral("Sheet.Name"), error, [&] {
        Reference<css::container::XNamed> named(sheetAt(*d, sheet), UNO_QUERY_THROW);
        *name = toQString(named->getName());
    });
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
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!cellSheet(sheet, &sheet, error))
        return false;
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
    std::lock_guard<std::mutex> lock(m_mutex);
    *replaced = 0;
    if (!cellSheet(sheet, &sheet, error))
        return false;
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
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!cellSheet(sheet, &sheet, error))
        return false;
    return call(QStringLiteral("Range.Value"), error,
                [&] { writeTypedInput(d->document, rangeOf(*d, sheet, range), text); });
}

bool Book::save(QString *error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // LibreOffice stores into its instance's folder, where its own temporary
    // files go too; the result is copied into the hidden temporary beside the
    // workbook. The save step refuses read-only files, keeps mode and owner,
    // and replaces the workbook in one step.
    // A workbook with no change leaves its file as it is.
    bool modified = true;
    if (!call(QStringLiteral("store"), error, [&] {
            Reference<css::util::XModifiable> state(d->document, UNO_QUERY);
            modified = !state.is() || state->isModified();
        }))
        return false;
    if (!modified)
        return true;
    if (!d->sheets.empty()) {
        // Excel 97 as LibreOffice writes it keeps worksheets only.
        const auto other =
            std::find_if(d->sheets.cbegin(), d->sheets.cend(),
                         [](const biff::Sheet &s) { return s.kind != biff::SheetKind::Worksheet; });
        *error = QStringLiteral("%1: cannot save: LibreOffice would store its %2 \"%3\" as a "
                                "worksheet; the file is left as it was")
                     .arg(path(), kindText(other->kind), other->name);
        return false;
    }
    xlsx::SaveFile file(canonicalPath());
    if (!file.open(error))
        return false;
    const QString stored = storePath();
    if (stored.isEmpty()) {
        *error =
            QStringLiteral("%1: cannot save: no folder for LibreOffice to store into").arg(path());
        return false;
    }
    file.setReadVersion(m_readVersion);
    const bool ok = call(QStringLiteral("store"), error, [&] {
        Reference<css::frame::XStorable> storable(d->document, UNO_QUERY_THROW);
        const Sequence<css::beans::PropertyValue> args = properties({
            property("FilterName", Any(rtl::OUString("MS Excel 97"))),
            property("Overwrite", Any(true)),
        });
        storable->storeToURL(fileUrl(stored), args);
    });
    if (!ok || !moveInto(stored, &file, error)) {
        QFile::remove(stored);
        file.cancel();
        return false;
    }
    if (!file.commit(error))
        return false;
    m_readVersion = file.savedVersion();
    return true;
}

QString Book::storePath() const
{
    const QString dir = d->instance->process->dir;
    if (dir.isEmpty() || !QDir().mkpath(dir + QStringLiteral("/store")))
        return QString();
    return QStringLiteral("%1/store/%2.xls").arg(dir).arg(quintptr(this), 0, 16);
}

bool Book::moveInto(const QString &stored, xlsx::SaveFile *file, QString *error) const
{
    QFile in(stored);
    QString why;
    if (!in.open(QIODevice::ReadOnly))
        why = in.errorString();
    while (why.isEmpty() && !in.atEnd()) {
        const QByteArray chunk = in.read(1 << 20);
        if (in.error() != QFileDevice::NoError)
            why = in.errorString();
        else if (file->device()->write(chunk) != chunk.size())
            why = file->writeError().isEmpty() ? QStringLiteral("the temporary cannot be written")
                                               : file->writeError();
    }
    in.close();
    QFile::remove(stored);
    if (why.isEmpty())
        return true;
    *error = QStringLiteral("%1: cannot save: %2").arg(path(), why);
    return false;
}

} // namespace libreoffice
