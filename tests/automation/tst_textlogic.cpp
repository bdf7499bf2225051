// Pure text logic of the embedded application: wildcard matching, number
// texts, date and time texts, range references, and formula text shifting,
// prefixes and structured references.
#include "automation/embedded/cellreplace_p.h"
#include "automation/embedded/matcher_p.h"
#include "automation/sheetapp/datetext.h"
#include "automation/sheetapp/numbertext.h"
#include "automation/sheetapp/rangeref_p.h"
#include "xlsx/formula.h"

#include <QtTest>

#include <limits>

using embedded::TextMatch;
using embedded::WildcardPattern;

Q_DECLARE_METATYPE(QVector<TextMatch>)

namespace {

// "1-3,5-6" -> matches [1,3), [5,6)
QVector<TextMatch> spans(const QString &text)
{
    QVector<TextMatch> out;
    if (text.isEmpty())
        return out;
    for (const QString &part : text.split(QLatin1Char(','))) {
        const QStringList ends = part.split(QLatin1Char('-'));
        out.append({ends[0].toInt(), ends[1].toInt()});
    }
    return out;
}

QString spanText(const QVector<TextMatch> &m)
{
    QStringList parts;
    for (const TextMatch &x : m)
        parts << QStringLiteral("%1-%2").arg(x.start).arg(x.end);
    return parts.join(QLatin1Char(','));
}

} // namespace

class TextLogicTest : public QObject
{
    Q_OBJECT

private slots:
    void findAll_data();
    void findAll();
    void exactLiteral_data();
    void exactLiteral();
    void matchesWhole_data();
    void matchesWhole();
    void replaceKeepsUnmatchedText_data();
    void replaceKeepsUnmatchedText();
    void numberText_data();
    void numberText();
    void plainNumber_data();
    void plainNumber();
    void dateText_data();
    void dateText();
    void structuredRename_data();
    void structuredRename();
    void rangeReference_data();
    void rangeReference();
    void shiftFormula_data();
    void shiftFormula();
    void prefixes_data();
    void prefixes();
    void wellFormedFormula_data();
    void wellFormedFormula();
};

void TextLogicTest::findAll_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<bool>("matchCase");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected"); // "start-end,..."

    QTest::newRow("literal, several") << "ab" << true << "abxab"
                                      << "0-2,3-5";
    QTest::newRow("non-overlapping left to right") << "aa" << true << "aaaaa"
                                                   << "0-2,2-4";
    QTest::newRow("case differs, match case") << "AB" << true << "abAB"
                                              << "2-4";
    QTest::newRow("case differs, ignore case") << "AB" << false << "abAB"
                                               << "0-2,2-4";
    QTest::newRow("greek final sigma folds")
        << QString::fromUtf8("ΣΑΣ") << false << QString::fromUtf8("σας") << "0-3";
    QTest::newRow("cyrillic ignore case")
        << QString::fromUtf8("мир") << false << QString::fromUtf8("Привет, МИР") << "8-11";
    QTest::newRow("fullwidth letters fold")
        << QString::fromUtf8("ＡＢ") << false << QString::fromUtf8("xａｂ") << "1-3";
    QTest::newRow("question mark is one char") << "a?c" << true << "abc aXc ac"
                                               << "0-3,4-7";
    QTest::newRow("question mark takes a surrogate pair")
        << "a?c" << true << QString::fromUtf8("a😀c") << "0-4";
    QTest::newRow("star is greedy") << "a*c" << true << "abcabc"
                                    << "0-6";
    QTest::newRow("star alone takes everything") << "*" << true << "hello"
                                                 << "0-5";
    QTest::newRow("leading star") << "*lo" << true << "hello yo"
                                  << "0-5";
    QTest::newRow("trailing star") << "he*" << true << "xhello"
                                   << "1-6";
    QTest::newRow("star may match nothing") << "a*b" << true << "ab"
                                            << "0-2";
    QTest::newRow("escaped star is literal") << "a~*" << true << "aa*a"
                                             << "1-3";
    QTest::newRow("escaped question mark") << "~?" << true << "why?"
                                           << "3-4";
    QTest::newRow("escaped tilde") << "~~" << true << "a~b"
                                   << "1-2";
    QTest::newRow("tilde before a letter is literal") << "~a" << true << "~a a"
                                                      << "0-2";
    QTest::newRow("trailing tilde is literal") << "a~" << true << "a~"
                                               << "0-2";
    QTest::newRow("no match") << "zz" << false << "abc"
                              << "";
    QTest::newRow("empty what matches nothing") << "" << false << "abc"
                                                << "";
    QTest::newRow("empty text") << "*" << false << ""
                                << "";
    QTest::newRow("chinese") << QString::fromUtf8("北京") << true
                             << QString::fromUtf8("北京市北京路") << "0-2,3-5";
    QTest::newRow("leftmost wins over longer later") << "b*d" << true << "abcd bd"
                                                     << "1-7";
    QTest::newRow("question marks need enough chars") << "???" << true << "ab"
                                                      << "";
    QTest::newRow("question marks chunk text") << "??" << true << "abcde"
                                               << "0-2,2-4";
}

void TextLogicTest::findAll()
{
    QFETCH(QString, what);
    QFETCH(bool, matchCase);
    QFETCH(QString, text);
    QFETCH(QString, expected);
    const WildcardPattern p(what, matchCase);
    QCOMPARE(spanText(p.findAll(text)), spanText(spans(expected)));
}

void TextLogicTest::exactLiteral_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<bool>("matchCase");
    QTest::addColumn<QString>("literal");

    QTest::newRow("caseless script, any case") << "北京" << false << "北京";
    QTest::newRow("digits and signs, any case") << "-12.5" << false << "-12.5";
    QTest::newRow("latin letters, any case") << "ORD-" << false << "";
    QTest::newRow("latin letters, case") << "ORD-" << true << "ORD-";
    QTest::newRow("fullwidth latin, any case") << "ＡＢ" << false << "";
    QTest::newRow("fullwidth digits, any case") << "１２" << false << "";
    QTest::newRow("wildcard") << "北*" << true << "";
    QTest::newRow("escaped wildcard") << "~*" << true << "*";
    QTest::newRow("empty") << "" << true << "";
}

void TextLogicTest::exactLiteral()
{
    QFETCH(QString, what);
    QFETCH(bool, matchCase);
    QFETCH(QString, literal);
    QCOMPARE(WildcardPattern(what, matchCase).exactLiteral(), literal);
}

void TextLogicTest::matchesWhole_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<bool>("matchCase");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("expected");

    QTest::newRow("equal") << "abc" << true << "abc" << true;
    QTest::newRow("part only") << "ab" << true << "abc" << false;
    QTest::newRow("case, match case") << "ABC" << true << "abc" << false;
    QTest::newRow("case, ignore case") << "ABC" << false << "abc" << true;
    QTest::newRow("star covers") << "a*" << true << "abc" << true;
    QTest::newRow("star inside") << "a*c" << true << "abbbc" << true;
    QTest::newRow("star inside, wrong end") << "a*c" << true << "abbbd" << false;
    QTest::newRow("question marks exact count") << "a??" << true << "abc" << true;
    QTest::newRow("question marks too few") << "a?" << true << "abc" << false;
    QTest::newRow("star on empty text") << "*" << true << "" << true;
    QTest::newRow("empty what never matches") << "" << true << "" << false;
    QTest::newRow("escaped star needs a star") << "a~*" << true << "ab" << false;
    QTest::newRow("escaped star matches a star") << "a~*" << true << "a*" << true;
    QTest::newRow("backtracking star") << "*ab*ab" << true << "xabyabzab" << true;
}

void TextLogicTest::matchesWhole()
{
    QFETCH(QString, what);
    QFETCH(bool, matchCase);
    QFETCH(QString, text);
    QFETCH(bool, expected);
    QCOMPARE(WildcardPattern(what, matchCase).matchesWhole(text), expected);
}

void TextLogicTest::replaceKeepsUnmatchedText_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<QString>("expected");

    QTest::newRow("folded positions map back")
        << "STRASSE" << QString::fromUtf8("Die STRASSE und Ǆx") << "Weg"
        << QString::fromUtf8("Die Weg und Ǆx");
    QTest::newRow("titlecase digraph folds to one char")
        << QString::fromUtf8("ǆ") << QString::fromUtf8("aǅbǄc") << "-"
        << "a-b-c";
    QTest::newRow("replacement with wildcard chars is literal") << "b"
                                                                << "abc"
                                                                << "*?"
                                                                << "a*?c";
    QTest::newRow("surrogates around the match")
        << "x" << QString::fromUtf8("😀X😀") << "y" << QString::fromUtf8("😀y😀");
}

void TextLogicTest::replaceKeepsUnmatchedText()
{
    QFETCH(QString, what);
    QFETCH(QString, text);
    QFETCH(QString, replacement);
    QFETCH(QString, expected);
    const WildcardPattern p(what, false);
    QCOMPARE(embedded::replaceMatches(text, p.findAll(text), replacement), expected);
}

void TextLogicTest::numberText_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("integer") << 2023.0 << "2023";
    QTest::newRow("zero") << 0.0 << "0";
    QTest::newRow("negative zero") << -0.0 << "0";
    QTest::newRow("negative") << -12.5 << "-12.5";
    QTest::newRow("tenth is not 0.1000000000000000055") << 0.1 << "0.1";
    QTest::newRow("sum keeps its last digit") << 0.1 + 0.2 << "0.30000000000000004";
    QTest::newRow("round number with zeros") << 1200000.0 << "1200000";
    QTest::newRow("largest plain") << 999999999999999.0 << "999999999999999";
    QTest::newRow("1e15 scientific") << 1e15 << "1E+15";
    QTest::newRow("big with fraction digits") << 1.5e20 << "1.5E+20";
    QTest::newRow("small plain") << 0.00001 << "0.00001";
    QTest::newRow("smaller scientific") << 0.0000015 << "1.5E-06";
    QTest::newRow("tiny") << 5e-324 << "5E-324";
    QTest::newRow("max") << std::numeric_limits<double>::max() << "1.7976931348623157E+308";
    QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << "";
    QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN() << "";
}

void TextLogicTest::numberText()
{
    QFETCH(double, value);
    QFETCH(QString, expected);
    const QString text = sheetapp::numberText(value);
    QCOMPARE(text, expected);
    if (!text.isEmpty()) {
        // The shown text reads back as the very same double.
        bool ok = false;
        QCOMPARE(text.toDouble(&ok), value);
        QVERIFY(ok);
    }
}

void TextLogicTest::plainNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("expected");
    QTest::addColumn<double>("value");

    QTest::newRow("integer") << "2024" << true << 2024.0;
    QTest::newRow("negative decimal") << "-3.25" << true << -3.25;
    QTest::newRow("trailing fraction zero") << "1.50" << true << 1.5;
    QTest::newRow("zero point") << "0.5" << true << 0.5;
    QTest::newRow("scientific") << "1.5E+20" << true << 1.5e20;
    QTest::newRow("scientific lower e") << "2e-3" << true << 0.002;
    QTest::newRow("zero") << "0" << true << 0.0;
    QTest::newRow("leading zeros stay text") << "007" << false << 0.0;
    QTest::newRow("plus sign") << "+5" << false << 0.0;
    QTest::newRow("blank around") << " 5" << false << 0.0;
    QTest::newRow("thousands separator") << "1,000" << false << 0.0;
    QTest::newRow("decimal comma") << "3,5" << false << 0.0;
    QTest::newRow("percent") << "50%" << false << 0.0;
    QTest::newRow("currency") << "$5" << false << 0.0;
    QTest::newRow("letters") << "12a" << false << 0.0;
    QTest::newRow("date-like") << "2024-01-31" << false << 0.0;
    QTest::newRow("empty") << "" << false << 0.0;
    QTest::newRow("minus only") << "-" << false << 0.0;
    QTest::newRow("dot only") << "." << false << 0.0;
    QTest::newRow("exponent without digits") << "1e" << false << 0.0;
    QTest::newRow("too many digits for a double") << "12345678901234567890" << false << 0.0;
    QTest::newRow("16 significant digits stay text") << "1234567890123456" << false << 0.0;
    QTest::newRow("15 significant digits") << "123456789012345" << true << 123456789012345.0;
    QTest::newRow("overflow") << "1e400" << false << 0.0;
    QTest::newRow("underflow to zero") << "1e-400" << false << 0.0;
    QTest::newRow("fullwidth digits") << QString::fromUtf8("２０２４") << false << 0.0;
    QTest::newRow("infinity word") << "inf" << false << 0.0;
}

void TextLogicTest::plainNumber()
{
    QFETCH(QString, text);
    QFETCH(bool, expected);
    QFETCH(double, value);
    double got = -1;
    QCOMPARE(sheetapp::isPlainNumber(text, &got), expected);
    if (expected)
        QCOMPARE(got, value);
}

void TextLogicTest::dateText_data()
{
    QTest::addColumn<QString>("format"); // a code, or "#id" for a built-in id
    QTest::addColumn<bool>("date1904");
    QTest::addColumn<double>("serial");
    QTest::addColumn<QString>("shown"); // empty: not shown as a date

    QTest::newRow("date") << "yyyy-mm-dd" << false << 45306.0 << "2024/1/15";
    QTest::newRow("date with a time of day")
        << "yyyy-mm-dd" << false << 45306.25 << "2024/1/15 6:00:00";
    QTest::newRow("time") << "h:mm" << false << 0.5 << "12:00:00";
    QTest::newRow("time of more than a day") << "h:mm" << false << 1.5 << "1900/1/1 12:00:00";
    QTest::newRow("seconds round") << "h:mm:ss" << false << 0.5 + 0.6 / 86400 << "12:00:01";
    QTest::newRow("date and time format, midnight") << "#22" << false << 45306.0 << "2024/1/15";
    QTest::newRow("the 1900 leap day") << "#14" << false << 60.0 << "1900/2/29";
    QTest::newRow("day after it") << "#14" << false << 61.0 << "1900/3/1";
    QTest::newRow("first day") << "#14" << false << 1.0 << "1900/1/1";
    QTest::newRow("1904 system") << "#14" << true << 0.0 << "1904/1/1";
    QTest::newRow("CJK date 57") << "#57" << false << 45306.0 << "2024/1/15";
    QTest::newRow("CJK time 56") << "#56" << false << 0.75 << "18:00:00";
    QTest::newRow("elapsed hours") << "[h]:mm" << false << 0.25 << "6:00:00";
    QTest::newRow("month only") << "mmm" << false << 45306.0 << "2024/1/15";
    QTest::newRow("letters in quotes are no date") << "0 \"days\"" << false << 3.0 << "";
    QTest::newRow("escaped letters are no date") << "0\\d" << false << 3.0 << "";
    QTest::newRow("colour and locale are no date") << "[Red][$-804]0.00" << false << 3.0 << "";
    QTest::newRow("General") << "General" << false << 3.0 << "";
    QTest::newRow("text format") << "@" << false << 3.0 << "";
    QTest::newRow("negative") << "yyyy/m/d" << false << -1.0 << "";
    QTest::newRow("past 9999") << "yyyy/m/d" << false << 2958466.0 << "";
}

void TextLogicTest::dateText()
{
    QFETCH(QString, format);
    QFETCH(bool, date1904);
    QFETCH(double, serial);
    QFETCH(QString, shown);

    const bool builtIn = format.startsWith(QLatin1Char('#'));
    const sheetapp::ValueFormat kind = sheetapp::classifyNumberFormat(
        builtIn ? format.mid(1).toInt() : 164, builtIn ? QString() : format);
    const bool dated =
        kind != sheetapp::ValueFormat::General && kind != sheetapp::ValueFormat::Text;
    QCOMPARE(dated ? sheetapp::dateTimeText(serial, kind, date1904) : QString(), shown);
    if (shown.isEmpty())
        return;
    // The text reads back as the serial (to the second).
    double back = -1;
    QVERIFY(sheetapp::parseDateTimeText(shown, date1904, &back));
    QCOMPARE(qRound64(back * 86400), qRound64(serial * 86400));
}

void TextLogicTest::structuredRename_data()
{
    QTest::addColumn<QString>("formula");
    QTest::addColumn<bool>("inTable");
    QTest::addColumn<QString>("newName");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("unsure");

    QTest::newRow("column") << "SUM(Stock[Qty])" << false << "Amount"
                            << "SUM(Stock[Amount])" << false;
    QTest::newRow("any case") << "SUM(stock[qty])" << false << "Amount"
                              << "SUM(stock[Amount])" << false;
    QTest::newRow("this row") << "Stock[[#This Row],[Qty]]*2" << false << "Amount"
                              << "Stock[[#This Row],[Amount]]*2" << false;
    QTest::newRow("at form") << "Stock[@Qty]" << false << "Amount"
                             << "Stock[@Amount]" << false;
    QTest::newRow("column range") << "SUM(Stock[[Name]:[Qty]])" << false << "Amount"
                                  << "SUM(Stock[[Name]:[Amount]])" << false;
    QTest::newRow("new name needs brackets") << "SUM(Stock[Qty])" << false << "Net Qty"
                                             << "SUM(Stock[[Net Qty]])" << false;
    QTest::newRow("at form needs brackets") << "Stock[@Qty]" << false << "Net Qty"
                                            << "Stock[@[Net Qty]]" << false;
    QTest::newRow("escaped characters") << "Stock[Qty]" << false << "Q[1]#'"
                                        << "Stock[[Q'[1']'#'']]" << false;
    QTest::newRow("old name escaped") << "Stock[[Q'#]]" << false << "Amount"
                                      << "Stock[[Amount]]" << false;
    QTest::newRow("unqualified inside the table") << "[@Qty]*2+[Qty]" << true << "Amount"
                                                  << "[@Amount]*2+[Amount]" << false;
    QTest::newRow("unqualified outside the table") << "[@Qty]" << false << "Amount"
                                                   << "[@Qty]" << false;
    QTest::newRow("other table") << "Other[Qty]" << false << "Amount"
                                 << "Other[Qty]" << false;
    QTest::newRow("other column") << "Stock[Qtys]+Stock[#Totals]" << false << "Amount"
                                  << "Stock[Qtys]+Stock[#Totals]" << false;
    QTest::newRow("external book index") << "[1]Sheet1!A1" << true << "Amount"
                                         << "[1]Sheet1!A1" << false;
    QTest::newRow("string literal left, unsure") << "INDIRECT(\"Stock[Qty]\")" << false << "Amount"
                                                 << "INDIRECT(\"Stock[Qty]\")" << true;
    QTest::newRow("cut short") << "SUM(Stock[[Qty]" << false << "Amount"
                               << "SUM(Stock[[Qty]" << true;
}

void TextLogicTest::structuredRename()
{
    QFETCH(QString, formula);
    QFETCH(bool, inTable);
    QFETCH(QString, newName);
    QFETCH(QString, expected);
    QFETCH(bool, unsure);

    const QString oldName =
        formula.contains(QLatin1String("Q'#")) ? QStringLiteral("Q#") : QStringLiteral("Qty");
    bool gotUnsure = false;
    QCOMPARE(xlsx::renameTableColumnInFormula(formula, QStringLiteral("Stock"), oldName, newName,
                                              inTable, &gotUnsure),
             expected);
    QCOMPARE(gotUnsure, unsure);
}

void TextLogicTest::rangeReference_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected"); // "r1,c1,r2,c2" or "" for refused

    QTest::newRow("cell") << "B2"
                          << "2,2,2,2";
    QTest::newRow("lower case") << "b2"
                                << "2,2,2,2";
    QTest::newRow("anchored") << "$B$2"
                              << "2,2,2,2";
    QTest::newRow("half anchored") << "B$2"
                                   << "2,2,2,2";
    QTest::newRow("range") << "B2:C4"
                           << "2,2,4,3";
    QTest::newRow("range reversed corners") << "C4:B2"
                                            << "2,2,4,3";
    QTest::newRow("range mixed case and anchors") << "$a$1:c$3"
                                                  << "1,1,3,3";
    QTest::newRow("last cell") << "XFD1048576"
                               << "1048576,16384,1048576,16384";
    QTest::newRow("row past the last") << "A1048577"
                                       << "";
    QTest::newRow("column past the last") << "XFE1"
                                          << "";
    QTest::newRow("four letters") << "AAAA1"
                                  << "";
    QTest::newRow("row zero") << "A0"
                              << "";
    QTest::newRow("leading zero row") << "A01"
                                      << "";
    QTest::newRow("name") << "Total"
                          << "";
    QTest::newRow("union") << "A1,B2"
                           << "";
    QTest::newRow("whole column") << "A:A"
                                  << "";
    QTest::newRow("whole row") << "1:1"
                               << "";
    QTest::newRow("sheet qualified") << "Sheet1!A1"
                                     << "";
    QTest::newRow("r1c1") << "R1C1"
                          << "";
    QTest::newRow("blank inside") << "A 1"
                                  << "";
    QTest::newRow("blank around") << " A1"
                                  << "";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("three corners") << "A1:B2:C3"
                                   << "";
    QTest::newRow("dangling colon") << "A1:"
                                    << "";
    QTest::newRow("fullwidth letters") << QString::fromUtf8("Ａ1") << "";
    QTest::newRow("dollar twice") << "$$A1"
                                  << "";
    QTest::newRow("huge row digits") << "A99999999999"
                                     << "";
}

void TextLogicTest::rangeReference()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    const xlsx::CellRange r = sheetapp::parseRangeReference(text);
    if (expected.isEmpty()) {
        QVERIFY2(!r.isValid(), qPrintable(text));
        return;
    }
    QVERIFY(r.isValid());
    QCOMPARE(QStringLiteral("%1,%2,%3,%4")
                 .arg(r.firstRow)
                 .arg(r.firstColumn)
                 .arg(r.lastRow)
                 .arg(r.lastColumn),
             expected);
}

void TextLogicTest::shiftFormula_data()
{
    QTest::addColumn<QString>("formula");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("columns");
    QTest::addColumn<QString>("expected");

    QTest::newRow("relative cell") << "A1+B2" << 2 << 1 << "B3+C4";
    QTest::newRow("no offset") << "A1+'x'!B2" << 0 << 0 << "A1+'x'!B2";
    QTest::newRow("absolute stays") << "$A$1*A1" << 3 << 3 << "$A$1*D4";
    QTest::newRow("mixed anchors") << "$A1+A$1" << 1 << 1 << "$A2+B$1";
    QTest::newRow("range") << "SUM(A1:B2)" << 1 << 0 << "SUM(A2:B3)";
    QTest::newRow("sheet qualified") << "Data!A1+Sheet2!$B1" << 1 << 1 << "Data!B2+Sheet2!$B2";
    QTest::newRow("quoted sheet name untouched") << "'A1 sheet'!A1" << 1 << 0 << "'A1 sheet'!A2";
    QTest::newRow("quoted sheet with quote") << "'it''s B2'!B2" << 1 << 0 << "'it''s B2'!B3";
    QTest::newRow("string literal untouched")
        << "IF(A1=\"B2\",1,0)" << 1 << 0 << "IF(A2=\"B2\",1,0)";
    QTest::newRow("string with doubled quotes")
        << "\"say \"\"A1\"\"\"&A1" << 1 << 0 << "\"say \"\"A1\"\"\"&A2";
    QTest::newRow("function name like a cell")
        << "LOG10(A1)+ATAN2(B1,C1)" << 1 << 0 << "LOG10(A2)+ATAN2(B2,C2)";
    QTest::newRow("prefixed function") << "_xlfn.CONCAT(A1,B1)" << 0 << 1 << "_xlfn.CONCAT(B1,C1)";
    QTest::newRow("defined name kept") << "Rate*A1+Tax_2023" << 1 << 0 << "Rate*A2+Tax_2023";
    QTest::newRow("three-letter word with digits is a cell") << "Tax2023" << 1 << 0 << "TAX2024";
    QTest::newRow("whole columns") << "SUM(A:B)" << 5 << 1 << "SUM(B:C)";
    QTest::newRow("whole rows") << "SUM(1:$3)" << 2 << 7 << "SUM(3:$3)";
    QTest::newRow("structured reference") << "Table1[Amount]*A1" << 1 << 0 << "Table1[Amount]*A2";
    QTest::newRow("nested structured reference")
        << "SUM(T[[#This Row],[A1]])+A1" << 1 << 0 << "SUM(T[[#This Row],[A1]])+A2";
    QTest::newRow("error literal kept")
        << "IF(ISERROR(A1),#N/A,#REF!)" << 1 << 0 << "IF(ISERROR(A2),#N/A,#REF!)";
    QTest::newRow("numbers kept") << "A1*1.5E+3+2" << 1 << 0 << "A2*1.5E+3+2";
    QTest::newRow("booleans kept") << "IF(TRUE,A1,FALSE)" << 1 << 0 << "IF(TRUE,A2,FALSE)";
    QTest::newRow("lower case reference") << "a1+b$2" << 1 << 1 << "B2+C$2";
    QTest::newRow("moved off the sheet") << "A1" << -1 << 0 << "#REF!";
    QTest::newRow("moved past the last column") << "XFD1" << 0 << 1 << "#REF!";
    QTest::newRow("spill operator") << "SUM(A1#)" << 1 << 0 << "SUM(A2#)";
    QTest::newRow("external book index") << "[1]Sheet1!A1" << 1 << 0 << "[1]Sheet1!A2";
    QTest::newRow("column letters past XFD are a name") << "XFE1+A1" << 1 << 0 << "XFE1+A2";
    QTest::newRow("lone column letters are a name") << "A+B1" << 1 << 0 << "A+B2";
    QTest::newRow("unterminated string") << "A1&\"B1" << 1 << 0 << "A2&\"B1";
    QTest::newRow("chinese sheet name")
        << QString::fromUtf8("数据!A1") << 1 << 0 << QString::fromUtf8("数据!A2");
}

void TextLogicTest::shiftFormula()
{
    QFETCH(QString, formula);
    QFETCH(int, rows);
    QFETCH(int, columns);
    QFETCH(QString, expected);
    QCOMPARE(xlsx::shiftFormula(formula, rows, columns), expected);
}

void TextLogicTest::prefixes_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("edited");   // a change made to the shown text
    QTest::addColumn<QString>("restored"); // what is written back
    QTest::addColumn<QString>("written");  // with the prefixes of new future functions

    QTest::newRow("no prefixes") << "SUM(A1)"
                                 << "SUM(A1)"
                                 << "SUM(A2)"
                                 << "SUM(A2)"
                                 << "SUM(A2)";
    QTest::newRow("xlfn") << "_xlfn.CONCAT(A1,\"x\")"
                          << "CONCAT(A1,\"x\")"
                          << "CONCAT(A1,\"y\")"
                          << "_xlfn.CONCAT(A1,\"y\")"
                          << "_xlfn.CONCAT(A1,\"y\")";
    QTest::newRow("two prefixes") << "_xlfn._xlws.SORT(A1:A3)"
                                  << "SORT(A1:A3)"
                                  << "SORT(B1:B3)"
                                  << "_xlfn._xlws.SORT(B1:B3)"
                                  << "_xlfn._xlws.SORT(B1:B3)";
    QTest::newRow("lambda parameters") << "_xlfn.LAMBDA(_xlpm.x,_xlpm.x+1)(2)"
                                       << "LAMBDA(x,x+1)(2)"
                                       << "LAMBDA(x,x+2)(2)"
                                       << "_xlfn.LAMBDA(_xlpm.x,_xlpm.x+2)(2)"
                                       << "_xlfn.LAMBDA(_xlpm.x,_xlpm.x+2)(2)";
    QTest::newRow("prefix text in a string untouched") << "\"_xlfn.A\"&_xlfn.CONCAT(1)"
                                                       << "\"_xlfn.A\"&CONCAT(1)"
                                                       << "\"_xlfn.A\"&CONCAT(2)"
                                                       << "\"_xlfn.A\"&_xlfn.CONCAT(2)"
                                                       << "\"_xlfn.A\"&_xlfn.CONCAT(2)";
    QTest::newRow("same name used again gets its prefix") << "_xlfn.IFS(A1,1)"
                                                          << "IFS(A1,1)"
                                                          << "IFS(A1,1)+IFS(A2,2)"
                                                          << "_xlfn.IFS(A1,1)+_xlfn.IFS(A2,2)"
                                                          << "_xlfn.IFS(A1,1)+_xlfn.IFS(A2,2)";
    QTest::newRow("case-insensitive name") << "_xlfn.STDEV.S(A1:A2)"
                                           << "STDEV.S(A1:A2)"
                                           << "stdev.s(A1:A2)"
                                           << "_xlfn.stdev.s(A1:A2)"
                                           << "_xlfn.stdev.s(A1:A2)";
    QTest::newRow("bare prefix alone is not hidden") << "_xlfn."
                                                     << "_xlfn."
                                                     << "_xlfn."
                                                     << "_xlfn."
                                                     << "_xlfn.";
    QTest::newRow("functions added by the edit get theirs")
        << "SUM(A1)"
        << "SUM(A1)"
        << "CONCAT(A1)&SORT(B1:B2)&textjoin(\",\",1,C1)"
        << "CONCAT(A1)&SORT(B1:B2)&textjoin(\",\",1,C1)"
        << "_xlfn.CONCAT(A1)&_xlfn._xlws.SORT(B1:B2)&_xlfn.textjoin(\",\",1,C1)";
    QTest::newRow("new LAMBDA and LET get their parameters' prefix")
        << "A1"
        << "A1"
        << "LAMBDA(x, y, x+y)(1,2)+LET(a,1,b,a+1,a*b)"
        << "LAMBDA(x, y, x+y)(1,2)+LET(a,1,b,a+1,a*b)"
        << "_xlfn.LAMBDA(_xlpm.x, _xlpm.y, _xlpm.x+_xlpm.y)(1,2)+"
           "_xlfn.LET(_xlpm.a,1,_xlpm.b,_xlpm.a+1,_xlpm.a*_xlpm.b)";
    QTest::newRow("names outside the call are no parameters")
        << "A1"
        << "A1"
        << "x+LET(x,2,SUM(x,{1,2}))+x"
        << "x+LET(x,2,SUM(x,{1,2}))+x"
        << "x+_xlfn.LET(_xlpm.x,2,SUM(_xlpm.x,{1,2}))+x";
    QTest::newRow("a name that calls nothing keeps") << "A1"
                                                     << "A1"
                                                     << "CONCAT+\"IFS(\""
                                                     << "CONCAT+\"IFS(\""
                                                     << "CONCAT+\"IFS(\"";
}

void TextLogicTest::prefixes()
{
    QFETCH(QString, file);
    QFETCH(QString, shown);
    QFETCH(QString, edited);
    QFETCH(QString, restored);
    QFETCH(QString, written);
    QCOMPARE(xlsx::addFunctionPrefixes(xlsx::restoreFormulaPrefixes(edited, file)), written);
    QCOMPARE(xlsx::hideFormulaPrefixes(file), shown);
    QCOMPARE(xlsx::restoreFormulaPrefixes(shown, file), file);
    QCOMPARE(xlsx::restoreFormulaPrefixes(edited, file), restored);
}

void TextLogicTest::wellFormedFormula_data()
{
    QTest::addColumn<QString>("formula");
    QTest::addColumn<bool>("expected");

    QTest::newRow("plain") << "SUM(A1:A2)" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("blank") << "  " << false;
    QTest::newRow("open parenthesis") << "SUM(A1" << false;
    QTest::newRow("extra close") << "A1)" << false;
    QTest::newRow("close before open") << ")A1(" << false;
    QTest::newRow("parenthesis in a string") << "\"(\"&A1" << true;
    QTest::newRow("unterminated string") << "\"abc" << false;
    QTest::newRow("doubled quotes") << "\"a\"\"b\"" << true;
    QTest::newRow("unterminated sheet name") << "'My sheet!A1" << false;
    QTest::newRow("quoted sheet with bracket") << "'a[1'!A1" << true;
    QTest::newRow("structured reference") << "SUM(T[[#This Row],[Qty]])" << true;
    QTest::newRow("escaped bracket in a column name") << "T['[x]" << true;
    QTest::newRow("unclosed bracket") << "T[Qty" << false;
    QTest::newRow("array constant") << "SUM({1,2})" << true;
    QTest::newRow("unclosed array constant") << "SUM({1,2)" << false;
    QTest::newRow("ends with an operator") << "1+" << false;
    QTest::newRow("ends with a separator") << "SUM(1,2)," << false;
    QTest::newRow("starts with an operator") << "*2" << false;
    QTest::newRow("a second equals sign") << "=1" << false;
    QTest::newRow("sign and percent") << "-5%" << true;
}

void TextLogicTest::wellFormedFormula()
{
    QFETCH(QString, formula);
    QFETCH(bool, expected);
    QCOMPARE(sheetapp::formulaLooksWellFormed(formula), expected);
}

QTEST_GUILESS_MAIN(TextLogicTest)
#include "tst_textlogic.moc"
