#include "automation/libreoffice/objects_p.h"
#include "automation/sheetapp/application_p.h"
#include "automation/sheetapp/cellreplace_p.h"
#include "automation/sheetapp/rangeargs_p.h"
#include "automation/sheetapp/rangeref_p.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

using automation::CallResult;

namespace libreoffice {

namespace {

CallResult argumentCount(const automation::Dispatch &object, const QByteArray &member, int expected,
                         const QVariantList &args)
{
    return sheetapp::wrongArgumentCount(object, member, expected, args.size());
}

} // namespace

// ---------------------------------------------------------------------------
// The entry from the embedded application

BookPtr openBook(const QString &canonicalPath, const QString &shownPath, const BookPtr &sibling,
                 QString *error)
{
    auto book = std::make_shared<Book>(canonicalPath, shownPath);
    if (!book->load(sibling, error))
        return nullptr;
    return book;
}

bool isBookOpen(const BookPtr &book)
{
    return book && book->isOpen();
}

void closeBook(const BookPtr &book)
{
    if (book)
        book->close();
}

automation::DispatchPtr workbookObject(const BookPtr &book)
{
    return std::make_shared<WorkbookObject>(book);
}

// ---------------------------------------------------------------------------

bool BookDispatch::setProperty(const QByteArray &name, const QVariant &, QString *error)
{
    return sheetapp::unknownProperty(*this, name, error);
}

bool BookDispatch::open(CallResult *failure) const
{
    if (m_book && m_book->isOpen())
        return true;
    *failure =
        CallResult::failure(QStringLiteral("the workbook has been closed (the application quit)"));
    return false;
}

CallResult WorkbookObject::invoke(const QByteArray &member, const QVariantList &args)
{
    CallResult r;
    if (!open(&r))
        return r;
    if (!args.isEmpty())
        return argumentCount(*this, member, 0, args);
    QString error;
    if (member == "Path")
        return CallResult::ofValue(
            QDir::toNativeSeparators(QFileInfo(m_book->shownPath()).absolutePath()));
    if (member == "Sheets")
        return CallResult::ofObject(std::make_shared<SheetsObject>(m_book));
    if (member == "ActiveSheet") {
        const int index = m_book->activeSheet(&error);
        if (index < 0)
            return CallResult::failure(error);
        return CallResult::ofObject(std::make_shared<SheetObject>(m_book, index));
    }
    if (member == "Save") {
        // Like the real member it returns nothing; a save that fails is a failed call.
        if (!m_book->save(&error))
            return CallResult::failure(error);
        return CallResult::ofValue(QVariant());
    }
    return sheetapp::unknownMember(*this, member);
}

CallResult SheetsObject::invoke(const QByteArray &member, const QVariantList &args)
{
    CallResult r;
    if (!open(&r))
        return r;
    QString error;
    const int count = m_book->sheetCount(&error);
    if (count < 0)
        return CallResult::failure(error);
    if (member == "Count") {
        if (!args.isEmpty())
            return argumentCount(*this, member, 0, args);
        return CallResult::ofValue(count);
    }
    if (member != "Item")
        return sheetapp::unknownMember(*this, member);
    if (args.size() != 1)
        return argumentCount(*this, member, 1, args);
    const QVariant &v = args.first();
    int index = -1;
    if (v.type() == QVariant::String) {
        // A name, as the collection also accepts.
        for (int i = 0; i < count && index < 0; ++i) {
            const QString name = m_book->sheetName(i, &error);
            if (!error.isEmpty())
                return CallResult::failure(error);
            if (name.compare(v.toString(), Qt::CaseInsensitive) == 0)
                index = i;
        }
    } else if (v.isValid()) {
        bool ok = false;
        const double number = v.toDouble(&ok);
        if (ok && number == static_cast<int>(number))
            index = static_cast<int>(number) - 1;
    }
    if (index < 0 || index >= count)
        return CallResult::failure(QStringLiteral("Sheets.Item: no sheet %1 (the workbook has %2)")
                                       .arg(v.toString())
                                       .arg(count));
    return CallResult::ofObject(std::make_shared<SheetObject>(m_book, index));
}

CallResult SheetObject::invoke(const QByteArray &member, const QVariantList &args)
{
    CallResult r;
    if (!open(&r))
        return r;
    QString error;
    if (member == "Name") {
        if (!args.isEmpty())
            return argumentCount(*this, member, 0, args);
        const QString name = m_book->sheetName(m_index, &error);
        return error.isEmpty() ? CallResult::ofValue(name) : CallResult::failure(error);
    }
    if (member == "UsedRange") {
        if (!args.isEmpty())
            return argumentCount(*this, member, 0, args);
        xlsx::CellRange used;
        if (!m_book->usedRange(m_index, &used, &error))
            return CallResult::failure(error);
        return CallResult::ofObject(std::make_shared<RangeObject>(m_book, m_index, used));
    }
    if (member == "Range") {
        if (args.size() != 1)
            return argumentCount(*this, member, 1, args);
        const QString none = m_book->noCells(m_index);
        if (!none.isEmpty())
            return CallResult::failure(none);
        const QVariant &ref = args.first();
        xlsx::CellRange range = ref.type() == QVariant::String
                                    ? sheetapp::parseRangeReference(ref.toString())
                                    : xlsx::CellRange();
        // The binary format ends at row 65536 and column IV.
        if (range.isValid() && (range.lastRow > 65536 || range.lastColumn > 256))
            range = xlsx::CellRange();
        if (!range.isValid())
            return CallResult::failure(
                QStringLiteral("Range: \"%1\" is not a cell or a rectangular range of an .xls "
                               "sheet")
                    .arg(ref.toString()));
        return CallResult::ofObject(std::make_shared<RangeObject>(m_book, m_index, range));
    }
    return sheetapp::unknownMember(*this, member);
}

CallResult RangeObject::invoke(const QByteArray &member, const QVariantList &args)
{
    CallResult r;
    if (!open(&r))
        return r;
    if (member == "Replace") {
        QString error;
        if (!sheetapp::checkReplaceArgumentCount(args, &error))
            return CallResult::failure(error);
        return replace(args);
    }
    if (member == "Address" || member == "Count") {
        if (!args.isEmpty())
            return argumentCount(*this, member, 0, args);
        if (member == "Count")
            return CallResult::ofValue(static_cast<qlonglong>(m_range.rowCount()) *
                                       m_range.columnCount());
        return CallResult::ofValue(sheetapp::rangeAddress(m_range));
    }
    return sheetapp::unknownMember(*this, member);
}

CallResult RangeObject::replace(const QVariantList &args)
{
    QString error;
    sheetapp::ReplaceArguments parsed;
    if (!sheetapp::parseReplaceArguments(args, &parsed, &error))
        return CallResult::failure(error);
    ReplaceOptions options;
    options.what = parsed.what;
    options.replacement = parsed.replacement;
    options.wholeCell = parsed.lookAt == 1;
    options.byRows = parsed.searchOrder == 1;
    options.matchCase = parsed.matchCase;
    int replaced = 0;
    if (!m_book->replace(m_sheet, m_range, options, &replaced, &error)) {
        // As on the embedded path, a replace that fails changes nothing and
        // the job goes on; a dead instance fails the Save that follows.
        qWarning().noquote() << "Range.Replace:" << error;
        return CallResult::ofValue(false);
    }
    return CallResult::ofValue(replaced > 0);
}

bool RangeObject::setProperty(const QByteArray &name, const QVariant &value, QString *error)
{
    if (name != "Value")
        return sheetapp::unknownProperty(*this, name, error);
    CallResult r;
    if (!open(&r)) {
        *error = r.error;
        return false;
    }
    QString text;
    if (!sheetapp::valueWriteText(value, m_range, &text, error))
        return false;
    return m_book->setText(m_sheet, m_range, text, error);
}

} // namespace libreoffice
