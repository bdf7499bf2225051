#include "automation/embedded/cellreplace_p.h"

#include "automation/sheetapp/numbertext.h"
#include "xlsx/formula.h"

namespace embedded {

namespace {

bool isMultiCellArray(const xlsx::Cell &cell)
{
    return cell.formulaKind == xlsx::FormulaKind::ArrayMaster &&
           static_cast<long long>(cell.formulaRange.rowCount()) * cell.formulaRange.columnCount() >
               1;
}

CellEdit refused(const QString &reason)
{
    CellEdit e;
    e.kind = CellEdit::Refused;
    e.reason = reason;
    return e;
}

CellEdit typed(CellEdit::Kind kind, const QString &text)
{
    CellEdit e;
    e.kind = kind;
    e.text = text;
    return e;
}

// A constant's result: again a boolean or an error constant, or text.
CellEdit constantResult(const QString &result)
{
    bool b = false;
    if (readBooleanText(result, &b))
        return typed(CellEdit::Boolean, b ? QStringLiteral("1") : QStringLiteral("0"));
    const QString error = xlsx::errorConstant(result);
    if (!error.isEmpty())
        return typed(CellEdit::Error, error);
    return typed(CellEdit::String, result);
}

} // namespace

QString shownText(const xlsx::Cell &cell, const CellFormat &format, bool *searchable)
{
    *searchable = false;
    if (!cell.exists)
        return QString();
    if (cell.hasFormula()) {
        // A data table has no formula text; a multi-cell array is matched, then refused.
        if (cell.formula.isEmpty())
            return QString();
        *searchable = true;
        return QLatin1Char('=') + xlsx::hideFormulaPrefixes(cell.formula);
    }
    if (cell.inArrayRange)
        return QString();
    switch (cell.type) {
    case xlsx::CellType::SharedString:
    case xlsx::CellType::InlineString:
    case xlsx::CellType::FormulaString:
        *searchable = true;
        return cell.text;
    case xlsx::CellType::Number: {
        QString t;
        if (format.isDateOrTime()) {
            bool ok = false;
            const double v = cell.text.trimmed().toDouble(&ok);
            if (ok)
                t = dateTimeText(v, format.kind, format.date1904);
        }
        if (t.isEmpty())
            t = numberLiteralText(cell.text);
        *searchable = !t.isEmpty();
        return t;
    }
    case xlsx::CellType::Boolean: {
        const QString v = cell.text.trimmed();
        *searchable = true;
        return (v == QLatin1String("1") ||
                v.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
                   ? QStringLiteral("TRUE")
                   : QStringLiteral("FALSE");
    }
    case xlsx::CellType::Error:
        *searchable = !cell.text.trimmed().isEmpty();
        return cell.text.trimmed();
    case xlsx::CellType::Empty:
    case xlsx::CellType::IsoDate:
        break;
    }
    return QString();
}

CellEdit replaceInCell(const xlsx::Cell &cell, const CellFormat &format,
                       const WildcardPattern &what, const QString &replacement, int lookAt)
{
    CellEdit edit;
    bool searchable = false;
    const QString shown = shownText(cell, format, &searchable);
    if (!searchable || what.isEmpty())
        return edit;

    QString result;
    if (lookAt == 1) {
        if (!what.matchesWhole(shown))
            return edit;
        result = replacement;
    } else {
        const QVector<TextMatch> matches = what.findAll(shown);
        if (matches.isEmpty())
            return edit;
        result = replaceMatches(shown, matches, replacement);
    }
    if (result == shown)
        return edit;
    if (isMultiCellArray(cell))
        return refused(QStringLiteral("it is part of the multi-cell array formula %1, which is "
                                      "changed only as a whole")
                           .arg(cell.formulaRange.toString()));
    if (result.isEmpty())
        return typed(CellEdit::Empty, QString());

    if (cell.hasFormula() && result.startsWith(QLatin1Char('='))) {
        if (result.size() > kMaxFormulaText)
            return refused(QStringLiteral("the formula would be longer than %1 characters")
                               .arg(kMaxFormulaText));
        const QString formula =
            xlsx::addFunctionPrefixes(xlsx::restoreFormulaPrefixes(result.mid(1), cell.formula));
        if (!formulaLooksWellFormed(formula))
            return refused(QStringLiteral("the result is not a well-formed formula"));
        return typed(cell.formulaKind == xlsx::FormulaKind::ArrayMaster ? CellEdit::ArrayFormula
                                                                        : CellEdit::Formula,
                     formula);
    }
    if (result.size() > kMaxCellText)
        return refused(
            QStringLiteral("the text would be longer than %1 characters").arg(kMaxCellText));
    if (cell.hasFormula())
        return typed(CellEdit::String, result);
    switch (cell.type) {
    case xlsx::CellType::Number: {
        if (format.kind == ValueFormat::Text)
            break;
        double value = 0;
        if (format.isDateOrTime()) {
            if (parseDateTimeText(result, format.date1904, &value))
                return typed(CellEdit::Number, numberText(value));
            break;
        }
        if (isPlainNumber(result, &value))
            return typed(CellEdit::Number, numberText(value));
        break;
    }
    case xlsx::CellType::Boolean:
    case xlsx::CellType::Error:
        return constantResult(result);
    default:
        break;
    }
    return typed(CellEdit::String, result);
}

CellEdit typedInput(const QString &text, const CellFormat &format)
{
    const TypedInput in = readTypedInput(text, format);
    switch (in.kind) {
    case TypedInput::Empty:
        return typed(CellEdit::Empty, QString());
    case TypedInput::Refused:
        return refused(in.text);
    case TypedInput::Number:
        return typed(CellEdit::Number, numberText(in.number));
    case TypedInput::Boolean:
        return typed(CellEdit::Boolean, in.number != 0 ? QStringLiteral("1") : QStringLiteral("0"));
    case TypedInput::Error:
        return typed(CellEdit::Error, in.text);
    case TypedInput::Formula:
        return typed(CellEdit::Formula, xlsx::addFunctionPrefixes(in.text.mid(1)));
    case TypedInput::Text:
        break;
    }
    CellEdit e = typed(CellEdit::String, in.text);
    e.quotePrefix = in.quotePrefix;
    return e;
}

xlsx::Cell cellAfter(const xlsx::Cell &cell, const CellEdit &edit)
{
    xlsx::Cell c = cell;
    switch (edit.kind) {
    case CellEdit::None:
    case CellEdit::Refused:
        return c;
    case CellEdit::Formula:
    case CellEdit::ArrayFormula:
        c.exists = true;
        c.type = xlsx::CellType::Empty;
        c.text.clear();
        c.formula = edit.text;
        c.formulaKind = edit.kind == CellEdit::Formula ? xlsx::FormulaKind::Normal
                                                       : xlsx::FormulaKind::ArrayMaster;
        c.sharedIndex = -1;
        c.formulaRange = edit.kind == CellEdit::Formula
                             ? xlsx::CellRange()
                             : xlsx::CellRange(xlsx::CellRef(c.row, c.column));
        return c;
    default:
        break;
    }
    c.formula.clear();
    c.formulaKind = xlsx::FormulaKind::None;
    c.sharedIndex = -1;
    c.formulaRange = xlsx::CellRange();
    c.text = edit.text;
    switch (edit.kind) {
    case CellEdit::String:
        c.exists = true;
        c.type = xlsx::CellType::InlineString;
        break;
    case CellEdit::Number:
        c.exists = true;
        c.type = xlsx::CellType::Number;
        break;
    case CellEdit::Boolean:
        c.exists = true;
        c.type = xlsx::CellType::Boolean;
        break;
    case CellEdit::Error:
        c.exists = true;
        c.type = xlsx::CellType::Error;
        break;
    default: // Empty
        c.type = xlsx::CellType::Empty;
        break;
    }
    return c;
}

} // namespace embedded
