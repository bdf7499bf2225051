// Formula text utilities: moving a formula to another cell, and the
// "_xlfn."-style prefixes that files carry but the formula bar does not show.
//
// All functions take and return formula text as stored in a worksheet's <f>
// element: without the leading "=".
#pragma once

#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

namespace xlsx {

// The text of `formula` as it reads when moved by rowOffset rows and
// columnOffset columns (how a shared formula's master text reads in another
// cell of its group). Relative references move, "$"-anchored parts stay;
// ranges ("A1:B2", "A:C", "1:3"), sheet-qualified references ("Sheet1!A1",
// "'My sheet'!A1") are handled; string literals, quoted sheet names,
// structured references ("Table1[Col]"), function names and defined names are
// left untouched. A reference moved outside the sheet becomes "#REF!".
QString shiftFormula(const QString &formula, int rowOffset, int columnOffset);

// The formula as the formula bar shows it: "_xlfn.", "_xlws.", "_xludf." and
// "_xlpm." prefixes of function and parameter names are removed (text inside
// string literals and quoted sheet names is never touched).
QString hideFormulaPrefixes(const QString &formula);

// Puts back the prefixes that `original` (file text) carried on the names
// that `edited` (text derived from hideFormulaPrefixes(original)) still uses.
// restoreFormulaPrefixes(hideFormulaPrefixes(f), f) == f.
QString restoreFormulaPrefixes(const QString &edited, const QString &original);

// The formula with the file prefix put on every function that the file format added after
// its first edition ("CONCAT(" -> "_xlfn.CONCAT(", "SORT(" -> "_xlfn._xlws.SORT(") and on the
// parameters of LAMBDA and the names of LET inside their call ("x" -> "_xlpm.x"); names that
// already carry a prefix stay as they are.
QString addFunctionPrefixes(const QString &formula);

// The prefix the file stores a function name with ("_xlfn.", "_xlfn._xlws."), empty for the
// functions of the first edition and for unknown names. Case-insensitive.
QString futureFunctionPrefix(const QString &name);

// The error constant `text` spells ("#N/A", "#DIV/0!", ...; any case), in its canonical
// spelling; empty when it is none.
QString errorConstant(const QString &text);

// A table column renamed in one formula: every structured reference to column `oldName` of
// table `table` ("Table1[Old]", "Table1[[#This Row],[Old]]", "Table1[[Old]:[Other]]",
// "Table1[@Old]") names `newName` instead. With `inTable` (the formula belongs to a cell of
// that table) the unqualified forms "[@Old]" and "[Old]" are rewritten too. *unsure is set
// when the formula may refer to the column in a way that is not rewritten (a reference cut
// short, or the table and column named inside a text literal, as INDIRECT takes them); with
// `literals`, such text literals are appended there (their text, unquoted) instead.
QString renameTableColumnInFormula(const QString &formula, const QString &table,
                                   const QString &oldName, const QString &newName, bool inTable,
                                   bool *unsure, QStringList *literals = nullptr);

// What one structured reference names: a column (unescaped) or a special item ("#This Row",
// as written) of a table.
struct TableMention
{
    QString table;
    QString name;
    bool item = false;   // a special item, not a column
    bool inText = false; // written inside a text literal (as INDIRECT takes it)
    bool operator==(const TableMention &o) const
    {
        return item == o.item && inText == o.inText &&
               table.compare(o.table, Qt::CaseInsensitive) == 0 &&
               name.compare(o.name, Qt::CaseInsensitive) == 0;
    }
};

// The columns and special items the structured references of `formula` name, as written,
// also those written inside text literals. The unqualified forms ("[@Qty]") count for
// `ownTable`, the table the formula's cell is in (empty: none).
QVector<TableMention> tableMentionsInFormula(const QString &formula, const QString &ownTable);

// Whether `item` ("#This Row", any case) is one of the special items of a table reference.
bool isTableItem(const QString &item);

} // namespace xlsx
