#include "automation/embedded/matcher_p.h"

namespace embedded {
namespace {

// Keeps the earlier start of two threads reaching the same state.
void keepEarlier(int *slot, int start)
{
    if (*slot < 0 || start < *slot)
        *slot = start;
}

} // namespace

WildcardPattern::WildcardPattern(const QString &what, bool matchCase) : m_matchCase(matchCase)
{
    const int n = what.size();
    for (int i = 0; i < n; ++i) {
        const QChar c = what[i];
        if (c == QLatin1Char('~') && i + 1 < n &&
            (what[i + 1] == QLatin1Char('*') || what[i + 1] == QLatin1Char('?') ||
             what[i + 1] == QLatin1Char('~'))) {
            m_elements.append({Literal, what[i + 1]});
            ++i;
        } else if (c == QLatin1Char('*')) {
            // "**" means the same as "*".
            if (m_elements.isEmpty() || m_elements.last().kind != AnyRun)
                m_elements.append({AnyRun, QChar()});
        } else if (c == QLatin1Char('?')) {
            m_elements.append({AnyOne, QChar()});
        } else {
            int len = 1;
            if (c.isHighSurrogate() && i + 1 < n && what[i + 1].isLowSurrogate())
                len = 2;
            const QString piece = what.mid(i, len);
            const QString folded = matchCase ? piece : piece.toCaseFolded();
            for (QChar f : folded)
                m_elements.append({Literal, f});
            i += len - 1;
        }
    }
    for (const Element &e : qAsConst(m_elements)) {
        if (e.kind != Literal)
            m_plain = false;
        else
            m_literal += e.ch;
    }
}

bool WildcardPattern::couldMatchOnly(const QString &alphabet) const
{
    for (const Element &e : m_elements) {
        if (e.kind == Literal && !alphabet.contains(e.ch, Qt::CaseInsensitive))
            return false;
    }
    return true;
}

namespace {

// No other character is the same as `c` when case is ignored.
bool isCaseless(QChar c)
{
    const ushort u = c.unicode();
    if (u < 0x80)
        return !c.isLetter();
    // Scripts from U+3000 on have no case, but for the fullwidth Latin forms.
    return u >= 0x3000 && !(u >= 0xFF00 && u <= 0xFFEF) && !c.isSurrogate() && c.toLower() == c &&
           c.toUpper() == c && c.toCaseFolded() == c;
}

} // namespace

QString WildcardPattern::exactLiteral() const
{
    if (!m_plain || m_literal.isEmpty())
        return QString();
    if (!m_matchCase) {
        for (QChar c : m_literal) {
            if (!isCaseless(c))
                return QString();
        }
    }
    return m_literal;
}

QVector<WildcardPattern::Unit> WildcardPattern::units(const QString &text) const
{
    QVector<Unit> out;
    out.reserve(text.size());
    const int n = text.size();
    for (int i = 0; i < n;) {
        int len = 1;
        if (text[i].isHighSurrogate() && i + 1 < n && text[i + 1].isLowSurrogate())
            len = 2;
        const QString piece = text.mid(i, len);
        out.append({i, len, m_matchCase ? piece : piece.toCaseFolded()});
        i += len;
    }
    return out;
}

bool WildcardPattern::findFrom(const QVector<Unit> &u, int from, bool anchored, int *startUnit,
                               int *endUnit) const
{
    // A simulation of the pattern's automaton over the text's characters.
    // cur[k] is the earliest start of a thread that has matched the first k
    // elements, or -1; state m accepts.
    const int m = m_elements.size();
    const int n = u.size();
    QVector<int> cur(m + 1, -1);
    QVector<int> next(m + 1, -1);
    bool found = false;
    int bestStart = -1;
    int bestEnd = -1;
    for (int pos = from;; ++pos) {
        if (!found && (!anchored || pos == from))
            keepEarlier(&cur[0], pos);
        for (int k = 0; k < m; ++k) {
            if (cur[k] >= 0 && m_elements[k].kind == AnyRun)
                keepEarlier(&cur[k + 1], cur[k]);
        }
        const bool acceptHere = anchored ? pos == n : pos > cur[m];
        if (cur[m] >= 0 && acceptHere) {
            if (!found || cur[m] < bestStart || (cur[m] == bestStart && pos > bestEnd)) {
                found = true;
                bestStart = cur[m];
                bestEnd = pos;
            }
        }
        if (pos == n)
            break;
        bool active = false;
        for (int k = 0; k <= m; ++k) {
            if (found && cur[k] > bestStart)
                cur[k] = -1;
            active = active || (cur[k] >= 0 && k < m);
        }
        if (!active && (found || anchored))
            break;
        next.fill(-1);
        const QString &folded = u[pos].folded;
        const int len = folded.size();
        for (int k = 0; k < m; ++k) {
            if (cur[k] < 0)
                continue;
            switch (m_elements[k].kind) {
            case AnyRun:
                keepEarlier(&next[k], cur[k]);
                break;
            case AnyOne:
                keepEarlier(&next[k + 1], cur[k]);
                break;
            case Literal: {
                if (k + len > m)
                    break;
                bool same = true;
                for (int j = 0; j < len && same; ++j)
                    same = m_elements[k + j].kind == Literal && m_elements[k + j].ch == folded[j];
                if (same)
                    keepEarlier(&next[k + len], cur[k]);
                break;
            }
            }
        }
        std::swap(cur, next);
    }
    if (!found)
        return false;
    *startUnit = bestStart;
    *endUnit = bestEnd;
    return true;
}

bool WildcardPattern::matchesWhole(const QString &text) const
{
    if (isEmpty())
        return false;
    if (m_plain)
        return text.compare(m_literal, caseSensitivity()) == 0;
    const QVector<Unit> u = units(text);
    int s = 0;
    int e = 0;
    return findFrom(u, 0, true, &s, &e);
}

QVector<TextMatch> WildcardPattern::findAll(const QString &text) const
{
    QVector<TextMatch> out;
    if (isEmpty())
        return out;
    if (m_plain) {
        // Literals only: every occurrence, left to right, without overlap.
        // Qt's case-insensitive search folds each character as it compares.
        const int n = m_literal.size();
        const Qt::CaseSensitivity cs = caseSensitivity();
        for (int at = text.indexOf(m_literal, 0, cs); at >= 0;
             at = text.indexOf(m_literal, at + n, cs))
            out.append({at, at + n});
        return out;
    }
    const QVector<Unit> u = units(text);
    int from = 0;
    int s = 0;
    int e = 0;
    while (from < u.size() && findFrom(u, from, false, &s, &e)) {
        const int end = e < u.size() ? u[e].start : text.size();
        out.append({u[s].start, end});
        from = e;
    }
    return out;
}

QString replaceMatches(const QString &text, const QVector<TextMatch> &matches,
                       const QString &replacement)
{
    QString out;
    int at = 0;
    for (const TextMatch &m : matches) {
        out += text.midRef(at, m.start - at);
        out += replacement;
        at = m.end;
    }
    out += text.midRef(at);
    return out;
}

} // namespace embedded
