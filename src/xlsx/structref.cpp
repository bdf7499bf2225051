// Structured references ("Table1[Qty]") following a renamed table column.
#include "xlsx/formula.h"
#include "xlsx/formula_p.h"

namespace xlsx {
namespace {

// Characters that "'" escapes inside a column specifier.
bool isEscaped(QChar c)
{
    return c == QLatin1Char('[') || c == QLatin1Char(']') || c == QLatin1Char('#') ||
           c == QLatin1Char('\'');
}

QString escapeColumn(const QString &name)
{
    QString out;
    out.reserve(name.size() + 4);
    for (const QChar c : name) {
        if (isEscaped(c))
            out += QLatin1Char('\'');
        out += c;
    }
    return out;
}

QString unescapeColumn(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('\'') && i + 1 < text.size())
            ++i;
        out += text[i];
    }
    return out;
}

// A column name with one of these characters needs its own brackets inside the reference:
// "Table1[[Qty 2]]", never "Table1[Qty 2]".
bool needsOwnBrackets(const QString &name)
{
    static const QString special = QStringLiteral(" \t\n\r,:.[]#'\"{}$^&*+=-<>/");
    for (const QChar c : name) {
        if (special.contains(c))
            return true;
    }
    return false;
}

// Position of the "]" that closes the "[" at `open`, or -1.
int closingBracket(const QString &text, int open)
{
    int depth = 0;
    for (int i = open; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\'')) {
            ++i;
            continue;
        }
        if (c == QLatin1Char('['))
            ++depth;
        else if (c == QLatin1Char(']') && --depth == 0)
            return i;
    }
    return -1;
}

bool sameColumn(const QString &specifier, const QString &name)
{
    return unescapeColumn(specifier).compare(name, Qt::CaseInsensitive) == 0;
}

// One bracketed reference "[...]" rewritten; *unsure when it is cut short.
QString renameInBracket(const QString &text, const QString &oldName, const QString &newName,
                        bool *unsure)
{
    if (closingBracket(text, 0) != text.size() - 1) {
        *unsure = true;
        return text;
    }
    const QString inner = text.mid(1, text.size() - 2);
    bool nested = false;
    for (int i = 0; i < inner.size(); ++i) {
        if (inner[i] == QLatin1Char('\'')) {
            ++i;
            continue;
        }
        if (inner[i] == QLatin1Char('[')) {
            nested = true;
            break;
        }
    }
    if (!nested) {
        // "[Qty]" or "[@Qty]".
        const bool thisRow = inner.startsWith(QLatin1Char('@'));
        const QString column = thisRow ? inner.mid(1) : inner;
        if (column.startsWith(QLatin1Char('#')) || !sameColumn(column, oldName))
            return text;
        const QString lead = thisRow ? QStringLiteral("@") : QString();
        if (needsOwnBrackets(newName))
            return QLatin1Char('[') + lead + QLatin1Char('[') + escapeColumn(newName) +
                   QStringLiteral("]]");
        return QLatin1Char('[') + lead + escapeColumn(newName) + QLatin1Char(']');
    }
    // "[[#This Row],[Qty]]", "[[Qty]:[Other]]", "[@[Qty 2]]": each inner specifier.
    QString out = QStringLiteral("[");
    int i = 0;
    while (i < inner.size()) {
        if (inner[i] != QLatin1Char('[')) {
            out += inner[i];
            ++i;
            continue;
        }
        const int close = closingBracket(inner, i);
        if (close < 0) {
            *unsure = true;
            return text;
        }
        const QString specifier = inner.mid(i + 1, close - i - 1);
        if (!specifier.startsWith(QLatin1Char('#')) && sameColumn(specifier, oldName))
            out += QLatin1Char('[') + escapeColumn(newName) + QLatin1Char(']');
        else
            out += inner.mid(i, close - i + 1);
        i = close + 1;
    }
    out += QLatin1Char(']');
    return out;
}

bool isExternalIndex(const QString &bracket)
{
    if (bracket.size() < 3)
        return false;
    for (int i = 1; i + 1 < bracket.size(); ++i) {
        if (!bracket[i].isDigit())
            return false;
    }
    return true;
}

// The text of a "..." literal.
QString stringContent(const QString &quoted)
{
    QString t = quoted.mid(1, quoted.size() - 2);
    return t.replace(QStringLiteral("\"\""), QStringLiteral("\""));
}

// The columns and items one bracketed reference names ("[Qty]", "[@Qty]",
// "[[#Totals],[Qty]:[Other]]"), items with their "#".
void bracketColumns(const QString &text, QStringList *columns, QStringList *items)
{
    const QString inner = text.mid(1, text.size() - 2);
    int i = 0;
    bool nested = false;
    while (i < inner.size()) {
        if (inner[i] == QLatin1Char('\'')) {
            i += 2;
            continue;
        }
        if (inner[i] != QLatin1Char('[')) {
            ++i;
            continue;
        }
        nested = true;
        const int close = closingBracket(inner, i);
        if (close < 0)
            return;
        const QString specifier = inner.mid(i + 1, close - i - 1);
        if (specifier.startsWith(QLatin1Char('#')))
            items->append(specifier);
        else if (!specifier.isEmpty())
            columns->append(unescapeColumn(specifier));
        i = close + 1;
    }
    if (nested)
        return;
    const QString column = inner.startsWith(QLatin1Char('@')) ? inner.mid(1) : inner;
    if (column.startsWith(QLatin1Char('#')))
        items->append(column);
    else if (!column.isEmpty())
        columns->append(unescapeColumn(column));
}

} // namespace

bool isTableItem(const QString &item)
{
    for (const char *known : {"#All", "#Data", "#Headers", "#Totals", "#This Row"}) {
        if (item.compare(QLatin1String(known), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QVector<TableMention> tableMentionsInFormula(const QString &formula, const QString &ownTable)
{
    QVector<TableMention> out;
    const QVector<Piece> pieces = tokenize(formula);
    for (int i = 0; i < pieces.size(); ++i) {
        const Piece &p = pieces[i];
        if (p.kind == PieceKind::String && p.text.contains(QLatin1Char('['))) {
            for (TableMention m : tableMentionsInFormula(stringContent(p.text), QString())) {
                m.inText = true;
                out.append(m);
            }
            continue;
        }
        if (p.kind != PieceKind::Bracket || closingBracket(p.text, 0) != p.text.size() - 1)
            continue;
        const bool afterName = i > 0 && pieces[i - 1].kind == PieceKind::Name;
        QString table;
        if (afterName)
            table = pieces[i - 1].text;
        else if (!ownTable.isEmpty() && !isExternalIndex(p.text))
            table = ownTable;
        if (table.isEmpty())
            continue;
        QStringList columns, items;
        bracketColumns(p.text, &columns, &items);
        for (const QString &c : qAsConst(columns))
            out.append({table, c, false, false});
        for (const QString &item : qAsConst(items))
            out.append({table, item, true, false});
    }
    return out;
}

QString renameTableColumnInFormula(const QString &formula, const QString &table,
                                   const QString &oldName, const QString &newName, bool inTable,
                                   bool *unsure, QStringList *literals)
{
    const QVector<Piece> pieces = tokenize(formula);
    const QString mention = table.toLower() + QLatin1Char('[');
    QString out;
    out.reserve(formula.size() + 8);
    for (int i = 0; i < pieces.size(); ++i) {
        const Piece &p = pieces[i];
        if (p.kind == PieceKind::String) {
            const QString lower = p.text.toLower();
            if (lower.contains(mention) && lower.contains(oldName.toLower())) {
                if (literals)
                    literals->append(stringContent(p.text));
                else
                    *unsure = true;
            }
        }
        if (p.kind != PieceKind::Bracket) {
            out += p.text;
            continue;
        }
        const bool afterName = i > 0 && pieces[i - 1].kind == PieceKind::Name;
        const bool qualified =
            afterName && pieces[i - 1].text.compare(table, Qt::CaseInsensitive) == 0;
        const bool ours = qualified || (!afterName && inTable && !isExternalIndex(p.text));
        out += ours ? renameInBracket(p.text, oldName, newName, unsure) : p.text;
    }
    return out;
}

} // namespace xlsx
