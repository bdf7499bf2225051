#include "automation/sheetapp/numbertext.h"

#include <QLocale>

#include <cmath>

namespace sheetapp {
namespace {

// Significant digits (no leading or trailing zeros) and the decimal exponent
// of the first digit: 1234.5 -> ("12345", 3). Zero gives ("", 0).
struct Decimal
{
    bool negative = false;
    QString digits;
    int exponent = 0;
};

Decimal shortestDecimal(double value)
{
    Decimal d;
    d.negative = std::signbit(value) && value != 0.0;
    if (value == 0.0)
        return d;
    // "d.ddde+XX" (or "de+XX"), the fewest digits that read back exactly.
    const QString e = QString::number(std::fabs(value), 'e', QLocale::FloatingPointShortest);
    const int ePos = e.indexOf(QLatin1Char('e'));
    QString mantissa = e.left(ePos);
    mantissa.remove(QLatin1Char('.'));
    d.exponent = e.midRef(ePos + 1).toInt();
    while (mantissa.endsWith(QLatin1Char('0')) && mantissa.size() > 1)
        mantissa.chop(1);
    d.digits = mantissa;
    return d;
}

} // namespace

QString numberText(double value)
{
    if (!std::isfinite(value))
        return QString();
    const Decimal d = shortestDecimal(value);
    if (d.digits.isEmpty())
        return QStringLiteral("0");
    QString out;
    if (d.negative)
        out += QLatin1Char('-');
    const int nd = d.digits.size();
    if (d.exponent >= -5 && d.exponent < 15) {
        if (d.exponent < 0) {
            out += QStringLiteral("0.");
            out += QString(-d.exponent - 1, QLatin1Char('0'));
            out += d.digits;
        } else if (nd <= d.exponent + 1) {
            out += d.digits;
            out += QString(d.exponent + 1 - nd, QLatin1Char('0'));
        } else {
            out += d.digits.leftRef(d.exponent + 1);
            out += QLatin1Char('.');
            out += d.digits.midRef(d.exponent + 1);
        }
        return out;
    }
    out += d.digits.at(0);
    if (nd > 1) {
        out += QLatin1Char('.');
        out += d.digits.midRef(1);
    }
    out += QLatin1Char('E');
    out += d.exponent < 0 ? QLatin1Char('-') : QLatin1Char('+');
    out += QStringLiteral("%1").arg(std::abs(d.exponent), 2, 10, QLatin1Char('0'));
    return out;
}

QString shownNumberText(double value)
{
    if (!std::isfinite(value))
        return QString();
    const QString exact = numberText(value);
    // Up to 15 significant digits the shortest text is already the shown one.
    int digits = 0;
    bool leading = true;
    for (const QChar c : exact) {
        if (c == QLatin1Char('E'))
            break;
        if (c < QLatin1Char('0') || c > QLatin1Char('9') || (leading && c == QLatin1Char('0')))
            continue;
        leading = false;
        ++digits;
    }
    if (digits <= 15)
        return exact;
    return numberText(QString::number(value, 'g', 15).toDouble());
}

QString numberLiteralText(const QString &literal)
{
    bool ok = false;
    const double v = literal.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return QString();
    return shownNumberText(v);
}

bool isPlainNumber(const QString &text, double *value)
{
    const int n = text.size();
    int i = 0;
    bool negative = false;
    if (i < n && text[i] == QLatin1Char('-')) {
        negative = true;
        ++i;
    }
    auto isDigit = [&text](int k) {
        return text[k] >= QLatin1Char('0') && text[k] <= QLatin1Char('9');
    };
    const int intStart = i;
    while (i < n && isDigit(i))
        ++i;
    const QString intPart = text.mid(intStart, i - intStart);
    QString fracPart;
    if (i < n && text[i] == QLatin1Char('.')) {
        ++i;
        const int fracStart = i;
        while (i < n && isDigit(i))
            ++i;
        fracPart = text.mid(fracStart, i - fracStart);
    }
    if (intPart.isEmpty() && fracPart.isEmpty())
        return false;
    if (intPart.size() > 1 && intPart.startsWith(QLatin1Char('0')))
        return false; // "007": the zeros are part of the text
    long long exp = 0;
    if (i < n && (text[i] == QLatin1Char('e') || text[i] == QLatin1Char('E'))) {
        ++i;
        bool expNegative = false;
        if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
            expNegative = text[i] == QLatin1Char('-');
            ++i;
        }
        const int expStart = i;
        while (i < n && isDigit(i) && i - expStart < 6) {
            exp = exp * 10 + (text[i].unicode() - '0');
            ++i;
        }
        if (i == expStart)
            return false;
        if (expNegative)
            exp = -exp;
    }
    if (i != n)
        return false;

    bool ok = false;
    const double v = QLocale::c().toDouble(text, &ok);
    if (!ok || !std::isfinite(v))
        return false;

    // The significant digits typed must be exactly those the double keeps.
    QString all = intPart + fracPart;
    long long firstExp = static_cast<long long>(intPart.size()) - 1 + exp;
    int lead = 0;
    while (lead < all.size() && all[lead] == QLatin1Char('0'))
        ++lead;
    all = all.mid(lead);
    firstExp -= lead;
    while (all.endsWith(QLatin1Char('0')))
        all.chop(1);
    if (all.size() > 15)
        return false; // more digits than the application keeps
    const Decimal d = shortestDecimal(v);
    if (all.isEmpty()) {
        if (!d.digits.isEmpty())
            return false;
    } else if (all != d.digits || firstExp != d.exponent) {
        return false;
    }
    if (value)
        *value = negative && v == 0.0 ? 0.0 : v;
    return true;
}

} // namespace sheetapp
