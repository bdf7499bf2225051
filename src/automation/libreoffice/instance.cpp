// Starting one LibreOffice instance and connecting to it.
#include "automation/libreoffice/pool_p.h"

#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <cppuhelper/bootstrap.hxx>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <mutex>
#include <signal.h>
#include <thread>
#include <unistd.h>

namespace libreoffice {
namespace {

// soffice's exit code when it wants to be started again.
constexpr int kRestartCode = 81;

// Where LibreOffice is installed (TRELVIX_LO_PROGRAM_DIR overrides it).
QString programDir()
{
    const QString dir = qEnvironmentVariable("TRELVIX_LO_PROGRAM_DIR");
    return dir.isEmpty() ? QStringLiteral("/usr/lib/libreoffice/program") : dir;
}

// The UNO runtime of this process, bootstrapped once.
css::uno::Reference<css::uno::XComponentContext> localContext(QString *error)
{
    static std::mutex mutex;
    static css::uno::Reference<css::uno::XComponentContext> context;
    static QString failure;
    std::lock_guard<std::mutex> lock(mutex);
    if (context.is() || !failure.isEmpty()) {
        *error = failure;
        return context;
    }
    const QString fundamental = programDir() + QStringLiteral("/fundamentalrc");
    if (!QFileInfo::exists(fundamental)) {
        failure = QStringLiteral("LibreOffice is not installed (no %1); install the package "
                                 "libreoffice-calc-nogui")
                      .arg(fundamental);
    } else {
        if (qEnvironmentVariableIsEmpty("URE_BOOTSTRAP"))
            qputenv("URE_BOOTSTRAP", "vnd.sun.star.pathname:" + fundamental.toLocal8Bit());
        try {
            context = cppu::defaultBootstrap_InitialComponentContext();
        } catch (const css::uno::Exception &e) {
            failure = QStringLiteral("the LibreOffice runtime does not start: %1")
                          .arg(toQString(e.Message));
        } catch (...) {
            failure = QStringLiteral("the LibreOffice runtime does not start");
        }
    }
    *error = failure;
    return context;
}

// The profile of a new instance: no lock files next to the user's workbooks,
// and the system locale zh-CN, so that numbers, dates and times read as the
// formula bar of a Chinese-locale installation shows them ("2024/1/15",
// "12:00:00"); the interface language stays en-US, for the messages logged.
bool writeProfile(const QString &dir)
{
    if (!QDir().mkpath(dir + QStringLiteral("/profile/user")))
        return false;
    QFile f(dir + QStringLiteral("/profile/user/registrymodifications.xcu"));
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(R"(<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="UseLocking" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="UseDocumentSystemFileLocking" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Save/Document"><prop oor:name="CreateBackup" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Save/Document"><prop oor:name="AutoSave" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Recovery/AutoSave"><prop oor:name="Enabled" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Setup/L10N"><prop oor:name="ooSetupSystemLocale" oor:op="fuse"><value>zh-CN</value></prop></item>
<item oor:path="/org.openoffice.Setup/L10N"><prop oor:name="ooLocale" oor:op="fuse"><value>en-US</value></prop></item>
</oor:items>
)");
    return f.error() == QFileDevice::NoError;
}

} // namespace

// The socket files that an instance leaves behind: LibreOffice makes them in /tmp (or
// /var/tmp when /tmp cannot be written) and never removes them. One for the pipe it
// accepts on; one for the pipe through which a second start with the same profile would
// reach it, named after the MD5 of the profile's URL in UTF-16, each byte in hex without
// leading zeros.
QStringList pipeSockets(const QString &pipe, const QString &profileUrl)
{
    QByteArray utf16;
    for (const QChar c : profileUrl) {
        utf16.append(char(c.unicode() & 0xff));
        utf16.append(char(c.unicode() >> 8));
    }
    QString hash;
    for (const char b : QCryptographicHash::hash(utf16, QCryptographicHash::Md5))
        hash += QString::number(uchar(b), 16);
    const QString uid = QString::number(::getuid());
    QStringList sockets;
    for (const char *folder : {"/tmp", "/var/tmp"})
        for (const QString &name : {pipe, QStringLiteral("SingleOfficeIPC_") + hash})
            if (!name.isEmpty())
                sockets
                    << QStringLiteral("%1/OSL_PIPE_%2_%3").arg(QLatin1String(folder), uid, name);
    return sockets;
}

QString toQString(const rtl::OUString &s)
{
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(s.getStr()), s.getLength());
}

rtl::OUString toOUString(const QString &s)
{
    return rtl::OUString(reinterpret_cast<const sal_Unicode *>(s.utf16()), s.size());
}

Instance::~Instance()
{
    endProcess(process);
}

bool Instance::alive() const
{
    if (!process || process->exited || process->retired)
        return false;
    if (::kill(process->pid, 0) != 0)
        return false;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(process->pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    const int close = line.lastIndexOf(')');
    return close < 0 || line.mid(close + 2, 1) != "Z";
}

InstancePtr startInstance(int number, QString *error)
{
    const QString binary = programDir() + QStringLiteral("/soffice.bin");
    if (!QFileInfo(binary).isExecutable()) {
        *error = QStringLiteral("LibreOffice is not installed (no %1); install the package "
                                "libreoffice-calc-nogui")
                     .arg(binary);
        return nullptr;
    }
    QString why;
    const css::uno::Reference<css::uno::XComponentContext> local = localContext(&why);
    if (!local.is()) {
        *error = why;
        return nullptr;
    }
    const QString root = poolFolder();
    const QString dir = QStringLiteral("%1/instance-%2").arg(root).arg(number);
    if (root.isEmpty() || !writeProfile(dir)) {
        *error = QStringLiteral("cannot make a LibreOffice profile folder under %1")
                     .arg(root.isEmpty() ? QDir::tempPath() : root);
        return nullptr;
    }
    const QString pipe = QStringLiteral("trelvix_%1_%2_%3")
                             .arg(QCoreApplication::applicationPid())
                             .arg(number)
                             .arg(QDateTime::currentMSecsSinceEpoch());
    const QString profileUrl =
        QUrl::fromLocalFile(dir + QStringLiteral("/profile")).toString(QUrl::FullyEncoded);
    const QStringList arguments{
        binary,
        QStringLiteral("--headless"),
        QStringLiteral("--invisible"),
        QStringLiteral("--norestore"),
        QStringLiteral("--nologo"),
        QStringLiteral("--nodefault"),
        QStringLiteral("--nolockcheck"),
        QStringLiteral("-env:UserInstallation=") + profileUrl,
        QStringLiteral("--accept=pipe,name=%1;urp;").arg(pipe),
    };
    QElapsedTimer started;
    started.start();
    auto instance = std::make_shared<Instance>();
    const QStringList sockets = pipeSockets(pipe, profileUrl);
    instance->process = spawnProcess(arguments, dir, sockets, &why);
    if (!instance->process) {
        QDir(dir).removeRecursively();
        *error = why;
        return nullptr;
    }
    // It accepts once it is up; a new profile takes a few seconds.
    const int limit = qMax(callLimitMs(), 30000);
    const rtl::OUString url =
        toOUString(QStringLiteral("uno:pipe,name=%1;urp;StarOffice.ComponentContext").arg(pipe));
    int restarts = 0;
    while (!instance->context.is()) {
        if (!instance->alive()) {
            // The keeper tells why it ended once it has reaped it.
            for (int i = 0; i < 200 && !instance->process->exited; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (instance->process->exitCode != kRestartCode || ++restarts > 3) {
                *error = QStringLiteral("LibreOffice ended while starting (exit code %1)")
                             .arg(instance->process->exitCode);
                return nullptr;
            }
            // The first start with a new profile sets it up and asks for a restart.
            instance->process->dir.clear(); // the profile stays for the next start
            instance->process->sockets.clear(); // and so do the names of its pipes
            endProcess(instance->process);
            instance->process = spawnProcess(arguments, dir, sockets, &why);
            if (!instance->process) {
                *error = why;
                return nullptr;
            }
            continue;
        }
        if (started.elapsed() > limit) {
            *error = QStringLiteral("LibreOffice did not answer within %1 s of its start")
                         .arg(limit / 1000);
            return nullptr;
        }
        try {
            css::uno::Reference<css::bridge::XUnoUrlResolver> resolver =
                css::bridge::UnoUrlResolver::create(local);
            instance->context.set(resolver->resolve(url), css::uno::UNO_QUERY);
        } catch (const css::connection::NoConnectException &) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        } catch (const css::uno::Exception &e) {
            *error = QStringLiteral("cannot connect to LibreOffice: %1").arg(toQString(e.Message));
            return nullptr;
        }
    }
    try {
        CallGuard guard(*instance);
        instance->desktop = css::frame::Desktop::create(instance->context);
    } catch (const css::uno::Exception &e) {
        *error = QStringLiteral("LibreOffice has no desktop: %1").arg(toQString(e.Message));
        return nullptr;
    }
    instance->startSeconds = started.elapsed() / 1000.0;
    return instance;
}

} // namespace libreoffice
