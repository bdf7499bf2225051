#include "ui/listfile.h"

#include "xlsx/book.h"

#include <QFileInfo>

namespace listfile {

QString firstWayFilesSheet()
{
    return QStringLiteral("Tabrix方式一_文件列表");
}

QString firstWayKeysSheet()
{
    return QStringLiteral("Tabrix方式一_关键字列表");
}

QString firstWayFindHeader()
{
    return QStringLiteral("被替换关键字:");
}

QString firstWayReplaceHeader()
{
    return QStringLiteral("欲替换为:");
}

QString firstWayBaseName()
{
    return QStringLiteral("Tabrix方式一文件列表");
}

QString secondWaySheet()
{
    return QStringLiteral("Tabrix方式二_替换文件列表");
}

QString secondWayCornerHeader()
{
    return QStringLiteral("关键字或位置");
}

QString secondWayBaseName()
{
    return QStringLiteral("Tabrix方式二替换列表");
}

QVector<Sheet> layoutFirstWay(const FirstWay &content)
{
    Sheet files{firstWayFilesSheet(), {}};
    for (int i = 0; i < content.files.size(); ++i)
        files.cells.append({i + 1, 1, content.files.at(i)});

    // The two editor columns are written independently, each as long as its
    // own editor.
    Sheet keys{firstWayKeysSheet(), {}};
    keys.cells.append({1, 1, firstWayFindHeader()});
    for (int i = 0; i < content.finds.size(); ++i)
        keys.cells.append({i + 2, 1, content.finds.at(i)});
    keys.cells.append({1, 2, firstWayReplaceHeader()});
    for (int i = 0; i < content.replacements.size(); ++i)
        keys.cells.append({i + 2, 2, content.replacements.at(i)});
    return {files, keys};
}

QVector<Sheet> layoutSecondWay(const SecondWay &content)
{
    Sheet sheet{secondWaySheet(), {}};
    sheet.cells.append({1, 1, secondWayCornerHeader()});
    for (int j = 0; j < content.files.size(); ++j)
        sheet.cells.append({1, j + 2, content.files.at(j)});
    for (int r = 0; r < content.rows.size(); ++r) {
        const QStringList &row = content.rows.at(r);
        for (int c = 0; c < row.size(); ++c)
            sheet.cells.append({r + 2, c + 1, row.at(c)});
    }
    return {sheet};
}

QString normalisePath(const QString &path)
{
    QString p = path;
    p.replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
    p.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return p;
}

QStringList readDown(const CellText &cell, int column, int firstRow, int lastRow)
{
    QStringList texts;
    for (int row = firstRow; row <= lastRow; ++row) {
        const QString text = cell(row, column);
        if (text.isEmpty())
            break;
        texts.append(text);
    }
    return texts;
}

QStringList readAcross(const CellText &cell, int row, int firstColumn, int lastColumn)
{
    QStringList texts;
    for (int column = firstColumn; column <= lastColumn; ++column) {
        const QString text = cell(row, column);
        if (text.isEmpty())
            break;
        texts.append(text);
    }
    return texts;
}

static QStringList normalisePaths(const QStringList &paths)
{
    QStringList out;
    out.reserve(paths.size());
    for (const QString &p : paths)
        out.append(normalisePath(p));
    return out;
}

FirstWay parseFirstWay(const CellText &filesSheet, int filesLastRow, const CellText &keysSheet,
                       int keysLastRow)
{
    FirstWay content;
    content.files = normalisePaths(readDown(filesSheet, 1, 1, filesLastRow));
    // Row 1 holds the headers. A key's replacement is taken even when its cell
    // is empty, so that the two editors stay paired line by line.
    content.finds = readDown(keysSheet, 1, 2, keysLastRow);
    for (int i = 0; i < content.finds.size(); ++i)
        content.replacements.append(keysSheet(i + 2, 2));
    return content;
}

SecondWay parseSecondWay(const CellText &sheet, int lastRow, int lastColumn)
{
    SecondWay content;
    content.files = normalisePaths(readAcross(sheet, 1, 2, lastColumn));
    const QStringList keys = readDown(sheet, 1, 2, lastRow);
    for (int r = 0; r < keys.size(); ++r) {
        QStringList row{keys.at(r)};
        for (int j = 0; j < content.files.size(); ++j)
            row.append(sheet(r + 2, j + 2));
        content.rows.append(row);
    }
    return content;
}

bool saveSheets(const QString &path, const QVector<Sheet> &sheets, QString *error)
{
    // The workbook is built from nothing (never from the file that is there)
    // and replaces that file only once it has been written completely.
    xlsx::Book book{QString()};
    for (const Sheet &sheet : sheets) {
        QString why;
        if (!book.addSheet(sheet.name, &why)) {
            if (error)
                *error = QStringLiteral("%1: sheet \"%2\": %3").arg(path, sheet.name, why);
            return false;
        }
        for (const Cell &cell : sheet.cells) {
            if (!book.write(cell.row, cell.column, cell.text)) {
                if (error)
                    *error = QStringLiteral("%1: sheet \"%2\": cannot write row %3, column %4")
                                 .arg(path, sheet.name)
                                 .arg(cell.row)
                                 .arg(cell.column);
                return false;
            }
        }
    }
    return book.saveAs(path, error);
}

bool saveFirstWay(const QString &path, const FirstWay &content, QString *error)
{
    return saveSheets(path, layoutFirstWay(content), error);
}

bool saveSecondWay(const QString &path, const SecondWay &content, QString *error)
{
    return saveSheets(path, layoutSecondWay(content), error);
}

namespace {

// Reads the cells of one sheet of a book.
CellText cellsOf(xlsx::Book &book, const QString &sheet)
{
    return [&book, sheet](int row, int column) {
        if (book.currentSheetName() != sheet && !book.selectSheet(sheet))
            return QString(); // not a worksheet: nothing to read
        return book.read(row, column);
    };
}

// The used range of one sheet of a book; empty when it is not a worksheet.
xlsx::CellRange usedRange(xlsx::Book &book, const QString &sheet)
{
    if (!book.selectSheet(sheet))
        return xlsx::CellRange();
    return book.dimension();
}

// Opens a book for reading; TooFewSheets when the file cannot be read.
LoadResult checkReadable(const QString &path, xlsx::Book &book, QString *error)
{
    if (!book.loadError().isEmpty()) {
        if (error)
            *error = book.loadError();
        return LoadResult::TooFewSheets;
    }
    if (!QFileInfo(path).isFile()) {
        if (error)
            *error = QStringLiteral("%1: no such file").arg(path);
        return LoadResult::TooFewSheets;
    }
    return LoadResult::Loaded;
}

void setMissing(QString *error, const QString &path, const QString &what)
{
    if (error)
        *error = QStringLiteral("%1: %2").arg(path, what);
}

} // namespace

LoadResult loadFirstWay(const QString &path, FirstWay *content, QString *error)
{
    if (path.isEmpty())
        return LoadResult::NoPath;
    xlsx::Book book(path);
    const LoadResult opened = checkReadable(path, book, error);
    if (opened != LoadResult::Loaded)
        return opened;
    const QStringList names = book.sheetNames();
    if (names.size() < 2) {
        setMissing(error, path, QStringLiteral("fewer than two sheets"));
        return LoadResult::TooFewSheets;
    }
    if (!names.contains(firstWayFilesSheet()) || !names.contains(firstWayKeysSheet())) {
        setMissing(error, path, QStringLiteral("no sheet of a first-way list"));
        return LoadResult::SheetMissing;
    }

    // The reading is bounded by the last used row of each sheet.
    const FirstWay read = parseFirstWay(
        cellsOf(book, firstWayFilesSheet()), usedRange(book, firstWayFilesSheet()).lastRow,
        cellsOf(book, firstWayKeysSheet()), usedRange(book, firstWayKeysSheet()).lastRow);
    if (content)
        *content = read;
    return LoadResult::Loaded;
}

LoadResult loadSecondWay(const QString &path, SecondWay *content, QString *error)
{
    if (path.isEmpty())
        return LoadResult::NoPath;
    xlsx::Book book(path);
    const LoadResult opened = checkReadable(path, book, error);
    if (opened != LoadResult::Loaded)
        return opened;
    const QStringList names = book.sheetNames();
    if (names.isEmpty()) {
        setMissing(error, path, QStringLiteral("no sheets"));
        return LoadResult::TooFewSheets;
    }
    if (!names.contains(secondWaySheet())) {
        setMissing(error, path, QStringLiteral("no sheet of a second-way list"));
        return LoadResult::SheetMissing;
    }
    const xlsx::CellRange used = usedRange(book, secondWaySheet());
    const SecondWay read =
        parseSecondWay(cellsOf(book, secondWaySheet()), used.lastRow, used.lastColumn);
    if (content)
        *content = read;
    return LoadResult::Loaded;
}

} // namespace listfile
