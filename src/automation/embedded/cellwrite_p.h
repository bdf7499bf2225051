// Writing one cell's edit into a worksheet, keeping the sheet's tables in step.
#pragma once

#include "automation/embedded/cellreplace_p.h"
#include "automation/sheetapp/datetext.h"
#include "xlsx/document.h"
#include "xlsx/formula.h"

#include <QHash>
#include <QString>
#include <QVector>

#include <functional>

namespace embedded {

// Writes the edits of one sheet. It holds the sheet's tables and the workbook's cell formats,
// so one writer serves every cell of a walk.
class SheetWriter
{
public:
    SheetWriter(xlsx::Document *doc, xlsx::Worksheet *ws);

    const CellFormats &formats() const { return m_formats; }

    // Writes `edit` (String, Number, Formula, ArrayFormula, Boolean, Error or Empty) into the
    // cell at (row, column); the cell keeps its style. A table header cell always holds text
    // (a number only when it names the column as it is) and renames its table column: every
    // structured reference to the column, in the formulas of every sheet, the tables' own
    // formulas and the defined names, follows. When such a reference cannot be followed with
    // certainty the header is left as it is and the reason logged (the write still succeeds).
    // So a write may change other cells than its own. False with *error (why nothing was
    // written) otherwise.
    bool write(int row, int column, const CellEdit &edit, QString *error);

    // `edit` for `cell`, or Refused when it is a formula whose structured references would
    // name, where the cell's formula did not, a table the workbook does not have, a special
    // item that does not exist, or a column that its table does not have (now; also in text
    // literals); or would rewrite a reference that a header rename by this writer has just
    // rewritten (a Replace call renames a column once).
    CellEdit checkColumns(const xlsx::Cell &cell, const CellEdit &edit);

    // What the Replace call under way makes of the text literal `literal` of the formula in
    // cell (row, column) of `ws` when it reaches that cell after the current one; null when it
    // does not reach it or cannot rewrite it. A header rename is not held back by a literal
    // that naming the column which this call turns into the same reference to the new name.
    using LiteralFollow = std::function<QString(const xlsx::Worksheet *ws, int row, int column,
                                                const QString &literal)>;
    void setLiteralFollow(LiteralFollow follow) { m_follow = std::move(follow); }

private:
    bool writePlain(int row, int column, const CellEdit &edit, QString *error);
    // Text typed after an apostrophe: in the cell's style with the quote prefix.
    bool writeQuoted(int row, int column, const QString &text, QString *error);
    bool writeHeader(int table, int tableColumn, int row, int column, const CellEdit &edit,
                     QString *error);
    enum class Rename
    {
        Done,
        Kept, // a reference cannot be followed: nothing changed, *error says why
        Failed,
    };
    Rename renameColumn(const xlsx::TableInfo &table, int tableColumn, const QString &name,
                        QString *error);

    bool literalsFollow(const xlsx::Worksheet *ws, int row, int column, const QStringList &literals,
                        const QStringList &tableNames, const QString &oldName,
                        const QString &name) const;
    const xlsx::TableInfo *tableNamed(const QString &name);
    // The table of this sheet that (row, column) lies in, by its name; empty when none.
    QString ownTable(int row, int column) const;

    xlsx::Document *m_doc;
    xlsx::Worksheet *m_ws;
    CellFormats m_formats;
    QVector<xlsx::TableInfo> m_tables;
    QVector<xlsx::TableInfo> m_otherTables; // of the other sheets, read when first needed
    bool m_otherTablesRead = false;
    // Cells of this sheet whose references a header rename rewrote: the references it wrote.
    QHash<QPair<int, int>, QVector<xlsx::TableMention>> m_renamed;
    LiteralFollow m_follow;
};

} // namespace embedded
