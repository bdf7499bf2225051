// The two list files: .xlsx workbooks that keep the input of one tab of the
// main window (its files and its keywords) so that it can be loaded again.
// Nothing here touches a widget: the window hands the content in and takes it
// back as plain lists.
#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

namespace listfile {

// Sheet names, header texts and file names of the two formats.
QString firstWayFilesSheet();    // "Tabrix方式一_文件列表"
QString firstWayKeysSheet();     // "Tabrix方式一_关键字列表"
QString firstWayFindHeader();    // "被替换关键字:"
QString firstWayReplaceHeader(); // "欲替换为:"
QString firstWayBaseName();      // "Tabrix方式一文件列表"
QString secondWaySheet();        // "Tabrix方式二_替换文件列表"
QString secondWayCornerHeader(); // "关键字或位置"
QString secondWayBaseName();     // "Tabrix方式二替换列表"

// The content of the first tab: its files and the lines of its two editors.
struct FirstWay
{
    QStringList files;
    QStringList finds;
    QStringList replacements;
};

// The content of the second tab: its files and the rows of its keyword table.
// Each row holds the keyword first, then the text for files[0], files[1], ...
struct SecondWay
{
    QStringList files;
    QVector<QStringList> rows;
};

// One string cell, addressed from 1 (row 1, column 1 is A1).
struct Cell
{
    int row = 0;
    int column = 0;
    QString text;
};

struct Sheet
{
    QString name;
    QVector<Cell> cells;
};

// Where each value goes, sheet by sheet in the order the sheets are made.
QVector<Sheet> layoutFirstWay(const FirstWay &content);
QVector<Sheet> layoutSecondWay(const SecondWay &content);

// A path read from a list file: doubled backslashes become single ones, then
// every backslash becomes "/".
QString normalisePath(const QString &path);

// Text of the cell at (row, column) of one sheet; empty for an empty cell.
using CellText = std::function<QString(int row, int column)>;

// The texts of one column from firstRow down to lastRow, ending before the
// first empty cell.
QStringList readDown(const CellText &cell, int column, int firstRow, int lastRow);
// The texts of one row from firstColumn across to lastColumn, ending before
// the first empty cell.
QStringList readAcross(const CellText &cell, int row, int firstColumn, int lastColumn);

// Rebuilds the content from the cells of the two sheets of a first-way file;
// lastRow bounds are the last used row of each sheet.
FirstWay parseFirstWay(const CellText &filesSheet, int filesLastRow, const CellText &keysSheet,
                       int keysLastRow);
// Rebuilds the content from the cells of a second-way sheet.
SecondWay parseSecondWay(const CellText &sheet, int lastRow, int lastColumn);

// Why a file was not taken in.
enum class LoadResult
{
    Loaded,
    NoPath,       // no file was named
    TooFewSheets, // not a readable workbook, or fewer sheets than the format needs
    SheetMissing, // a sheet of the format is not there
};

// Writes the content into a new workbook at path. The file that was there
// stays untouched unless the whole new workbook has been written.
bool saveFirstWay(const QString &path, const FirstWay &content, QString *error);
bool saveSecondWay(const QString &path, const SecondWay &content, QString *error);
// Writes the sheets into a new workbook at path, atomically.
bool saveSheets(const QString &path, const QVector<Sheet> &sheets, QString *error);

// Reads a list file; never writes to it. *content is set only when the result
// is Loaded; *error then stays untouched.
LoadResult loadFirstWay(const QString &path, FirstWay *content, QString *error = nullptr);
LoadResult loadSecondWay(const QString &path, SecondWay *content, QString *error = nullptr);

} // namespace listfile
