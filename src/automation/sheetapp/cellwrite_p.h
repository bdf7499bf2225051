// Writing one cell's edit into a worksheet, keeping the sheet's tables in step.
#pragma once

#include "automation/sheetapp/cellreplace_p.h"
#include "automation/sheetapp/datetext_p.h"
#include "xlsx/document.h"

#include <QString>
#include <QVector>

namespace sheetapp {

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

private:
    bool writePlain(int row, int column, const CellEdit &edit, QString *error);
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

    xlsx::Document *m_doc;
    xlsx::Worksheet *m_ws;
    CellFormats m_formats;
    QVector<xlsx::TableInfo> m_tables;
};

} // namespace sheetapp
