// The dispatch objects of a workbook held by LibreOffice: the same members
// as the embedded application's Workbook, Sheets, Worksheet and Range.
#pragma once

#include "automation/dispatch.h"
#include "automation/libreoffice/book_p.h"

namespace libreoffice {

class BookDispatch : public automation::Dispatch
{
public:
    explicit BookDispatch(BookPtr book) : m_book(std::move(book)) {}
    bool setProperty(const QByteArray &name, const QVariant &value, QString *error) override;

protected:
    // Fails the call when the workbook has been closed.
    bool open(automation::CallResult *failure) const;
    BookPtr m_book;
};

class WorkbookObject : public BookDispatch
{
public:
    using BookDispatch::BookDispatch;
    QString typeName() const override { return QStringLiteral("Workbook"); }
    automation::CallResult invoke(const QByteArray &member, const QVariantList &args) override;
};

class SheetsObject : public BookDispatch
{
public:
    using BookDispatch::BookDispatch;
    QString typeName() const override { return QStringLiteral("Sheets"); }
    automation::CallResult invoke(const QByteArray &member, const QVariantList &args) override;
};

class SheetObject : public BookDispatch
{
public:
    SheetObject(BookPtr book, int index) : BookDispatch(std::move(book)), m_index(index) {}
    QString typeName() const override { return m_book->sheetType(m_index); }
    automation::CallResult invoke(const QByteArray &member, const QVariantList &args) override;

private:
    int m_index;
};

class RangeObject : public BookDispatch
{
public:
    RangeObject(BookPtr book, int sheet, const xlsx::CellRange &range)
        : BookDispatch(std::move(book)), m_sheet(sheet), m_range(range)
    {
    }
    QString typeName() const override { return QStringLiteral("Range"); }
    automation::CallResult invoke(const QByteArray &member, const QVariantList &args) override;
    bool setProperty(const QByteArray &name, const QVariant &value, QString *error) override;

private:
    automation::CallResult replace(const QVariantList &args);

    int m_sheet;
    xlsx::CellRange m_range;
};

} // namespace libreoffice
