#include "automation/sheetapp/typedinput.h"

#include "automation/sheetapp/numbertext.h"
#include "xlsx/formula.h"

namespace sheetapp {
namespace {

TypedInput input(TypedInput::Kind kind, const QString &text, double number = 0)
{
    TypedInput t;
    t.kind = kind;
    t.text = text;
    t.number = number;
    return t;
}

} // namespace

TypedInput readTypedInput(const QString &text, const CellFormat &format)
{
    if (text.isEmpty())
        return input(TypedInput::Empty, QString());
    if (text.size() > kMaxCellText)
        return input(TypedInput::Refused,
                     QStringLiteral("the text is longer than %1 characters").arg(kMaxCellText));
    if (format.kind == ValueFormat::Text)
        return input(TypedInput::Text, text);
    if (text.startsWith(QLatin1Char('\''))) {
        TypedInput t = input(TypedInput::Text, text.mid(1));
        t.quotePrefix = true;
        return t;
    }
    if (text.size() > 1 && text.startsWith(QLatin1Char('='))) {
        if (!formulaLooksWellFormed(text.mid(1)))
            return input(TypedInput::Text, text);
        if (text.size() > kMaxFormulaText)
            return input(TypedInput::Refused, QStringLiteral("the formula is longer than %1 "
                                                             "characters")
                                                  .arg(kMaxFormulaText));
        return input(TypedInput::Formula, text);
    }
    bool b = false;
    if (readBooleanText(text, &b))
        return input(TypedInput::Boolean, QString(), b ? 1 : 0);
    const QString error = xlsx::errorConstant(text);
    if (!error.isEmpty())
        return input(TypedInput::Error, error);
    double value = 0;
    if (isPlainNumber(text, &value) ||
        (format.isDateOrTime() && parseDateTimeText(text, format.date1904, &value)))
        return input(TypedInput::Number, QString(), value);
    return input(TypedInput::Text, text);
}

bool readBooleanText(const QString &text, bool *value)
{
    if (text.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0) {
        *value = true;
        return true;
    }
    if (text.compare(QLatin1String("FALSE"), Qt::CaseInsensitive) == 0) {
        *value = false;
        return true;
    }
    return false;
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
    if (parens != 0 || brackets != 0 || braces != 0)
        return false;
    // Nothing can start with a binary operator or end with one.
    const QString t = formula.trimmed();
    static const QString noStart = QStringLiteral("*/^&=<>,:;)");
    static const QString noEnd = QStringLiteral("+-*/^&=<>,:;(");
    return !noStart.contains(t.front()) && !noEnd.contains(t.back());
}

} // namespace sheetapp
