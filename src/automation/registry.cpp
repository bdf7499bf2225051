#include "automation/dispatch.h"
#include "automation/sheetapp/sheetapp.h"

#include <QHash>
#include <QMutex>
#include <QMutexLocker>

namespace automation {

namespace {

struct Registry
{
    QMutex mutex;
    QHash<QString, DispatchFactory> servers;
};

Registry &registry()
{
    static Registry r;
    return r;
}

DispatchFactory builtIn(const QString &progId)
{
    if (progId == QLatin1String("Excel.Application"))
        return &sheetapp::createApplication;
    return {};
}

} // namespace

void registerServer(const QString &progId, DispatchFactory factory)
{
    Registry &r = registry();
    QMutexLocker lock(&r.mutex);
    r.servers.insert(progId, std::move(factory));
}

void unregisterServer(const QString &progId)
{
    Registry &r = registry();
    QMutexLocker lock(&r.mutex);
    r.servers.remove(progId);
}

DispatchPtr createServer(const QString &progId, QString *error)
{
    DispatchFactory factory;
    {
        Registry &r = registry();
        QMutexLocker lock(&r.mutex);
        factory = r.servers.value(progId);
    }
    if (!factory)
        factory = builtIn(progId);
    if (!factory) {
        if (error)
            *error = QStringLiteral("no automation server is registered as \"%1\"").arg(progId);
        return nullptr;
    }
    DispatchPtr object = factory();
    if (!object && error)
        *error = QStringLiteral("the server \"%1\" did not start").arg(progId);
    return object;
}

} // namespace automation
