#include "xlsx/formula.h"
#include "xlsx/formula_p.h"

#include "xlsx/cellref.h"

#include <QHash>
#include <QStringList>

namespace xlsx {
namespace {

// Characters that make up one name-like token: cell references, function and
// defined names, sheet names, numbers.
bool isNameChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('.') ||
           c == QLatin1Char('\\') || c == QLatin1Char('$') || c == QLatin1Char('?');
}

bool isAsciiLetter(QChar c)
{
    const ushort u = c.unicode();
    return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z');
}

bool isAsciiDigit(QChar c)
{
    const ushort u = c.unicode();
    return u >= '0' && u <= '9';
}

// Parsed pieces of "$A$1", "A", "$1"...: anchors and values (0 = absent).
struct RefPart
{
    bool columnAbsolute = false;
    int column = 0;
    bool rowAbsolute = false;
    int row = 0;
};

// Parses `token` as a cell reference ("$A$1"), a column ("$A") or a row
// ("$1"). Returns false when it is none of them exactly.
bool parseRefPart(const QString &token, RefPart *part)
{
    int i = 0;
    const int n = token.size();
    RefPart p;
    if (i < n && token[i] == QLatin1Char('$')) {
        p.columnAbsolute = true;
        ++i;
    }
    const int letterStart = i;
    while (i < n && isAsciiLetter(token[i]))
        ++i;
    if (i > letterStart) {
        p.column = columnNumber(token.mid(letterStart, i - letterStart));
        if (p.column == 0)
            return false;
    } else if (p.columnAbsolute) {
        // "$1": the "$" belongs to the row.
        p.columnAbsolute = false;
        p.rowAbsolute = true;
    }
    if (i < n && token[i] == QLatin1Char('$')) {
        if (p.rowAbsolute || p.column == 0)
            return false;
        p.rowAbsolute = true;
        ++i;
    }
    const int digitStart = i;
    while (i < n && isAsciiDigit(token[i]))
        ++i;
    if (i != n)
        return false;
    if (i > digitStart) {
        if (i - digitStart > 7)
            return false;
        bool ok = false;
        p.row = token.mid(digitStart, i - digitStart).toInt(&ok);
        if (!ok || p.row < 1 || p.row > kMaxRows)
            return false;
    } else if (p.rowAbsolute) {
        return false; // "A$"
    }
    if (p.column == 0 && p.row == 0)
        return false;
    *part = p;
    return true;
}

// Moves a part; false when it leaves the sheet.
bool shiftPart(RefPart *p, int rowOffset, int columnOffset)
{
    if (p->column && !p->columnAbsolute) {
        const long long c = static_cast<long long>(p->column) + columnOffset;
        if (c < 1 || c > kMaxColumns)
            return false;
        p->column = static_cast<int>(c);
    }
    if (p->row && !p->rowAbsolute) {
        const long long r = static_cast<long long>(p->row) + rowOffset;
        if (r < 1 || r > kMaxRows)
            return false;
        p->row = static_cast<int>(r);
    }
    return true;
}

QString partText(const RefPart &p)
{
    QString s;
    if (p.column) {
        if (p.columnAbsolute)
            s += QLatin1Char('$');
        s += columnName(p.column);
    }
    if (p.row) {
        if (p.rowAbsolute)
            s += QLatin1Char('$');
        s += QString::number(p.row);
    }
    return s;
}

const QStringList &knownErrors()
{
    static const QStringList errors = {
        QStringLiteral("#NULL!"),        QStringLiteral("#DIV/0!"), QStringLiteral("#VALUE!"),
        QStringLiteral("#REF!"),         QStringLiteral("#NAME?"),  QStringLiteral("#NUM!"),
        QStringLiteral("#N/A"),          QStringLiteral("#SPILL!"), QStringLiteral("#CALC!"),
        QStringLiteral("#GETTING_DATA"), QStringLiteral("#FIELD!"), QStringLiteral("#BLOCKED!"),
        QStringLiteral("#CONNECT!"),     QStringLiteral("#BUSY!"),  QStringLiteral("#UNKNOWN!"),
        QStringLiteral("#PYTHON!"),
    };
    return errors;
}

} // namespace

QVector<Piece> tokenize(const QString &f)
{
    QVector<Piece> out;
    const int n = f.size();
    int i = 0;
    auto pushText = [&out](const QString &t) {
        if (!out.isEmpty() && out.last().kind == PieceKind::Text)
            out.last().text += t;
        else
            out.append({PieceKind::Text, t});
    };
    while (i < n) {
        const QChar c = f[i];
        if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            int j = i + 1;
            while (j < n) {
                if (f[j] == c) {
                    if (j + 1 < n && f[j + 1] == c) {
                        j += 2;
                        continue;
                    }
                    ++j;
                    break;
                }
                ++j;
            }
            if (j > n)
                j = n;
            out.append(
                {c == QLatin1Char('"') ? PieceKind::String : PieceKind::Quoted, f.mid(i, j - i)});
            i = j;
        } else if (c == QLatin1Char('[')) {
            int depth = 0;
            int j = i;
            while (j < n) {
                if (f[j] == QLatin1Char('\'') && j + 1 < n) {
                    // "'" escapes the next character inside structured references.
                    j += 2;
                    continue;
                }
                if (f[j] == QLatin1Char('['))
                    ++depth;
                else if (f[j] == QLatin1Char(']') && --depth == 0) {
                    ++j;
                    break;
                }
                ++j;
            }
            out.append({PieceKind::Bracket, f.mid(i, j - i)});
            i = j;
        } else if (c == QLatin1Char('#')) {
            QString matched;
            for (const QString &e : knownErrors()) {
                if (f.midRef(i, e.size()).compare(e, Qt::CaseInsensitive) == 0) {
                    matched = f.mid(i, e.size());
                    break;
                }
            }
            if (matched.isEmpty()) {
                pushText(QString(c)); // spill operator "A1#"
                ++i;
            } else {
                out.append({PieceKind::Error, matched});
                i += matched.size();
            }
        } else if (isNameChar(c)) {
            int j = i;
            while (j < n && isNameChar(f[j]))
                ++j;
            out.append({PieceKind::Name, f.mid(i, j - i)});
            i = j;
        } else {
            pushText(QString(c));
            ++i;
        }
    }
    return out;
}

namespace {

const QStringList &prefixes()
{
    static const QStringList list = {QStringLiteral("_xlfn."), QStringLiteral("_xlws."),
                                     QStringLiteral("_xludf."), QStringLiteral("_xlpm.")};
    return list;
}

// Splits "_xlfn._xlws.SORT" into its prefixes and the bare name.
QString splitPrefixes(const QString &token, QString *prefix)
{
    int pos = 0;
    bool more = true;
    while (more) {
        more = false;
        for (const QString &p : prefixes()) {
            if (token.midRef(pos, p.size()).compare(p, Qt::CaseInsensitive) == 0 &&
                token.size() > pos + p.size()) {
                pos += p.size();
                more = true;
                break;
            }
        }
    }
    if (prefix)
        *prefix = token.left(pos);
    return token.mid(pos);
}

} // namespace

QString shiftFormula(const QString &formula, int rowOffset, int columnOffset)
{
    if (rowOffset == 0 && columnOffset == 0)
        return formula;
    const QVector<Piece> pieces = tokenize(formula);
    QString out;
    out.reserve(formula.size() + 8);
    const int count = pieces.size();
    for (int i = 0; i < count; ++i) {
        const Piece &p = pieces[i];
        if (p.kind != PieceKind::Name) {
            out += p.text;
            continue;
        }
        // Directly followed (no blank) by "(" or "!": a function or sheet name.
        if (i + 1 < count && pieces[i + 1].kind == PieceKind::Text &&
            (pieces[i + 1].text.startsWith(QLatin1Char('(')) ||
             pieces[i + 1].text.startsWith(QLatin1Char('!')))) {
            out += p.text;
            continue;
        }
        // "Table1[...]" is a structured reference: the name stays.
        if (i + 1 < count && pieces[i + 1].kind == PieceKind::Bracket) {
            out += p.text;
            continue;
        }
        RefPart part;
        if (!parseRefPart(p.text, &part)) {
            out += p.text;
            continue;
        }
        const bool cell = part.column && part.row;
        if (!cell) {
            // A lone column or row is a reference only as one end of a range
            // of the same kind: "A:C", "$2:5".
            const bool prevColon = i >= 1 && pieces[i - 1].kind == PieceKind::Text &&
                                   pieces[i - 1].text == QLatin1String(":") && i >= 2 &&
                                   pieces[i - 2].kind == PieceKind::Name;
            const bool nextColon = i + 2 < count && pieces[i + 1].kind == PieceKind::Text &&
                                   pieces[i + 1].text == QLatin1String(":") &&
                                   pieces[i + 2].kind == PieceKind::Name;
            RefPart other;
            bool isRange = false;
            if (nextColon && parseRefPart(pieces[i + 2].text, &other))
                isRange = (other.column != 0) == (part.column != 0) && !(other.column && other.row);
            if (!isRange && prevColon && parseRefPart(pieces[i - 2].text, &other))
                isRange = (other.column != 0) == (part.column != 0) && !(other.column && other.row);
            if (!isRange) {
                out += p.text;
                continue;
            }
        }
        if (!shiftPart(&part, rowOffset, columnOffset)) {
            out += QStringLiteral("#REF!");
            continue;
        }
        out += partText(part);
    }
    return out;
}

QString hideFormulaPrefixes(const QString &formula)
{
    const QVector<Piece> pieces = tokenize(formula);
    QString out;
    out.reserve(formula.size());
    for (const Piece &p : pieces)
        out += p.kind == PieceKind::Name ? splitPrefixes(p.text, nullptr) : p.text;
    return out;
}

QString restoreFormulaPrefixes(const QString &edited, const QString &original)
{
    QHash<QString, QString> prefixOf; // upper-case bare name -> prefix text
    for (const Piece &p : tokenize(original)) {
        if (p.kind != PieceKind::Name)
            continue;
        QString prefix;
        const QString bare = splitPrefixes(p.text, &prefix);
        if (!prefix.isEmpty())
            prefixOf.insert(bare.toUpper(), prefix);
    }
    if (prefixOf.isEmpty())
        return edited;
    QString out;
    out.reserve(edited.size() + 16);
    for (const Piece &p : tokenize(edited)) {
        if (p.kind == PieceKind::Name) {
            QString prefix;
            const QString bare = splitPrefixes(p.text, &prefix);
            if (prefix.isEmpty()) {
                const auto it = prefixOf.constFind(bare.toUpper());
                if (it != prefixOf.constEnd()) {
                    out += it.value() + p.text;
                    continue;
                }
            }
        }
        out += p.text;
    }
    return out;
}

namespace {

// The pieces with every Text piece cut into single characters.
QVector<Piece> finePieces(const QString &formula)
{
    QVector<Piece> out;
    for (const Piece &p : tokenize(formula)) {
        if (p.kind != PieceKind::Text) {
            out.append(p);
            continue;
        }
        for (const QChar c : p.text)
            out.append({PieceKind::Text, QString(c)});
    }
    return out;
}

bool isChar(const Piece &p, char c)
{
    return p.kind == PieceKind::Text && p.text.size() == 1 && p.text[0] == QLatin1Char(c);
}

// The Name pieces that are parameters of a LAMBDA or names of a LET, where they are declared
// and where they are used inside that call: the file writes them as "_xlpm.x".
QVector<bool> parameterPieces(const QVector<Piece> &p)
{
    QVector<bool> marks(p.size(), false);
    struct Group
    {
        int name = -1; // the function name piece of a call, -1 for other brackets
        int open = 0;
        QVector<int> separators; // commas directly inside
    };
    QVector<Group> stack;
    for (int i = 0; i < p.size(); ++i) {
        if (isChar(p[i], '(') || isChar(p[i], '{')) {
            Group g;
            g.open = i;
            if (isChar(p[i], '(') && i > 0 && p[i - 1].kind == PieceKind::Name)
                g.name = i - 1;
            stack.append(g);
        } else if (isChar(p[i], ',') && !stack.isEmpty()) {
            stack.last().separators.append(i);
        } else if ((isChar(p[i], ')') || isChar(p[i], '}')) && !stack.isEmpty()) {
            const Group g = stack.takeLast();
            if (g.name < 0 || !isChar(p[g.open], '('))
                continue;
            const QString fn = splitPrefixes(p[g.name].text, nullptr).toUpper();
            const bool lambda = fn == QLatin1String("LAMBDA");
            if (!lambda && fn != QLatin1String("LET"))
                continue;
            // Arguments as piece ranges; the declared names are the arguments that are one
            // name alone: every one but the last (LAMBDA), every other one from the first
            // but the last (LET).
            QVector<int> bounds{g.open};
            bounds += g.separators;
            bounds.append(i);
            const int args = bounds.size() - 1;
            QStringList names;
            for (int a = 0; a + 1 < args; ++a) {
                if (!lambda && a % 2 == 1)
                    continue;
                int only = -1;
                bool single = true;
                for (int k = bounds[a] + 1; k < bounds[a + 1]; ++k) {
                    if (p[k].kind == PieceKind::Text && p[k].text.trimmed().isEmpty())
                        continue;
                    if (p[k].kind == PieceKind::Name && only < 0)
                        only = k;
                    else
                        single = false;
                }
                if (single && only >= 0)
                    names << splitPrefixes(p[only].text, nullptr).toUpper();
            }
            for (int k = g.open + 1; k < i; ++k) {
                if (p[k].kind != PieceKind::Name || (k > 0 && isChar(p[k - 1], '!')))
                    continue;
                QString prefix;
                const QString bare = splitPrefixes(p[k].text, &prefix);
                if (prefix.isEmpty() && names.contains(bare.toUpper()))
                    marks[k] = true;
            }
        }
    }
    return marks;
}

} // namespace

QString addFunctionPrefixes(const QString &formula)
{
    const QVector<Piece> pieces = finePieces(formula);
    const QVector<bool> parameters = parameterPieces(pieces);
    QString out;
    out.reserve(formula.size() + 16);
    for (int i = 0; i < pieces.size(); ++i) {
        const Piece &p = pieces[i];
        if (parameters[i]) {
            out += QStringLiteral("_xlpm.");
        } else if (p.kind == PieceKind::Name && i + 1 < pieces.size() &&
                   isChar(pieces[i + 1], '(')) {
            QString prefix;
            const QString bare = splitPrefixes(p.text, &prefix);
            if (prefix.isEmpty())
                out += futureFunctionPrefix(bare);
        }
        out += p.text;
    }
    return out;
}

QString errorConstant(const QString &text)
{
    for (const QString &e : knownErrors()) {
        if (text.compare(e, Qt::CaseInsensitive) == 0)
            return e;
    }
    return QString();
}

} // namespace xlsx
