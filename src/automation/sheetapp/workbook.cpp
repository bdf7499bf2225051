// Workbook, Sheets and Worksheet (or Chart).
#include "automation/sheetapp/objects_p.h"
#include "automation/sheetapp/rangeref_p.h"

#include <QDir>
#include <QFileInfo>

using automation::CallResult;

namespace sheetapp {

namespace {

struct KindNames
{
    SheetKind kind;
    const char *type;
    const char *text;
};
constexpr KindNames kKindNames[] = {
    {SheetKind::Worksheet, "Worksheet", "worksheet"},
    {SheetKind::Chart, "Chart", "chart sheet"},
    {SheetKind::Dialog, "DialogSheet", "dialog sheet"},
    {SheetKind::Module, "Module", "Visual Basic module"},
};

const KindNames &namesOf(SheetKind kind)
{
    for (const KindNames &n : kKindNames)
        if (n.kind == kind)
            return n;
    return kKindNames[0];
}

} // namespace

QString sheetTypeName(SheetKind kind)
{
    return QString::fromLatin1(namesOf(kind).type);
}

QString sheetKindText(SheetKind kind)
{
    return QString::fromLatin1(namesOf(kind).text);
}

BookPtr bookOf(const automation::DispatchPtr &workbook)
{
    const auto *object = dynamic_cast<const WorkbookObject *>(workbook.get());
    return object ? object->book() : nullptr;
}

bool BookObject::setProperty(const QByteArray &name, const QVariant &, QString *error)
{
    return unknownProperty(*this, name, error);
}

bool BookObject::isOpen(CallResult *failure) const
{
    if (m_book && m_book->isOpen())
        return true;
    *failure =
        CallResult::failure(QStringLiteral("the workbook has been closed (the application quit)"));
    return false;
}

// ---------------------------------------------------------------------------
// Workbook

CallResult WorkbookObject::invoke(const QByteArray &member, const QVariantList &args)
{
    CallResult failure;
    if (!isOpen(&failure))
        return failure;
    if (!args.isEmpty())
        return wrongArgumentCount(*this, member, 0, args.size());
    QString error;
    if (member == "Path") {
        // The folder, without a trailing separator.
        return CallResult::ofValue(
            QDir::toNativeSeparators(QFileInfo(m_book->path()).absolutePath()));
    }
    if (member == "Sheets")
        return CallResult::ofObject(std::make_shared<SheetsObject>(m_book));
    if (member == "ActiveSheet") {
        const int index = m_book->activeSheet(&error);
        if (index < 0)
            return CallResult::failure(error);
        return CallResult::ofObject(
            std::make_shared<SheetObject>(m_book, index, m_book->sheetKind(index)));
    }
    if (member == "Save") {
        // Like the real member it returns nothing; a save that fails is a failed call.
        if (!m_book->save(&error))
            return CallResult::failure(error);
        return CallResult::ofValue(QVariant());
    }
    return unknownMember(*this, member);
}

// ---------------------------------------------------------------------------
// Sheets

CallResult SheetsObject::invoke(const QByteArray &member, const QVariantList &args)
{
    CallResult failure;
    if (!isOpen(&failure))
        return failure;
    QString error;
    const int count = m_book->sheetCount(&error);
    if (count < 0)
        return CallResult::failure(error);
    if (member == "Count") {
        if (!args.isEmpty())
            return wrongArgumentCount(*this, member, 0, args.size());
        return CallResult::ofValue(count);
    }
    if (member != "Item")
        return unknownMember(*this, member);
    if (args.size() != 1)
        return wrongArgumentCount(*this, member, 1, args.size());
    const QVariant &v = args.first();
    int index = -1;
    if (v.type() == QVariant::String) {
        // A name, in any letter case, as the collection also accepts.
        for (int i = 0; i < count && index < 0; ++i) {
            QString name;
            if (!m_book->sheetName(i, &name, &error))
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
    return CallResult::ofObject(
        std::make_shared<SheetObject>(m_book, index, m_book->sheetKind(index)));
}

// ---------------------------------------------------------------------------
// Worksheet / Chart

CallResult SheetObject::invoke(const QByteArray &member, const QVariantList &args)
{
    CallResult failure;
    if (!isOpen(&failure))
        return failure;
    QString error;
    QString name;
    if (member == "Name") {
        if (!args.isEmpty())
            return wrongArgumentCount(*this, member, 0, args.size());
        if (!m_book->sheetName(m_index, &name, &error))
            return CallResult::failure(error);
        return CallResult::ofValue(name);
    }
    if (member != "UsedRange" && member != "Range")
        return unknownMember(*this, member);
    const int expected = member == "Range" ? 1 : 0;
    if (args.size() != expected)
        return wrongArgumentCount(*this, member, expected, args.size());
    if (m_kind != SheetKind::Worksheet) {
        if (!m_book->sheetName(m_index, &name, &error))
            return CallResult::failure(error);
        return CallResult::failure(QStringLiteral("%1: sheet \"%2\" is a %3, it has no cells")
                                       .arg(m_book->path(), name, sheetKindText(m_kind)));
    }
    if (!m_book->hasCells(m_index, &error))
        return CallResult::failure(error);
    if (member == "UsedRange") {
        xlsx::CellRange used;
        if (!m_book->usedRange(m_index, &used, &error))
            return CallResult::failure(error);
        return CallResult::ofObject(std::make_shared<RangeObject>(m_book, m_index, used));
    }
    const QVariant &ref = args.first();
    const xlsx::CellRange range =
        ref.type() == QVariant::String ? parseRangeReference(ref.toString()) : xlsx::CellRange();
    if (!range.isValid())
        return CallResult::failure(
            QStringLiteral("Range: \"%1\" is not a cell or a rectangular range")
                .arg(ref.toString()));
    const Limits limits = m_book->limits();
    if (range.lastRow > limits.rows || range.lastColumn > limits.columns)
        return CallResult::failure(
            QStringLiteral("Range: \"%1\" lies beyond the %2 rows and %3 columns of the sheet")
                .arg(ref.toString())
                .arg(limits.rows)
                .arg(limits.columns));
    return CallResult::ofObject(std::make_shared<RangeObject>(m_book, m_index, range));
}

} // namespace sheetapp
