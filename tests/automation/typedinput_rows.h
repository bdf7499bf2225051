// The rows of typed input written by Range.Value, shared by the .xlsx and the .xls tests:
// the same text into the same kind of cell gives the same kind of value on both paths.
#pragma once

#include "jobs.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <vector>

// moc reads included headers and cannot read raw strings.
#ifndef Q_MOC_RUN
namespace typedinput {

struct Row
{
    const char *name;
    // Sheet "S" as sheetapp_tool.py cells writes it; with "writer": "xlsxwriter", the cells
    // as xlsx_tool.py make writes them.
    const char *cells;
    const char *text; // written to A1
    // A1 read back by openpyxl: [value, type, number format, quote prefix], as many as given;
    // a quote prefix given also says whether one cell style was added for it.
    const char *xlsx;
    // A1 read back by xlrd: [value, kind, serial number of a date], as many as given.
    const char *xls;
};

inline const std::vector<Row> &rows()
{
    static const char *none = "{}";
    static const char *dateCell = R"J({"A1":{"v":1,"fmt":"yyyy/m/d"}})J";
    static const char *textCell = R"J({"A1":{"v":"x","fmt":"@"}})J";
    static const std::vector<Row> all = {
        {"number", none, "12", R"J([12,"n"])J", R"J([12,"number"])J"},
        {"negative decimal", none, "-1.5", R"J([-1.5,"n"])J", R"J([-1.5,"number"])J"},
        {"leading zeros stay text", none, "007", R"J(["007","s"])J", R"J(["007","text"])J"},
        {"16 digits stay text", none, "1234567890123456", R"J(["1234567890123456","s"])J",
         R"J(["1234567890123456","text"])J"},
        {"boolean, any case", none, "true", R"J([true,"b"])J", R"J([true,"bool"])J"},
        {"error constant", none, "#n/a", R"J(["#N/A","e"])J", R"J(["#N/A","error"])J"},
        {"formula", none, "=1+2", R"J(["=1+2","f"])J", R"J([3,"number"])J"},
        {"broken formula stays text", none, "=SUM(", R"J(["=SUM(","s"])J", R"J(["=SUM(","text"])J"},
        {"text", none, "hello", R"J(["hello","s"])J", R"J(["hello","text"])J"},
        {"date into a date cell", dateCell, "2024/1/15",
         R"J(["2024-01-15T00:00:00","d","yyyy/m/d"])J", R"J(["2024-01-15","date",45306])J"},
        {"date and time into a date cell", dateCell, "2024/1/15 6:00:00",
         R"J(["2024-01-15T06:00:00","d"])J", R"J(["2024-01-15","date",45306.25])J"},
        {"date into a General cell stays text", none, "2024/1/15", R"J(["2024/1/15","s"])J",
         R"J(["2024/1/15","text"])J"},
        {"other date forms stay text", dateCell, "2024-01-15", R"J(["2024-01-15","s"])J",
         R"J(["2024-01-15","text"])J"},
        {"time without seconds into a date cell", dateCell, "2024/1/15 6:30",
         R"J(["2024-01-15T06:30:00","d"])J", R"J(["2024-01-15","date",45306.2708333333])J"},
        {"time into a time cell", R"J({"A1":{"v":0,"fmt":"h:mm:ss"}})J", "8:30:00",
         R"J(["08:30:00","d"])J", R"J(["0000-00-00","date",0.354166666666667])J"},
        {"Text format keeps the number as text", textCell, "12", R"J(["12","s","@"])J",
         R"J(["12","text"])J"},
        {"Text format keeps a formula as text", textCell, "=1+2", R"J(["=1+2","s","@"])J",
         R"J(["=1+2","text"])J"},
        {"empty text empties the cell, style kept", R"J({"A1":{"v":"x","fmt":"0.00"}})J", "",
         R"J([null,"n","0.00"])J", "[null]"},
        {"apostrophe: the rest is text, with the quote prefix", none, "'007",
         R"J(["007","s","General",true])J", R"J(["007","text"])J"},
        {"apostrophe before a formula", none, "'=1+2", R"J(["=1+2","s","General",true])J",
         R"J(["=1+2","text"])J"},
        {"apostrophe: the cell's own format with the prefix",
         R"J({"writer":"xlsxwriter","A1":{"text":"x","format":"0.00"}})J", "'abc",
         R"J(["abc","s","0.00",true])J", R"J(["abc","text"])J"},
        {"apostrophe in a Text cell is text", textCell, "'abc", R"J(["'abc","s","@",false])J",
         R"J(["'abc","text"])J"},
    };
    return all;
}

inline QJsonArray array(const char *text)
{
    return QJsonDocument::fromJson(QByteArray(text)).array();
}

// The workbook of a row at `path` (.xlsx), with "keep" in Z9.
inline QString make(const QString &path, const char *cells)
{
    QJsonObject all = jobs::json(cells);
    const QString writer = all.take(QStringLiteral("writer")).toString();
    all.insert(QStringLiteral("Z9"), QStringLiteral("keep"));
    const QJsonObject spec{{"writer", writer.isEmpty() ? QStringLiteral("openpyxl") : writer},
                           {"sheets", QJsonArray{QJsonObject{{"name", "S"}, {"cells", all}}}}};
    if (!writer.isEmpty()) {
        QString error;
        if (!testsupport::makeWorkbook(path, spec, &error))
            qWarning("cannot write %s: %s", qPrintable(path), qPrintable(error));
        return path;
    }
    return jobs::writeWithTool(path, {QStringLiteral("cells"), path}, QJsonDocument(spec).toJson());
}

} // namespace typedinput
#endif
