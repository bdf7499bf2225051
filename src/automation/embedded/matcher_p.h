// Text matching for Replace: the wildcard pattern of "What" ("*", "?", "~"
// escape), case-sensitive or case-insensitive by Unicode case folding.
#pragma once

#include <QString>
#include <QVector>

namespace embedded {

// A match, as positions in the original (unfolded) text: [start, end).
struct TextMatch
{
    int start = 0;
    int end = 0;
    bool operator==(const TextMatch &o) const { return start == o.start && end == o.end; }
};

class WildcardPattern
{
public:
    // `what`: "*" matches any run of characters (also none), "?" exactly one,
    // "~" makes the next "*", "?" or "~" literal (before anything else, or at
    // the end, it is a literal "~" itself).
    WildcardPattern(const QString &what, bool matchCase);

    // True when the pattern has no element (empty What): it matches nothing.
    bool isEmpty() const { return m_elements.isEmpty(); }
    // False when no text made only of the characters of `alphabet` can match
    // (the pattern asks for some other character).
    bool couldMatchOnly(const QString &alphabet) const;
    // The text every match must contain exactly as it is written, when there
    // is one: the whole of a pattern without wildcards that either matches
    // case-sensitively or has no character with a case. Empty otherwise.
    QString exactLiteral() const;

    // The whole of `text` matches.
    bool matchesWhole(const QString &text) const;
    // Every match, left to right, non-overlapping; of the matches that start
    // at the leftmost position the longest is taken. Empty matches are not
    // reported.
    QVector<TextMatch> findAll(const QString &text) const;

private:
    enum Kind
    {
        Literal,
        AnyOne,
        AnyRun
    };
    struct Element
    {
        Kind kind;
        QChar ch; // Literal only, already folded when case-insensitive
    };
    struct Unit
    {
        int start;  // position of the character in the original text
        int length; // 1, or 2 for a surrogate pair
        QString folded;
    };
    QVector<Unit> units(const QString &text) const;
    // Leftmost-longest match starting at a unit index >= from; false when none.
    bool findFrom(const QVector<Unit> &u, int from, bool anchored, int *startUnit,
                  int *endUnit) const;

    Qt::CaseSensitivity caseSensitivity() const
    {
        return m_matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive;
    }

    QVector<Element> m_elements;
    bool m_matchCase;
    bool m_plain = true; // only literals: searched for as one string
    QString m_literal;   // the literals, folded when case-insensitive
};

// `text` with every match replaced by `replacement`.
QString replaceMatches(const QString &text, const QVector<TextMatch> &matches,
                       const QString &replacement);

} // namespace embedded
