// The server side of automation: objects that answer member calls by name.
//
// An automation server (the spreadsheet application, or a stand-in registered
// by a test) hands out Dispatch objects. Clients never see them
// directly: they talk to an AxObject, which forwards calls by member name and
// turns failures into warnings and empty results.
#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <functional>
#include <memory>

namespace automation {

class Dispatch;
using DispatchPtr = std::shared_ptr<Dispatch>;

// The outcome of one member call.
struct CallResult
{
    bool ok = false;
    QVariant value;     // the value of a property read or method
    DispatchPtr object; // the object a sub-object query or method yields
    QString error;      // why the call failed (ok == false)

    static CallResult failure(const QString &why)
    {
        CallResult r;
        r.error = why;
        return r;
    }
    static CallResult ofValue(const QVariant &v)
    {
        CallResult r;
        r.ok = true;
        r.value = v;
        return r;
    }
    static CallResult ofObject(DispatchPtr o)
    {
        CallResult r;
        r.ok = o != nullptr;
        r.object = std::move(o);
        if (!r.ok)
            r.error = QStringLiteral("no object");
        return r;
    }
};

class Dispatch
{
public:
    virtual ~Dispatch() = default;

    // Interface name used in messages ("Application", "Workbook", ...).
    virtual QString typeName() const = 0;

    // Calls a method or reads a property. `member` is the bare member name
    // ("Open", "Count", "Replace"); `args` holds exactly the arguments the
    // caller passed. An unknown member or a wrong number of arguments fails.
    virtual CallResult invoke(const QByteArray &member, const QVariantList &args) = 0;

    // Writes a property. An unknown property, a value of the wrong kind or a
    // refused write fails with *error set.
    virtual bool setProperty(const QByteArray &name, const QVariant &value, QString *error) = 0;
};

using DispatchFactory = std::function<DispatchPtr()>;

// The registry of automation servers by ProgID. Nothing is built in: a program
// registers its servers where it starts ("Excel.Application": see
// automation/excelapp/excelapp.h). A registration hides the earlier ones of
// the same ProgID until it is forgotten.
void registerServer(const QString &progId, DispatchFactory factory);
// Forgets the latest registration of `progId`; the one before it answers again.
void unregisterServer(const QString &progId);
// Starts a server. nullptr with *error when the ProgID is unknown or the
// server cannot start.
DispatchPtr createServer(const QString &progId, QString *error);

} // namespace automation
