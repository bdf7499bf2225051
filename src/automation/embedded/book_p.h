// A workbook held by the embedded engine.
#pragma once

#include "automation/embedded/replacequeue_p.h"
#include "automation/sheetapp/book.h"
#include "xlsx/document.h"

#include <memory>

namespace embedded {

class PackageBook : public sheetapp::Book
{
public:
    using sheetapp::Book::Book;
    ~PackageBook() override;

    bool open(QString *error);

    bool isOpen() const override { return m_doc != nullptr; }
    void close() override;
    sheetapp::Limits limits() const override { return {}; }
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

    // The document with every queued Replace call applied: what reads or writes cells, or
    // saves, sees.
    xlsx::Document *settled();

private:
    std::unique_ptr<xlsx::Document> m_doc; // null once the workbook is closed
    ReplaceQueue m_replaces;               // Range.Replace calls not yet applied
};

} // namespace embedded
