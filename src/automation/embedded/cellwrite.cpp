#include "automation/embedded/cellwrite_p.h"

#include "xlsx/formula.h"

#include <QDebug>

#include <algorithm>

namespace embedded {
namespace {

// The header cell of a table column, if (row, column) is one.
bool findHeader(const QVector<xlsx::TableInfo> &tables, int row, int column, int *table,
                int *tableColumn)
{
    for (int t = 0; t < tables.size(); ++t) {
        const xlsx::TableInfo &info = tables[t];
        if (info.headerRowCount > 0 && info.ref.firstRow == row && info.ref.firstColumn <= column &&
            column <= info.ref.lastColumn) {
            *table = t;
            *tableColumn = column - info.ref.firstColumn;
            return true;
        }
    }
    return false;
}

// The name a table column gets for header text `wanted`: table column names
// are never empty and unique within their table (case-insensitively), so an
// empty text becomes "Column<n>" and a taken one gets a number appended.
QString uniqueColumnName(const xlsx::TableInfo &table, int column, const QString &wanted)
{
    const QString base = wanted.isEmpty() ? QStringLiteral("Column%1").arg(column + 1) : wanted;
    auto taken = [&table, column](const QString &name) {
        for (int i = 0; i < table.columnNames.size(); ++i) {
            if (i != column && table.columnNames[i].compare(name, Qt::CaseInsensitive) == 0)
                return true;
        }
        return false;
    };
    QString name = base;
    for (int n = 2; taken(name); ++n)
        name = base + QString::number(n);
    return name;
}

// The text a header cell shows for an edit.
QString headerText(const CellEdit &edit)
{
    switch (edit.kind) {
    case CellEdit::Formula:
    case CellEdit::ArrayFormula:
        return QLatin1Char('=') + xlsx::hideFormulaPrefixes(edit.text);
    case CellEdit::Boolean:
        return edit.text == QLatin1String("1") ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
    case CellEdit::Empty:
        return QString();
    default:
        return edit.text;
    }
}

// Everything a column rename changes besides the header, found before anything is changed.
struct RenamePlan
{
    struct CellFormula
    {
        int sheet;
        int row;
        int column;
        bool array;
        QString formula;
    };
    QVector<CellFormula> cells;
    QVector<QPair<int, QString>> names; // defined name index, new formula
};

} // namespace

SheetWriter::SheetWriter(xlsx::Document *doc, xlsx::Worksheet *ws)
    : m_doc(doc), m_ws(ws), m_formats(doc), m_tables(ws->tables())
{
}

bool SheetWriter::write(int row, int column, const CellEdit &edit, QString *error)
{
    int t = -1;
    int tc = -1;
    if (findHeader(m_tables, row, column, &t, &tc))
        return writeHeader(t, tc, row, column, edit, error);
    return writePlain(row, column, edit, error);
}

bool SheetWriter::writePlain(int row, int column, const CellEdit &edit, QString *error)
{
    switch (edit.kind) {
    case CellEdit::String:
        return edit.quotePrefix ? writeQuoted(row, column, edit.text, error)
                                : m_ws->setString(row, column, edit.text, error);
    case CellEdit::Number:
        return m_ws->setNumber(row, column, edit.text, error);
    case CellEdit::Formula:
        return m_ws->setFormula(row, column, edit.text, error);
    case CellEdit::ArrayFormula:
        return m_ws->setArrayFormula(row, column, edit.text, error);
    case CellEdit::Boolean:
        return m_ws->setBoolean(row, column, edit.text == QLatin1String("1"), error);
    case CellEdit::Error:
        return m_ws->setError(row, column, edit.text, error);
    case CellEdit::Empty:
        return m_ws->clearValue(row, column, error);
    case CellEdit::None:
        return true;
    case CellEdit::Refused:
        break;
    }
    *error = edit.reason;
    return false;
}

bool SheetWriter::writeQuoted(int row, int column, const QString &text, QString *error)
{
    // The cell's own format with the quote prefix.
    const int style = m_doc->quotePrefixStyle(m_ws->cell(row, column).style, error);
    return style >= 0 && m_ws->setString(row, column, text, style, error);
}

bool SheetWriter::writeHeader(int t, int tc, int row, int column, const CellEdit &edit,
                              QString *error)
{
    xlsx::TableInfo &table = m_tables[t];
    if (edit.kind == CellEdit::Refused || edit.kind == CellEdit::None)
        return writePlain(row, column, edit, error);
    const QString text = headerText(edit);
    const QString name = uniqueColumnName(table, tc, text);
    const QString oldName = table.columnNames.value(tc);
    if (name != oldName) {
        QString why;
        switch (renameColumn(table, tc, name, &why)) {
        case Rename::Done:
            break;
        case Rename::Kept:
            qWarning().noquote() << QStringLiteral("%1, sheet \"%2\", cell %3 left unchanged: %4")
                                        .arg(m_doc->path(), m_ws->name(),
                                             xlsx::CellRef(row, column).toString(), why);
            return true;
        case Rename::Failed:
            *error = why;
            return false;
        }
    }
    const bool ok = (edit.kind == CellEdit::Number && name == text)
                        ? m_ws->setNumber(row, column, text, error)
                        : m_ws->setString(row, column, name, error);
    if (!ok)
        return false;
    table.columnNames[tc] = name;
    return true;
}

SheetWriter::Rename SheetWriter::renameColumn(const xlsx::TableInfo &table, int tc,
                                              const QString &name, QString *error)
{
    const QString oldName = table.columnNames.value(tc);
    QStringList tableNames{table.displayName};
    if (!table.name.isEmpty() && table.name.compare(table.displayName, Qt::CaseInsensitive) != 0)
        tableNames << table.name;
    tableNames.removeAll(QString());
    bool unsure = false;
    auto rename = [&](QString f, bool inTable, QStringList *literals = nullptr) {
        for (const QString &tn : qAsConst(tableNames))
            f = xlsx::renameTableColumnInFormula(f, tn, oldName, name, inTable, &unsure, literals);
        return f;
    };
    auto refuse = [&](const QString &why) {
        *error = QStringLiteral("the table column \"%1\" of %2 keeps its name: %3")
                     .arg(oldName, table.displayName, why);
        return Rename::Kept;
    };

    // Plan every change first, so that a reference that cannot be followed changes nothing.
    RenamePlan plan;
    QVector<xlsx::Worksheet *> sheets;
    for (int s = 0; s < m_doc->sheetCount(); ++s) {
        if (m_doc->sheetInfo(s).kind != xlsx::SheetKind::Worksheet)
            continue;
        QString why;
        xlsx::Worksheet *w = m_doc->worksheet(s, &why);
        if (!w)
            return refuse(why);
        sheets.append(w);
        for (const QString &tn : qAsConst(tableNames)) {
            if (w->mentionedOutsideCells((tn + QLatin1Char('[')).toUtf8()))
                return refuse(QStringLiteral("sheet \"%1\" names the table outside its cells "
                                             "(in a conditional format or a data validation)")
                                  .arg(w->name()));
        }
        if (!w->hasFormulas())
            continue;
        const int count = w->cellCount();
        for (int i = 0; i < count; ++i) {
            if (!w->headAt(i).hasFormula)
                continue;
            const xlsx::Cell c = w->cellAt(i);
            const bool inTable = w == m_ws && table.ref.contains(c.row, c.column);
            QStringList literals;
            const QString f = rename(c.formula, inTable, &literals);
            if (!literals.isEmpty() &&
                !literalsFollow(w, c.row, c.column, literals, tableNames, oldName, name))
                unsure = true;
            const QString where = QStringLiteral("sheet \"%1\", cell %2")
                                      .arg(w->name(), xlsx::CellRef(c.row, c.column).toString());
            if (unsure)
                return refuse(QStringLiteral("the formula in %1 may name the column in a way "
                                             "that cannot be followed")
                                  .arg(where));
            if (f == c.formula)
                continue;
            plan.cells.append(
                {s, c.row, c.column, c.formulaKind == xlsx::FormulaKind::ArrayMaster, f});
        }
    }
    const QVector<xlsx::DefinedName> names = m_doc->definedNames();
    for (int i = 0; i < names.size(); ++i) {
        const QString f = rename(names[i].formula, false);
        if (unsure)
            return refuse(QStringLiteral("the defined name \"%1\" may name the column in a way "
                                         "that cannot be followed")
                              .arg(names[i].name));
        if (f != names[i].formula)
            plan.names.append(qMakePair(i, f));
    }
    // The tables' own formulas: a dry run finds what cannot be followed.
    QString why;
    for (xlsx::Worksheet *w : qAsConst(sheets)) {
        const QVector<xlsx::TableInfo> tables = w == m_ws ? m_tables : w->tables();
        for (int t = 0; t < tables.size(); ++t) {
            const bool same = w == m_ws && tables[t].partName == table.partName;
            if (!w->mapTableFormulas(
                    t,
                    [&](const QString &f) {
                        rename(f, same);
                        return f;
                    },
                    &why))
                return refuse(why);
            if (unsure)
                return refuse(QStringLiteral("a formula of table %1 may name the column in a way "
                                             "that cannot be followed")
                                  .arg(tables[t].displayName));
        }
    }

    // Then change it all.
    int tableIndex = -1;
    for (int t = 0; t < m_tables.size(); ++t) {
        if (m_tables[t].partName == table.partName)
            tableIndex = t;
    }
    if (!m_ws->renameTableColumn(tableIndex, tc, name, error))
        return Rename::Failed;
    for (const RenamePlan::CellFormula &c : qAsConst(plan.cells)) {
        xlsx::Worksheet *w = m_doc->worksheet(c.sheet, error);
        const bool ok = w && (c.array ? w->setArrayFormula(c.row, c.column, c.formula, error)
                                      : w->setFormula(c.row, c.column, c.formula, error));
        if (!ok)
            return Rename::Failed;
        if (w != m_ws)
            continue;
        for (const xlsx::TableMention &m :
             xlsx::tableMentionsInFormula(c.formula, ownTable(c.row, c.column))) {
            if (!m.item && m.name.compare(name, Qt::CaseInsensitive) == 0 &&
                tableNames.contains(m.table, Qt::CaseInsensitive))
                m_renamed[{c.row, c.column}].append(m);
        }
    }
    for (const auto &n : qAsConst(plan.names)) {
        if (!m_doc->setDefinedNameFormula(n.first, n.second, error))
            return Rename::Failed;
    }
    for (xlsx::Worksheet *w : qAsConst(sheets)) {
        const QVector<xlsx::TableInfo> tables = w == m_ws ? m_tables : w->tables();
        for (int t = 0; t < tables.size(); ++t) {
            const bool same = w == m_ws && tables[t].partName == table.partName;
            if (!w->mapTableFormulas(
                    t, [&](const QString &f) { return rename(f, same); }, error))
                return Rename::Failed;
        }
    }
    return Rename::Done;
}

bool SheetWriter::literalsFollow(const xlsx::Worksheet *ws, int row, int column,
                                 const QStringList &literals, const QStringList &tableNames,
                                 const QString &oldName, const QString &name) const
{
    if (!m_follow)
        return false;
    for (const QString &literal : literals) {
        const QString after = m_follow(ws, row, column, literal);
        if (after.isNull())
            return false;
        // Both in the form a rename writes, so that "T[Unit Cost]" and "T[[Unit Cost]]" agree.
        bool unsure = false;
        QString want = literal;
        QString got = after;
        for (const QString &tn : tableNames) {
            want = xlsx::renameTableColumnInFormula(want, tn, oldName, name, false, &unsure);
            got = xlsx::renameTableColumnInFormula(got, tn, name, name, false, &unsure);
        }
        if (unsure || want != got || want == literal)
            return false;
    }
    return true;
}

const xlsx::TableInfo *SheetWriter::tableNamed(const QString &name)
{
    auto same = [&name](const xlsx::TableInfo &t) {
        return t.displayName.compare(name, Qt::CaseInsensitive) == 0 ||
               (!t.name.isEmpty() && t.name.compare(name, Qt::CaseInsensitive) == 0);
    };
    for (const xlsx::TableInfo &t : qAsConst(m_tables)) {
        if (same(t))
            return &t;
    }
    if (!m_otherTablesRead) {
        m_otherTablesRead = true;
        for (int s = 0; s < m_doc->sheetCount(); ++s) {
            if (m_doc->sheetInfo(s).kind != xlsx::SheetKind::Worksheet)
                continue;
            QString why;
            xlsx::Worksheet *w = m_doc->worksheet(s, &why);
            if (w && w != m_ws)
                m_otherTables += w->tables();
        }
    }
    for (const xlsx::TableInfo &t : qAsConst(m_otherTables)) {
        if (same(t))
            return &t;
    }
    return nullptr;
}

QString SheetWriter::ownTable(int row, int column) const
{
    QString own;
    for (const xlsx::TableInfo &t : qAsConst(m_tables)) {
        if (t.ref.contains(row, column))
            own = t.displayName;
    }
    return own;
}

CellEdit SheetWriter::checkColumns(const xlsx::Cell &cell, const CellEdit &edit)
{
    if ((edit.kind != CellEdit::Formula && edit.kind != CellEdit::ArrayFormula) ||
        !(edit.text.contains(QLatin1Char('[')) || m_renamed.contains({cell.row, cell.column})))
        return edit;
    const QString own = ownTable(cell.row, cell.column);
    const auto before = xlsx::tableMentionsInFormula(cell.formula, own);
    const auto after = xlsx::tableMentionsInFormula(edit.text, own);
    auto refuse = [](const QString &why) {
        CellEdit refused;
        refused.kind = CellEdit::Refused;
        refused.reason = why;
        return refused;
    };
    // A reference a header rename of this call has just rewritten is not rewritten again.
    const auto renamed = m_renamed.constFind({cell.row, cell.column});
    if (renamed != m_renamed.constEnd()) {
        for (const xlsx::TableMention &m : *renamed) {
            if (!after.contains(m))
                return refuse(QStringLiteral("the formula's reference to the column \"%1\" of "
                                             "table %2 has just been renamed")
                                  .arg(m.name, m.table));
        }
    }
    for (const xlsx::TableMention &ref : after) {
        if (before.contains(ref))
            continue;
        const xlsx::TableInfo *table = tableNamed(ref.table);
        if (!table) {
            // Text (as INDIRECT takes it) may name anything; the formula itself may not.
            if (ref.inText)
                continue;
            return refuse(QStringLiteral("the formula would name the table \"%1\", which the "
                                         "workbook does not have")
                              .arg(ref.table));
        }
        if (ref.item) {
            if (ref.inText || xlsx::isTableItem(ref.name))
                continue;
            return refuse(QStringLiteral("the formula would name \"[%1]\" of table %2, which is "
                                         "no special item")
                              .arg(ref.name, table->displayName));
        }
        if (table->columnNames.contains(ref.name, Qt::CaseInsensitive))
            continue;
        return refuse(QStringLiteral("the formula would name the column \"%1\", which table "
                                     "%2 does not have")
                          .arg(ref.name, table->displayName));
    }
    return edit;
}

} // namespace embedded
