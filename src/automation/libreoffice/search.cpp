#include "automation/libreoffice/search_p.h"

namespace libreoffice {

QString wildcardToRegex(const QString &what)
{
    QString out;
    out.reserve(what.size() * 2);
    const auto literal = [&out](QChar c) {
        if (c.isLetterOrNumber() || c.isSpace() || c.unicode() > 0x7F)
            out += c;
        else
            out += QLatin1Char('\\') + c;
    };
    for (int i = 0; i < what.size(); ++i) {
        const QChar c = what.at(i);
        if (c == QLatin1Char('~') && i + 1 < what.size() &&
            QStringLiteral("*?~").contains(what.at(i + 1))) {
            literal(what.at(++i));
        } else if (c == QLatin1Char('*')) {
            out += QStringLiteral("[\\s\\S]*");
        } else if (c == QLatin1Char('?')) {
            out += QStringLiteral("[\\s\\S]");
        } else if (c == QLatin1Char('\n')) {
            out += QStringLiteral("\\n");
        } else if (c == QLatin1Char('\t')) {
            out += QStringLiteral("\\t");
        } else {
            literal(c);
        }
    }
    return out;
}

QString literalReplacement(const QString &replacement)
{
    QString out;
    out.reserve(replacement.size() + 8);
    for (const QChar c : replacement) {
        if (c == QLatin1Char('&') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        out += c;
    }
    return out;
}

} // namespace libreoffice
