// A workbook loaded in a LibreOffice instance. Every operation is one guarded
// call: false (or -1) with *error naming the file when LibreOffice fails,
// ends or does not answer in time.
#pragma once

#include "automation/libreoffice/libreoffice.h"
#include "automation/sheetapp/book.h"
#include "xlsx/cellref.h"
#include "xlsx/savefile.h"

#include <mutex>
#include <QString>

#include <memory>

namespace libreoffice {

struct BookData;
class Book;
using BookPtr = std::shared_ptr<Book>;

class Book : public sheetapp::Book
{
public:
    Book(QString path, QString canonicalPath);
    ~Book() override;

    // `sibling`, when open, lends its instance.
    bool load(const BookPtr &sibling, QString *error);

    bool isOpen() const override;
    void close() override;
    // The binary format ends at row 65536 and column IV.
    sheetapp::Limits limits() const override { return {65536, 256}; }
    int sheetCount(QString *error) override;
    bool sheetName(int sheet, QString *name, QString *error) override;
    sheetapp::SheetKind sheetKind(int sheet) override;
    bool hasCells(int sheet, QString *error) override;
    int activeSheet(QString *error) override;
    bool usedRange(int sheet, xlsx::CellRange *range, QString *error) override;
    bool replace(int sheet, const xlsx::CellRange &range, const sheetapp::ReplaceArguments &args,
                 bool *changed, QString *error) override;
    bool setText(int sheet, const xlsx::CellRange &range, const QString &text,
                 QString *error) override;
    bool save(QString *error) override;

private:
    // Reads the file's sheet records once it is loaded.
    bool mapSheets(QString *error);
    // The index in LibreOffice of the sheet that holds the cells of sheet `index`.
    bool cellSheet(int index, int *loIndex, QString *error) const;
    // Why the cells of sheet `index` cannot be reached; empty when they can.
    QString noCells(int index) const;
    // Where LibreOffice stores the workbook: in its instance's folder, with its
    // own temporary files; empty when there is none.
    QString storePath() const;
    // Copies the stored workbook into the save's temporary and removes it.
    bool moveInto(const QString &stored, xlsx::SaveFile *file, QString *error) const;
    template <typename F> bool call(const QString &what, QString *error, F &&f);
    // Calc's replace of all matches; *replaced: how many cells changed.
    bool replaceAll(int sheet, const xlsx::CellRange &range, const sheetapp::ReplaceArguments &args,
                    int *replaced, QString *error);

    xlsx::FileIdentity m_readVersion; // the file LibreOffice loaded
    std::mutex m_mutex;
    std::unique_ptr<BookData> d;
};

// The 0-based number of the sheet a BIFF workbook shows on top (its window
// record), 0 when it does not say.
int activeTabOf(const QString &path);

} // namespace libreoffice
