#include "automation/dispatch.h"

#include <QHash>
#include <mutex>
#include <QVector>

namespace automation {

namespace {

struct Registry
{
    std::mutex mutex;
    // By ProgID, the registrations in order; the last one answers.
    QHash<QString, QVector<DispatchFactory>> servers;
};

Registry &registry()
{
    static Registry r;
    return r;
}

} // namespace

void registerServer(const QString &progId, DispatchFactory factory)
{
    Registry &r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.servers[progId].append(std::move(factory));
}

void unregisterServer(const QString &progId)
{
    Registry &r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.servers.find(progId);
    if (it == r.servers.end())
        return;
    it->removeLast();
    if (it->isEmpty())
        r.servers.erase(it);
}

DispatchPtr createServer(const QString &progId, QString *error)
{
    DispatchFactory factory;
    {
        Registry &r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        const auto it = r.servers.constFind(progId);
        if (it != r.servers.constEnd())
            factory = it->constLast();
    }
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
