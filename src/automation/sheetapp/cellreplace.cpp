#include "automation/sheetapp/cellreplace_p.h"

#include "automation/sheetapp/numbertext_p.h"
#include "xlsx/formula.h"

namespace sheetapp {

QString shownText(const xlsx::Cell &cell, bool *searchable)
{
    *searchable = false;
    if (!cell.exists)
        return QString();
    if (cell.hasFormula()) {
        // Array formulas are edited as a whole or not at all.
        if (cell.formulaKind == xlsx::FormulaKind::ArrayMaster || cell.inArrayRange)
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
        const QString t = numberLiteralText(cell.text);
        *searchable = !t.isEmpty();
        return t;
    }
    case xlsx::CellType::Empty:
    case xlsx::CellType::Boolean:
    case xlsx::CellType::Error:
    case xlsx::CellType::IsoDate:
        break;
    }
    return QString();
}

bool formulaLooksWellFormed(const QString &formula)
{
    if (formula.trimmed().isEmpty())
        return false;
    int parens = 0;
    int brackets = 0;
    int braces = 0;
    const int n = formula.size();
    for (int i = 0; i < n; ++i) {
        const QChar c = formula[i];
        if (c == QLatin1Char('"') || (c == QLatin1Char('\'') && brackets == 0)) {
            int j = i + 1;
            bool closed = false;
            while (j < n) {
                if (formula[j] == c) {
                    if (j + 1 < n && formula[j + 1] == c) {
                        j += 2;
                        continue;
                    }
                    closed = true;
                    break;
                }
                ++j;
            }
            if (!closed)
                return false;
            i = j;
            continue;
        }
        if (brackets > 0 && c == QLatin1Char('\'')) {
            ++i; // escapes the next character inside a structured reference
            continue;
        }
        switch (c.unicode()) {
        case '(':
            ++parens;
            break;
        case ')':
            if (--parens < 0)
                return false;
            break;
        case '[':
            ++brackets;
            break;
        case ']':
            if (--brackets < 0)
                return false;
            break;
        case '{':
            ++braces;
            break;
        case '}':
            if (--braces < 0)
                return false;
            break;
        default:
            break;
        }
    }
    return parens == 0 && brackets == 0 && braces == 0;
}

CellEdit replaceInCell(const xlsx::Cell &cell, const WildcardPattern &what,
                       const QString &replacement, int lookAt)
{
    CellEdit edit;
    bool searchable = false;
    const QString shown = shownText(cell, &searchable);
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

    if (cell.hasFormula() && result.startsWith(QLatin1Char('='))) {
        if (result.size() > kMaxFormulaText) {
            edit.kind = CellEdit::Refused;
            edit.reason = QStringLiteral("the formula would be longer than %1 characters")
                              .arg(kMaxFormulaText);
            return edit;
        }
        const QString formula = xlsx::restoreFormulaPrefixes(result.mid(1), cell.formula);
        if (!formulaLooksWellFormed(formula)) {
            edit.kind = CellEdit::Refused;
            edit.reason = QStringLiteral("the result is not a well-formed formula");
            return edit;
        }
        edit.kind = CellEdit::Formula;
        edit.text = formula;
        return edit;
    }
    if (result.size() > kMaxCellText) {
        edit.kind = CellEdit::Refused;
        edit.reason =
            QStringLiteral("the text would be longer than %1 characters").arg(kMaxCellText);
        return edit;
    }
    double value = 0;
    if (!cell.hasFormula() && cell.type == xlsx::CellType::Number &&
        isPlainNumber(result, &value)) {
        edit.kind = CellEdit::Number;
        edit.text = numberText(value);
        return edit;
    }
    edit.kind = CellEdit::String;
    edit.text = result;
    return edit;
}

} // namespace sheetapp
