// Dates and times as the formula bar of a Chinese-locale installation shows
// them ("2024/1/15", "12:00:00", "2024/1/15 12:00:00"), and the number formats
// that make a number cell a date or a time.
#pragma once

#include <QHash>
#include <QString>

namespace xlsx {
class Document;
}

namespace sheetapp {

enum class ValueFormat
{
    General,  // numbers shown as numbers
    Date,     // a date format (year, month or day, no time)
    Time,     // a time format (no date)
    DateTime, // both
    Text,     // "@": whatever is entered stays text
};

// What a number format makes of a value: the built-in ids (14-22, 45-47, 49 and the CJK
// date and time ids 27-36 and 50-58) and custom codes with date or time tokens outside
// quotes, escapes and brackets ("[h]", "[mm]" and "[ss]" count as time).
ValueFormat classifyNumberFormat(int id, const QString &code);

struct CellFormat
{
    ValueFormat kind = ValueFormat::General;
    bool date1904 = false;
    bool isDateOrTime() const
    {
        return kind == ValueFormat::Date || kind == ValueFormat::Time ||
               kind == ValueFormat::DateTime;
    }
};

// The formats of a workbook's cell styles, looked up once per style.
class CellFormats
{
public:
    explicit CellFormats(const xlsx::Document *doc);
    CellFormat of(int style) const;

private:
    const xlsx::Document *m_doc;
    bool m_date1904 = false;
    mutable QHash<int, CellFormat> m_cache;
};

// The text the formula bar shows for a serial number in a date or time format: the date,
// the time (a time format and a value under one day), or both (a value with a time of
// day). Empty when the value is no date (negative, or past 9999/12/31).
QString dateTimeText(double serial, ValueFormat kind, bool date1904);

// Reads "yyyy/m/d", "h:mm:ss" or "yyyy/m/d h:mm:ss" (or "h:mm" without the seconds) back
// into a serial number; false for any other text and for dates the date system cannot hold.
bool parseDateTimeText(const QString &text, bool date1904, double *serial);

} // namespace sheetapp
