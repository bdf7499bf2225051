#include "fakeserver.h"

#include <QMutexLocker>

using automation::CallResult;
using automation::Dispatch;
using automation::DispatchPtr;

namespace {

QString show(const QVariant &v)
{
    if (v.type() == QVariant::Bool)
        return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    return v.toString();
}

class FakeObject : public Dispatch
{
public:
    FakeObject(FakeServer *server, QString type, int sheet = 0)
        : m_server(server), m_type(std::move(type)), m_sheet(sheet)
    {
    }

    QString typeName() const override { return m_type; }

    CallResult invoke(const QByteArray &member, const QVariantList &args) override
    {
        QStringList shown;
        for (const QVariant &a : args)
            shown << show(a);
        const QString name = QString::fromLatin1(member);
        QString call = m_type + QLatin1Char('.') + name;
        if (m_sheet)
            call = QStringLiteral("%1[%2].%3").arg(m_type).arg(m_sheet).arg(name);
        if (!args.isEmpty())
            call += QLatin1Char('(') + shown.join(QLatin1Char(',')) + QLatin1Char(')');
        m_server->record(call);

        const FakeScript &s = m_server->script;
        if (s.failing.contains(name))
            return CallResult::failure(QStringLiteral("scripted failure"));
        if (m_type == QLatin1String("Application")) {
            if (member == "Workbooks")
                return CallResult::ofObject(make(QStringLiteral("Workbooks")));
            if (member == "Quit")
                return CallResult::ofValue(QVariant());
        } else if (m_type == QLatin1String("Workbooks") && member == "Open") {
            return CallResult::ofObject(make(QStringLiteral("Workbook")));
        } else if (m_type == QLatin1String("Workbook")) {
            if (member == "Path")
                return CallResult::ofValue(QStringLiteral("/fake"));
            if (member == "Sheets")
                return CallResult::ofObject(make(QStringLiteral("Sheets")));
            if (member == "ActiveSheet")
                return CallResult::ofObject(make(QStringLiteral("Worksheet"), s.activeSheet));
            if (member == "Save") // returns nothing; a failed save is a failed call
                return s.saveResult ? CallResult::ofValue(QVariant())
                                    : CallResult::failure(QStringLiteral("cannot save"));
        } else if (m_type == QLatin1String("Sheets")) {
            if (member == "Count")
                return CallResult::ofValue(s.sheetCount);
            if (member == "Item") {
                const int n = args.value(0).toInt();
                if (n < 1 || n > s.sheetCount || s.failingItems.contains(n))
                    return CallResult::failure(QStringLiteral("no such sheet"));
                return CallResult::ofObject(make(QStringLiteral("Worksheet"), n));
            }
        } else if (m_type == QLatin1String("Worksheet")) {
            if (member == "UsedRange")
                return CallResult::ofObject(make(QStringLiteral("Range"), m_sheet));
            if (member == "Range") {
                if (s.refusedCells.contains(args.value(0).toString()))
                    return CallResult::failure(QStringLiteral("bad reference"));
                return CallResult::ofObject(make(QStringLiteral("Range"), m_sheet));
            }
        } else if (m_type == QLatin1String("Range") && member == "Replace") {
            return CallResult::ofValue(true);
        }
        return CallResult::failure(QStringLiteral("unknown member"));
    }

    bool setProperty(const QByteArray &name, const QVariant &value, QString *error) override
    {
        QString call = m_type;
        if (m_sheet)
            call += QStringLiteral("[%1]").arg(m_sheet);
        m_server->record(call + QLatin1Char('.') + QString::fromLatin1(name) + QLatin1Char('=') +
                         show(value));
        if (m_type == QLatin1String("Range") && name == "Value" && !m_server->script.refuseValue)
            return true;
        if (m_type == QLatin1String("Application") &&
            (name == "DisplayAlerts" || name == "Visible"))
            return true;
        *error = QStringLiteral("refused");
        return false;
    }

private:
    DispatchPtr make(const QString &type, int sheet = 0)
    {
        return std::make_shared<FakeObject>(m_server, type, sheet);
    }

    FakeServer *m_server;
    QString m_type;
    int m_sheet;
};

} // namespace

FakeServer::FakeServer(const FakeScript &s) : script(s)
{
    automation::registerServer(QStringLiteral("Excel.Application"), [this]() -> DispatchPtr {
        {
            QMutexLocker lock(&m_mutex);
            ++m_instances;
        }
        if (script.failing.contains(QStringLiteral("Application")))
            return nullptr;
        return std::make_shared<FakeObject>(this, QStringLiteral("Application"));
    });
}

FakeServer::~FakeServer()
{
    automation::unregisterServer(QStringLiteral("Excel.Application"));
}

void FakeServer::record(const QString &call)
{
    QMutexLocker lock(&m_mutex);
    m_calls << call;
}

QStringList FakeServer::calls() const
{
    QMutexLocker lock(&m_mutex);
    return m_calls;
}

int FakeServer::instances() const
{
    QMutexLocker lock(&m_mutex);
    return m_instances;
}
