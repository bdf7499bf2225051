// A small workbook of strings addressed by sheet name and (row, column),
// for files that the program writes and reads itself.
#pragma once

#include "xlsx/cellref.h"

#include <QString>
#include <QStringList>

#include <memory>

namespace xlsx {

class Document;

class Book
{
public:
    // Binds to path: loads the workbook when a file exists there (see loadError() when it
    // could not be read), otherwise starts an empty one. Nothing is written until save().
    explicit Book(const QString &path);
    ~Book();
    Book(const Book &) = delete;
    Book &operator=(const Book &) = delete;

    // Empty when the file was loaded or did not exist; otherwise why it could not be read
    // (the Book is then empty, and save() refuses to overwrite the unreadable file).
    QString loadError() const;

    QStringList sheetNames() const;
    // Makes the named worksheet current; false when there is none.
    bool selectSheet(const QString &name);
    QString currentSheetName() const;
    // Appends a worksheet and makes it current; false when the name is invalid or taken.
    bool addSheet(const QString &name, QString *error = nullptr);

    // Used range of the current sheet; A1 when empty or when there is no current sheet.
    CellRange dimension() const;
    // Text of the cell at (row, column) of the current sheet (numbers as their text, booleans
    // as "true"/"false"); empty for an empty cell.
    QString read(int row, int column) const;
    QString read(const QString &ref) const;
    // Writes a string cell into the current sheet (adding "Sheet1" first when there is none).
    bool write(int row, int column, const QString &text);
    bool write(const QString &ref, const QString &text);

    // Atomic saves.
    bool save(QString *error = nullptr);
    bool saveAs(const QString &path, QString *error = nullptr);

private:
    std::unique_ptr<Document> m_doc;
    QString m_path;
    QString m_loadError;
    int m_current = -1;
};

} // namespace xlsx
