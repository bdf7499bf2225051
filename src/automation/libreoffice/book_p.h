// A workbook loaded in a LibreOffice instance, and what the dispatch objects
// ask of it. Every operation is one guarded call: false (or -1) with *error
// naming the file when LibreOffice fails, ends or does not answer in time.
#pragma once

#include "automation/libreoffice/libreoffice.h"
#include "xlsx/cellref.h"
#include "xlsx/savefile.h"

#include <QMutex>
#include <QString>

#include <memory>

namespace xlsx {
class SaveFile;
}

namespace libreoffice {

struct BookData;

struct ReplaceOptions
{
    QString what;
    QString replacement;
    bool wholeCell = false;
    bool byRows = true;
    bool matchCase = false;
};

class Book
{
public:
    Book(QString canonicalPath, QString shownPath);
    ~Book();

    bool load(const BookPtr &sibling, QString *error);
    void close();
    bool isOpen() const;

    QString shownPath() const { return m_shownPath; }
    int sheetCount(QString *error);
    QString sheetName(int index, QString *error);
    int activeSheet(QString *error);
    bool usedRange(int sheet, xlsx::CellRange *range, QString *error);
    // *replaced: how many cells changed.
    bool replace(int sheet, const xlsx::CellRange &range, const ReplaceOptions &options,
                 int *replaced, QString *error);
    // Each cell of the range takes `text` as typed input.
    bool setText(int sheet, const xlsx::CellRange &range, const QString &text, QString *error);
    bool save(QString *error);
    // What a sheet without cells (a chart, dialog or module sheet) answers a look at its
    // cells; empty for a sheet with cells.
    QString noCells(int index) const;
    // The type of the sheet's object: "Worksheet", "Chart", "DialogSheet" or "Module".
    QString sheetType(int index) const;

private:
    // Reads the file's sheet records once it is loaded.
    bool mapSheets(QString *error);
    // The index in LibreOffice of the sheet that holds the cells of sheet `index`.
    bool cellSheet(int index, int *loIndex, QString *error) const;
    // Where LibreOffice stores the workbook: in its instance's folder, with its
    // own temporary files; empty when there is none.
    QString storePath() const;
    // Copies the stored workbook into the save's temporary and removes it.
    bool moveInto(const QString &stored, xlsx::SaveFile *file, QString *error) const;
    template <typename F> bool call(const QString &what, QString *error, F &&f);

    const QString m_canonicalPath;
    const QString m_shownPath;
    xlsx::FileIdentity m_readVersion; // the file LibreOffice loaded
    QMutex m_mutex;
    std::unique_ptr<BookData> d;
};

// The 0-based number of the sheet a BIFF workbook shows on top (its window
// record), 0 when it does not say.
int activeTabOf(const QString &path);

} // namespace libreoffice
