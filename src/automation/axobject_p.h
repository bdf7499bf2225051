// Member signatures as the dispatch object parses them.
#pragma once

#include <QByteArray>
#include <QList>
#include <QVariantList>

namespace automation::detail {

struct Signature
{
    QByteArray name;         // "Open"
    QList<QByteArray> types; // normalised parameter types: "QString", "QVariant", "int"
    bool valid = false;
};

// Parses "Name", "Name()" or "Name(const QString&, int)".
Signature parseSignature(const char *text);

// Converts the given arguments to the parameter types of `sig`. Fails when the
// number of arguments does not match or a value cannot be converted.
bool bindArguments(const Signature &sig, const QVariantList &given, QVariantList *bound,
                   QString *error);

} // namespace automation::detail
