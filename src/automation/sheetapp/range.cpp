#include "automation/sheetapp/application_p.h"
#include "automation/sheetapp/cellreplace_p.h"
#include "automation/sheetapp/cellwrite_p.h"
#include "automation/sheetapp/matcher_p.h"
#include "automation/sheetapp/replacequeue_p.h"

#include <QDebug>

#include <algorithm>

using automation::CallResult;

namespace sheetapp {
namespace {

bool intersects(const xlsx::CellRange &a, const xlsx::CellRange &b)
{
    return a.firstRow <= b.lastRow && b.firstRow <= a.lastRow && a.firstColumn <= b.lastColumn &&
           b.firstColumn <= a.lastColumn;
}

} // namespace

CallResult RangeObject::invoke(const QByteArray &member, const QVariantList &args)
{
    if (member == "Replace") {
        if (args.size() < 2 || args.size() > 5)
            return CallResult::failure(
                QStringLiteral("Range.Replace takes 2 to 5 arguments, %1 given").arg(args.size()));
        return replace(args);
    }
    QString error;
    if (!document(&error))
        return CallResult::failure(error);
    if (member == "Address" || member == "Count") {
        if (!args.isEmpty())
            return wrongArgumentCount(*this, member, 0, args.size());
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
    return unknownMember(*this, member);
}

bool RangeObject::setProperty(const QByteArray &name, const QVariant &value, QString *error)
{
    if (name != "Value")
        return unknownProperty(*this, name, error);
    QString why;
    const bool ok = writeValue(value, &why);
    if (!ok && error)
        *error = why;
    return ok;
}

CallResult RangeObject::replace(const QVariantList &args)
{
    QString error;
    // Calls queued on the workbook stay queued: this one joins them.
    xlsx::Document *doc = document(&error, false);
    if (!doc)
        return CallResult::failure(error);
    xlsx::Worksheet *ws = doc->worksheet(m_sheet, &error);
    if (!ws)
        return CallResult::failure(error);

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
    const bool matchCase = args.size() > 4 && args[4].isValid() && args[4].toBool();
    ReplaceCall call(m_sheet, m_range, whatArg.toString(), matchCase, replacementArg.toString(),
                     lookAt, searchOrder);
    return CallResult::ofValue(m_book->replaces.replace(doc, m_book->path, std::move(call)));
}

bool RangeObject::writeValue(const QVariant &value, QString *error)
{
    xlsx::Document *doc = document(error);
    if (!doc)
        return false;
    xlsx::Worksheet *ws = doc->worksheet(m_sheet, error);
    if (!ws)
        return false;
    const int type = value.userType();
    if (!value.isValid() || type == QMetaType::QVariantList || type == QMetaType::QVariantMap ||
        type == QMetaType::QStringList || !value.canConvert<QString>()) {
        *error = QStringLiteral("Range.Value: the value is not a text");
        return false;
    }
    const QString text = value.toString();
    if (text.size() > kMaxCellText) {
        *error =
            QStringLiteral("Range.Value: the text is longer than %1 characters").arg(kMaxCellText);
        return false;
    }
    const long long cells = static_cast<long long>(m_range.rowCount()) * m_range.columnCount();
    if (cells > kMaxValueCells) {
        *error = QStringLiteral("Range.Value: %1 cells are more than one write fills").arg(cells);
        return false;
    }
    for (const xlsx::CellRange &array : ws->arrayFormulaRanges()) {
        if ((array.rowCount() > 1 || array.columnCount() > 1) && intersects(array, m_range)) {
            *error =
                QStringLiteral("Range.Value: %1 is part of an array formula").arg(array.toString());
            return false;
        }
    }
    if (ws->isProtected()) {
        for (int r = m_range.firstRow; r <= m_range.lastRow; ++r) {
            for (int c = m_range.firstColumn; c <= m_range.lastColumn; ++c) {
                if (doc->isStyleLocked(ws->cell(r, c).style)) {
                    *error = QStringLiteral("%1: cell %2 of the protected sheet \"%3\" is locked")
                                 .arg(m_book->path, xlsx::CellRef(r, c).toString(), ws->name());
                    return false;
                }
            }
        }
    }
    // Each cell takes the text as typed input, in its own number format.
    SheetWriter writer(doc, ws);
    for (int r = m_range.firstRow; r <= m_range.lastRow; ++r) {
        for (int c = m_range.firstColumn; c <= m_range.lastColumn; ++c) {
            const CellEdit edit = typedInput(text, writer.formats().of(ws->cell(r, c).style));
            if (!writer.write(r, c, edit, error)) {
                *error = QStringLiteral("%1, sheet \"%2\", cell %3: %4")
                             .arg(m_book->path, ws->name(), xlsx::CellRef(r, c).toString(), *error);
                return false;
            }
        }
    }
    return true;
}

} // namespace sheetapp
