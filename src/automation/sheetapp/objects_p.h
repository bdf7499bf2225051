// The server objects of the application and the state they share. Every job
// has its own Application on its own thread; the only state shared between
// threads is the process-wide set of open files.
#pragma once

#include "automation/dispatch.h"
#include "automation/sheetapp/book.h"
#include "automation/sheetapp/sheetapp.h"
#include "xlsx/cellref.h"

#include <QString>
#include <QVector>

#include <memory>

namespace sheetapp {

// The process-wide set of workbooks held open, by canonical path.
namespace openfiles {
// False when another workbook object already holds the path.
bool acquire(const QString &canonicalPath);
void release(const QString &canonicalPath);
} // namespace openfiles

struct AppState
{
    Backends backends;
    bool displayAlerts = true;
    bool visible = false;
    bool quit = false;
    QVector<BookPtr> books; // in the order they were opened

    // Closes every workbook without saving and gives its file back.
    void closeAll();
};
using AppPtr = std::shared_ptr<AppState>;

// Common part of the objects below a workbook.
class BookObject : public automation::Dispatch
{
public:
    explicit BookObject(BookPtr book) : m_book(std::move(book)) {}
    bool setProperty(const QByteArray &name, const QVariant &value, QString *error) override;
    const BookPtr &book() const { return m_book; }

protected:
    // False with *failure when the workbook has been closed.
    bool isOpen(automation::CallResult *failure) const;
    BookPtr m_book;
};

class ApplicationObject : public automation::Dispatch
{
public:
    explicit ApplicationObject(const Backends &backends);
    ~ApplicationObject() override;
    QString typeName() const override { return QStringLiteral("Application"); }
    automation::CallResult invoke(const QByteArray &member, const QVariantList &args) override;
    bool setProperty(const QByteArray &name, const QVariant &value, QString *error) override;

private:
    AppPtr m_state;
};

class WorkbooksObject : public automation::Dispatch
{
public:
    explicit WorkbooksObject(AppPtr app) : m_app(std::move(app)) {}
    QString typeName() const override { return QStringLiteral("Workbooks"); }
    automation::CallResult invoke(const QByteArray &member, const QVariantList &args) override;
    bool setProperty(const QByteArray &name, const QVariant &value, QString *error) override;

private:
    automation::CallResult open(const QVariant &fileName);
    AppPtr m_app;
};

class WorkbookObject : public BookObject
{
public:
    using BookObject::BookObject;
    QString typeName() const override { return QStringLiteral("Workbook"); }
    automation::CallResult invoke(const QByteArray &member, const QVariantList &args) override;
};

class SheetsObject : public BookObject
{
public:
    using BookObject::BookObject;
    QString typeName() const override { return QStringLiteral("Sheets"); }
    automation::CallResult invoke(const QByteArray &member, const QVariantList &args) override;
};

// A worksheet (also an Excel 4 macro sheet), or a sheet without cells.
class SheetObject : public BookObject
{
public:
    SheetObject(BookPtr book, int index, SheetKind kind)
        : BookObject(std::move(book)), m_index(index), m_kind(kind)
    {
    }
    QString typeName() const override { return sheetTypeName(m_kind); }
    automation::CallResult invoke(const QByteArray &member, const QVariantList &args) override;

private:
    int m_index;
    SheetKind m_kind;
};

class RangeObject : public BookObject
{
public:
    RangeObject(BookPtr book, int sheet, const xlsx::CellRange &range)
        : BookObject(std::move(book)), m_sheet(sheet), m_range(range)
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

// Failures shared by every object.
automation::CallResult unknownMember(const automation::Dispatch &object, const QByteArray &member);
automation::CallResult wrongArgumentCount(const automation::Dispatch &object,
                                          const QByteArray &member, int expected, int given);
bool unknownProperty(const automation::Dispatch &object, const QByteArray &name, QString *error);

} // namespace sheetapp
