// Typed wrappers over the spreadsheet application's object model.
//
// One class per interface; each holds one dispatch object, takes it over in
// its constructor and deletes it in its destructor. An operation that obtains
// an object returns a new wrapper (owned by the caller) or nullptr, never a
// wrapper around nothing.
#pragma once

#include "automation/axobject.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>

namespace Excel {

class Workbooks;
class Workbook;
class Sheets;
class Worksheet;
class Range;

// Common part of every wrapper: the dispatch object it holds.
class Wrapper : public QObject
{
    Q_OBJECT
public:
    ~Wrapper() override;
    bool isNull() const { return !m_object || m_object->isNull(); }
    automation::AxObject *object() const { return m_object; }

protected:
    explicit Wrapper(automation::AxObject *object);
    // Wraps the result of a sub-object query, or yields nullptr.
    template <typename T> static T *wrap(automation::AxObject *sub)
    {
        return sub ? new T(sub) : nullptr;
    }

    QPointer<automation::AxObject> m_object;
};

class Application : public Wrapper
{
    Q_OBJECT
public:
    // Without an object, starts a new instance of "Excel.Application".
    explicit Application(automation::AxObject *object = nullptr);
    ~Application() override;

    void setDisplayAlerts(bool value);
    void setVisible(bool value);
    Excel::Workbooks *Workbooks();
    void Quit();
};

class Workbooks : public Wrapper
{
    Q_OBJECT
public:
    explicit Workbooks(automation::AxObject *object) : Wrapper(object) {}
    Excel::Workbook *Open(const QString &filename);
};

class Workbook : public Wrapper
{
    Q_OBJECT
public:
    explicit Workbook(automation::AxObject *object) : Wrapper(object) {}
    QString Path();
    Excel::Sheets *Sheets();
    Excel::Worksheet *ActiveSheet();
    // Writes the workbook to its file; false when the call failed (the member itself returns
    // nothing).
    bool Save();
};

class Sheets : public Wrapper
{
    Q_OBJECT
public:
    explicit Sheets(automation::AxObject *object) : Wrapper(object) {}
    int Count();
    Excel::Worksheet *Item(const QVariant &index);
};

class Worksheet : public Wrapper
{
    Q_OBJECT
public:
    explicit Worksheet(automation::AxObject *object) : Wrapper(object) {}
    Excel::Range *UsedRange();
    Excel::Range *Range(const QVariant &cell);
};

class Range : public Wrapper
{
    Q_OBJECT
public:
    explicit Range(automation::AxObject *object) : Wrapper(object) {}
    bool Replace(const QVariant &what, const QVariant &replacement, const QVariant &lookAt,
                 const QVariant &searchOrder, const QVariant &matchCase);
    // Writes the range's value; false when the application refused it.
    bool setValue(const QVariant &value);
};

} // namespace Excel
