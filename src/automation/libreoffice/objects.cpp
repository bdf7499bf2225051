#include "automation/libreoffice/objects_p.h"
#include "automation/sheetapp/application_p.h"
#include "automation/sheetapp/cellreplace_p.h"
#include "automation/sheetapp/rangeref_p.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

using automation::CallResult;

namespace libreoffice {

namespace {

// Largest number of cells one Value write fills.
constexpr long long kMaxValueCells = 1048576;

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
        if (!m_book->save(&error)) {
            qWarning().noquote() << "Workbook.Save:" << error;
            return CallResult::failure(error);
        }
        // Save answers nothing; a failed save is a failed call.
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
        if (args.size() < 2 || args.size() > 5)
            return CallResult::failure(
                QStringLiteral("Range.Replace takes 2 to 5 arguments, %1 given").arg(args.size()));
        return replace(args);
    }
    if (member == "Address" || member == "Count") {
        if (!args.isEmpty())
            return argumentCount(*this, member, 0, args);
        if (member == "Count")
            return CallResult::ofValue(static_cast<qlonglong>(m_range.rowCount()) *
                                       m_range.columnCount());
        auto corner = [](int row, int column) {
            return QStringLiteral("$%1$%2").arg(xlsx::columnName(column)).arg(row);
        };
        QString address = corner(m_range.firstRow, m_range.firstColumn);
        if (m_range.rowCount() > 1 || m_range.columnCount() > 1)
            address += QLatin1Char(':') + corner(m_range.lastRow, m_range.lastColumn);
        return CallResult::ofValue(address);
    }
    return sheetapp::unknownMember(*this, member);
}

CallResult RangeObject::replace(const QVariantList &args)
{
    auto optionalInt = [&args](int i, int fallback, bool *ok) {
        *ok = true;
        if (i >= args.size() || !args[i].isValid())
            return fallback;
        return args[i].toInt(ok);
    };
    const QVariant &whatArg = args[0];
    const QVariant &replacementArg = args[1];
    if (!whatArg.isValid() || !whatArg.canConvert<QString>() || !replacementArg.isValid() ||
        !replacementArg.canConvert<QString>())
        return CallResult::failure(QStringLiteral("Range.Replace: What and Replacement must be "
                                                  "texts"));
    bool ok = false;
    const int lookAt = optionalInt(2, 2, &ok);
    if (!ok || (lookAt != 1 && lookAt != 2))
        return CallResult::failure(
            QStringLiteral("Range.Replace: LookAt must be 1 (whole) or 2 (part)"));
    const int searchOrder = optionalInt(3, 1, &ok);
    if (!ok || (searchOrder != 1 && searchOrder != 2))
        return CallResult::failure(
            QStringLiteral("Range.Replace: SearchOrder must be 1 (rows) or 2 (columns)"));
    ReplaceOptions options;
    options.what = whatArg.toString();
    options.replacement = replacementArg.toString();
    options.wholeCell = lookAt == 1;
    options.byRows = searchOrder == 1;
    options.matchCase = args.size() > 4 && args[4].isValid() && args[4].toBool();
    int replaced = 0;
    QString error;
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
    const int type = value.userType();
    if (!value.isValid() || type == QMetaType::QVariantList || type == QMetaType::QVariantMap ||
        type == QMetaType::QStringList || !value.canConvert<QString>()) {
        *error = QStringLiteral("Range.Value: the value is not a text");
        return false;
    }
    const QString text = value.toString();
    if (text.size() > sheetapp::kMaxCellText) {
        *error = QStringLiteral("Range.Value: the text is longer than %1 characters")
                     .arg(sheetapp::kMaxCellText);
        return false;
    }
    const long long cells = static_cast<long long>(m_range.rowCount()) * m_range.columnCount();
    if (cells > kMaxValueCells) {
        *error = QStringLiteral("Range.Value: %1 cells are more than one write fills").arg(cells);
        return false;
    }
    return m_book->setText(m_sheet, m_range, text, error);
}

} // namespace libreoffice
