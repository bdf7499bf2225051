// Formula text cut into pieces: what the formula utilities and the structured
// reference rewriting share.
#pragma once

#include <QString>
#include <QVector>

namespace xlsx {

// Kinds of pieces a formula is cut into. Only Name and Bracket pieces are ever rewritten.
enum class PieceKind
{
    Text,    // operators, blanks, punctuation
    String,  // "..." literal, quotes included
    Quoted,  // '...' sheet name, quotes included
    Bracket, // [...] structured reference or external book index
    Error,   // #REF! and friends
    Name,    // name-like token
};

struct Piece
{
    PieceKind kind;
    QString text;
};

// Cuts formula text into pieces. Literals are kept whole (doubled quotes inside them
// included); an unterminated literal or bracket runs to the end.
QVector<Piece> tokenize(const QString &formula);

} // namespace xlsx
