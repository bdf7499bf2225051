// The client side of automation: a dispatch object that forwards calls by
// member signature to a server object.
//
// An AxObject is either created from a control name (a ProgID looked up in
// the server registry) or wraps an object obtained from another AxObject, in
// which case it is a QObject child of that object. A failed call prints a
// warning on the debug output and yields nullptr, an invalid QVariant, or
// false.
#pragma once

#include "automation/dispatch.h"

#include <QObject>
#include <QString>
#include <QVariant>

namespace automation {

class AxObject : public QObject
{
    Q_OBJECT
public:
    // Starts the server registered under `control`. The object is null when
    // the calling thread has not entered an apartment or the server cannot
    // be started.
    explicit AxObject(const QString &control, QObject *parent = nullptr);
    // Wraps a server object obtained from another dispatch object.
    AxObject(DispatchPtr object, QObject *parent);
    ~AxObject() override;

    bool isNull() const { return !m_object; }
    QString control() const { return m_control; }
    QString lastError() const { return m_lastError; }

    // `name` is a member signature: "Workbooks", "Open(const QString&)",
    // "Item(const QVariant&)". The result is a child of this object, or
    // nullptr when the call yields no object.
    AxObject *querySubObject(const char *name, const QVariant &var1 = QVariant(),
                             const QVariant &var2 = QVariant(), const QVariant &var3 = QVariant(),
                             const QVariant &var4 = QVariant(), const QVariant &var5 = QVariant(),
                             const QVariant &var6 = QVariant(), const QVariant &var7 = QVariant(),
                             const QVariant &var8 = QVariant());

    // Calls a method or reads a property: "Path()", "Count()", "Save()",
    // "Replace(const QVariant&, ...)". An invalid QVariant when it fails.
    QVariant dynamicCall(const char *function, const QVariant &var1 = QVariant(),
                         const QVariant &var2 = QVariant(), const QVariant &var3 = QVariant(),
                         const QVariant &var4 = QVariant(), const QVariant &var5 = QVariant(),
                         const QVariant &var6 = QVariant(), const QVariant &var7 = QVariant(),
                         const QVariant &var8 = QVariant());

    // Writes a property of the server object ("DisplayAlerts", "Value").
    bool setProperty(const char *name, const QVariant &value);

signals:
    // A call failed: emitted with the message (as `desc`) before the failed call returns.
    void exception(int code, const QString &source, const QString &desc, const QString &help);

private:
    CallResult call(const char *signature, const QVariantList &given);
    void warn(const QString &what);

    DispatchPtr m_object;
    QString m_control;
    QString m_lastError;
};

} // namespace automation
