// The server objects of the embedded spreadsheet application and the state
// they share. Every job has its own Application on its own thread; the only
// state shared between threads is the process-wide set of open files.
#pragma once

#include "automation/dispatch.h"
#include "automation/libreoffice/libreoffice.h"
#include "automation/sheetapp/replacequeue_p.h"
#include "xlsx/cellref.h"
#include "xlsx/document.h"

#include <QString>
#include <QVector>

#include <memory>

namespace sheetapp {

// The process-wide set of workbooks held open, by canonical path.
namespace openfiles {
// False when another workbook object already holds the path.
bool acquire(const QString &canonicalPath);
void release(const QString &canonicalPath);
bool isHeld(const QString &canonicalPath);
} // namespace openfiles

struct BookState
{
    std::unique_ptr<xlsx::Document> doc; // null once the workbook is closed
    QString path;                        // absolute, as it was opened (messages, Path)
    QString canonicalPath;               // the real file: what is locked, read and replaced
    ReplaceQueue replaces;               // Range.Replace calls not yet applied

    ~BookState();
    // Drops the workbook without saving and gives its path back.
    void close();
};
using BookPtr = std::shared_ptr<BookState>;

struct AppState
{
    bool displayAlerts = true;
    bool visible = false;
    bool quit = false;
    QVector<BookPtr> books;
    // Legacy .xls workbooks, held by LibreOffice.
    struct LegacyBook
    {
        libreoffice::BookPtr book;
        QString canonicalPath;
    };
    QVector<LegacyBook> legacyBooks;

    // Closes every workbook without saving.
    void closeAll();
};
using AppPtr = std::shared_ptr<AppState>;

// Common checks of the objects below a workbook.
class BookObject : public automation::Dispatch
{
public:
    explicit BookObject(BookPtr book) : m_book(std::move(book)) {}

    // The open document, or nullptr with *error when the workbook was closed;
    // with `applyQueued`, the queued Replace calls are applied first.
    xlsx::Document *document(QString *error, bool applyQueued = true) const;

protected:
    BookPtr m_book;
};

class ApplicationObject : public automation::Dispatch
{
public:
    ApplicationObject();
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
    automation::CallResult openLegacy(const QString &path, const QString &canonical);
    AppPtr m_app;
};

class WorkbookObject : public BookObject
{
public:
    using BookObject::BookObject;
    QString typeName() const override { return QStringLiteral("Workbook"); }
    automation::CallResult invoke(const QByteArray &member, const QVariantList &args) override;
    bool setProperty(const QByteArray &name, const QVariant &value, QString *error) override;
};

class SheetsObject : public BookObject
{
public:
    using BookObject::BookObject;
    QString typeName() const override { return QStringLiteral("Sheets"); }
    automation::CallResult invoke(const QByteArray &member, const QVariantList &args) override;
    bool setProperty(const QByteArray &name, const QVariant &value, QString *error) override;
};

// A worksheet (also an Excel 4 macro sheet), or a chart or dialog sheet (which has no cells).
class SheetObject : public BookObject
{
public:
    SheetObject(BookPtr book, int index, xlsx::SheetKind kind)
        : BookObject(std::move(book)), m_index(index), m_kind(kind)
    {
    }
    QString typeName() const override
    {
        return m_kind == xlsx::SheetKind::Worksheet    ? QStringLiteral("Worksheet")
               : m_kind == xlsx::SheetKind::Chartsheet ? QStringLiteral("Chart")
                                                       : QStringLiteral("DialogSheet");
    }
    automation::CallResult invoke(const QByteArray &member, const QVariantList &args) override;
    bool setProperty(const QByteArray &name, const QVariant &value, QString *error) override;

private:
    int m_index;
    xlsx::SheetKind m_kind;
};

class RangeObject : public BookObject
{
public:
    RangeObject(BookPtr book, int sheetIndex, const xlsx::CellRange &range)
        : BookObject(std::move(book)), m_sheet(sheetIndex), m_range(range)
    {
    }
    QString typeName() const override { return QStringLiteral("Range"); }
    automation::CallResult invoke(const QByteArray &member, const QVariantList &args) override;
    bool setProperty(const QByteArray &name, const QVariant &value, QString *error) override;

private:
    automation::CallResult replace(const QVariantList &args);
    bool writeValue(const QVariant &value, QString *error);

    int m_sheet;
    xlsx::CellRange m_range;
};

} // namespace sheetapp

namespace sheetapp {

// Failures shared by every object.
automation::CallResult unknownMember(const automation::Dispatch &object, const QByteArray &member);
automation::CallResult wrongArgumentCount(const automation::Dispatch &object,
                                          const QByteArray &member, int expected, int given);
bool unknownProperty(const automation::Dispatch &object, const QByteArray &name, QString *error);

} // namespace sheetapp
