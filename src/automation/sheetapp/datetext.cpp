#include "automation/sheetapp/datetext.h"

#include "xlsx/document.h"

#include <QDate>

#include <cmath>

namespace sheetapp {
namespace {

constexpr long long kSecondsPerDay = 86400;
// 9999-12-31 in the 1900 date system, the last date there is.
constexpr long long kLastSerial1900 = 2958465;
constexpr long long kLastSerial1904 = kLastSerial1900 - 1462;

ValueFormat builtInFormat(int id)
{
    switch (id) {
    case 14:
    case 15:
    case 16:
    case 17:
    case 27:
    case 28:
    case 29:
    case 30:
    case 31:
    case 36:
    case 50:
    case 51:
    case 52:
    case 53:
    case 54:
    case 57:
    case 58:
        return ValueFormat::Date;
    case 18:
    case 19:
    case 20:
    case 21:
    case 45:
    case 46:
    case 47:
    case 32:
    case 33:
    case 34:
    case 35:
    case 55:
    case 56:
        return ValueFormat::Time;
    case 22:
        return ValueFormat::DateTime;
    case 49:
        return ValueFormat::Text;
    default:
        return ValueFormat::General;
    }
}

ValueFormat customFormat(const QString &code)
{
    if (code.trimmed() == QLatin1String("@"))
        return ValueFormat::Text;
    bool date = false;
    bool time = false;
    bool month = false; // "m" that is not a minute next to an hour or a second
    const QString c = code.toLower();
    const int n = c.size();
    for (int i = 0; i < n; ++i) {
        const QChar ch = c[i];
        if (ch == QLatin1Char('"')) {
            const int close = c.indexOf(QLatin1Char('"'), i + 1);
            i = close < 0 ? n : close;
            continue;
        }
        if (ch == QLatin1Char('\\') || ch == QLatin1Char('_') || ch == QLatin1Char('*')) {
            ++i; // the next character is a literal, a width or a fill
            continue;
        }
        if (ch == QLatin1Char('[')) {
            const int close = c.indexOf(QLatin1Char(']'), i + 1);
            const QString inner = c.mid(i + 1, (close < 0 ? n : close) - i - 1);
            if (!inner.isEmpty() && (inner.count(inner[0]) == inner.size()) &&
                (inner[0] == QLatin1Char('h') || inner[0] == QLatin1Char('m') ||
                 inner[0] == QLatin1Char('s')))
                time = true; // elapsed time: [h], [mm], [ss]
            i = close < 0 ? n : close;
            continue;
        }
        switch (ch.unicode()) {
        case 'y':
        case 'd':
            date = true;
            break;
        case 'h':
        case 's':
            time = true;
            break;
        case 'm':
            month = true;
            break;
        case 'a':
            if (c.midRef(i, 5) == QLatin1String("am/pm") || c.midRef(i, 3) == QLatin1String("a/p"))
                time = true;
            break;
        default:
            break;
        }
    }
    if (month && !time)
        date = true;
    if (date && time)
        return ValueFormat::DateTime;
    if (date)
        return ValueFormat::Date;
    if (time)
        return ValueFormat::Time;
    return ValueFormat::General;
}

QString dateText(long long days, bool date1904)
{
    if (!date1904) {
        if (days == 0)
            return QStringLiteral("1900/1/0");
        if (days == 60)
            return QStringLiteral("1900/2/29"); // the day the 1900 system counts but never was
    }
    const QDate base = date1904    ? QDate(1904, 1, 1)
                       : days < 60 ? QDate(1899, 12, 31)
                                   : QDate(1899, 12, 30);
    const QDate d = base.addDays(days);
    return QStringLiteral("%1/%2/%3").arg(d.year()).arg(d.month()).arg(d.day());
}

QString timeText(long long seconds)
{
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600)
        .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

// Digits only, 1 to maxDigits of them.
bool readNumber(const QString &text, int minDigits, int maxDigits, int *value)
{
    if (text.size() < minDigits || text.size() > maxDigits)
        return false;
    int v = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
        v = v * 10 + (c.unicode() - '0');
    }
    *value = v;
    return true;
}

bool parseDate(const QString &text, bool date1904, long long *days)
{
    const QStringList parts = text.split(QLatin1Char('/'));
    int y = 0, m = 0, d = 0;
    if (parts.size() != 3 || !readNumber(parts[0], 4, 4, &y) || !readNumber(parts[1], 1, 2, &m) ||
        !readNumber(parts[2], 1, 2, &d))
        return false;
    if (!date1904 && y == 1900 && m == 2 && d == 29) {
        *days = 60;
        return true;
    }
    const QDate date(y, m, d);
    if (!date.isValid() || y > 9999)
        return false;
    if (date1904) {
        if (date < QDate(1904, 1, 1))
            return false;
        *days = QDate(1904, 1, 1).daysTo(date);
        return true;
    }
    if (y < 1900)
        return false;
    *days = date < QDate(1900, 3, 1) ? QDate(1899, 12, 31).daysTo(date)
                                     : QDate(1899, 12, 30).daysTo(date);
    return true;
}

bool parseTime(const QString &text, long long *seconds)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    int h = 0, m = 0, s = 0;
    if ((parts.size() != 2 && parts.size() != 3) || !readNumber(parts[0], 1, 2, &h) ||
        !readNumber(parts[1], 2, 2, &m) || (parts.size() == 3 && !readNumber(parts[2], 2, 2, &s)) ||
        h > 23 || m > 59 || s > 59)
        return false;
    *seconds = h * 3600LL + m * 60LL + s;
    return true;
}

} // namespace

ValueFormat classifyNumberFormat(int id, const QString &code)
{
    return code.isEmpty() ? builtInFormat(id) : customFormat(code);
}

CellFormats::CellFormats(const xlsx::Document *doc)
    : m_doc(doc), m_date1904(doc && doc->isDate1904())
{
}

CellFormat CellFormats::of(int style) const
{
    const auto it = m_cache.constFind(style);
    if (it != m_cache.constEnd())
        return *it;
    CellFormat f;
    f.date1904 = m_date1904;
    if (m_doc) {
        const xlsx::NumberFormat nf = m_doc->numberFormat(style);
        f.kind = classifyNumberFormat(nf.id, nf.code);
    }
    m_cache.insert(style, f);
    return f;
}

QString dateTimeText(double serial, ValueFormat kind, bool date1904)
{
    if (!std::isfinite(serial) || serial < 0 ||
        serial >= double((date1904 ? kLastSerial1904 : kLastSerial1900) + 1))
        return QString();
    const long long total = std::llround(serial * double(kSecondsPerDay));
    const long long days = total / kSecondsPerDay;
    const long long seconds = total % kSecondsPerDay;
    if (days > (date1904 ? kLastSerial1904 : kLastSerial1900))
        return QString();
    if (kind == ValueFormat::Time && days == 0)
        return timeText(seconds);
    if (seconds == 0 && kind != ValueFormat::Time)
        return dateText(days, date1904);
    return dateText(days, date1904) + QLatin1Char(' ') + timeText(seconds);
}

bool parseDateTimeText(const QString &text, bool date1904, double *serial)
{
    long long days = 0;
    long long seconds = 0;
    const int blank = text.indexOf(QLatin1Char(' '));
    if (blank >= 0) {
        if (!parseDate(text.left(blank), date1904, &days) ||
            !parseTime(text.mid(blank + 1), &seconds))
            return false;
    } else if (text.contains(QLatin1Char('/'))) {
        if (!parseDate(text, date1904, &days))
            return false;
    } else if (!parseTime(text, &seconds)) {
        return false;
    }
    *serial = double(days) + double(seconds) / double(kSecondsPerDay);
    return true;
}

} // namespace sheetapp
