#include "automation/sheetapp/application_p.h"
#include "automation/sheetapp/cellreplace_p.h"
#include "automation/sheetapp/cellwrite_p.h"
#include "automation/sheetapp/matcher_p.h"

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
    xlsx::Document *doc = document(&error);
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
    const QString replacement = replacementArg.toString();
    const WildcardPattern pattern(whatArg.toString(), matchCase);
    if (pattern.isEmpty())
        return CallResult::ofValue(false);

    // Cells that cannot match are passed over without decoding them: numbers
    // when the pattern asks for a character no number, date or time shows, and
    // every further cell of a shared string that already failed to match.
    const bool numbersCanMatch = pattern.couldMatchOnly(QStringLiteral("0123456789.-+E/: "));
    // Strings that cannot hold the pattern's text are told apart from their
    // stored bytes, without decoding them.
    const QByteArray literal = pattern.exactLiteral().toUtf8();
    std::vector<bool> sharedMisses;
    const bool locked = ws->isProtected();
    SheetWriter writer(doc, ws);
    bool changed = false;
    const auto visit = [&](int index, const xlsx::CellHead &head) {
        if (!m_range.contains(head.row, head.column))
            return;
        const int sst = head.sharedString;
        if (!head.hasFormula) {
            if (head.type == xlsx::CellType::Number && !numbersCanMatch)
                return;
            if (head.type == xlsx::CellType::Empty)
                return;
            if (sst >= 0 && size_t(sst) < sharedMisses.size() && sharedMisses[size_t(sst)])
                return;
        }
        const auto missShared = [&]() {
            if (!head.hasFormula && sst >= 0) {
                if (size_t(sst) >= sharedMisses.size())
                    sharedMisses.resize(size_t(sst) + 1, false);
                sharedMisses[size_t(sst)] = true;
            }
        };
        if (!head.hasFormula && !literal.isEmpty() &&
            (head.type == xlsx::CellType::InlineString ||
             head.type == xlsx::CellType::SharedString) &&
            !ws->textMayContain(index, literal)) {
            missShared();
            return;
        }
        if (locked && doc->isStyleLocked(head.style))
            return; // a protected sheet's locked cells are not changed
        const CellEdit edit = replaceInCell(ws->cellAt(index), writer.formats().of(head.style),
                                            pattern, replacement, lookAt);
        if (edit.kind == CellEdit::None) {
            missShared();
            return;
        }
        QString why = edit.reason;
        if (edit.kind != CellEdit::Refused && writer.write(head.row, head.column, edit, &why)) {
            changed = true;
            return;
        }
        qWarning().noquote() << QStringLiteral("Range.Replace: %1, sheet \"%2\", cell %3 left "
                                               "unchanged: %4")
                                    .arg(m_book->path, ws->name(),
                                         xlsx::CellRef(head.row, head.column).toString(), why);
    };

    // Cells are visited by their position in the sheet, which is row by row;
    // editing a cell that exists keeps every position.
    const int count = ws->cellCount();
    if (searchOrder == 1) {
        for (int i = 0; i < count; ++i)
            visit(i, ws->headAt(i));
    } else {
        std::vector<std::pair<int, int>> byColumn; // (column, position)
        for (int i = 0; i < count; ++i) {
            const xlsx::CellHead h = ws->headAt(i);
            if (m_range.contains(h.row, h.column))
                byColumn.emplace_back(h.column, i);
        }
        // Positions grow with the row within a column.
        std::sort(byColumn.begin(), byColumn.end());
        for (const auto &cp : byColumn)
            visit(cp.second, ws->headAt(cp.second));
    }
    return CallResult::ofValue(changed);
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
