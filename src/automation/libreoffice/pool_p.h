// The LibreOffice instances of the process and the calls into them.
#pragma once

#include "automation/libreoffice/uno_p.h"

#include <com/sun/star/bridge/XBridge.hpp>

#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <sys/types.h>

namespace libreoffice {

// One soffice process, as the keeper thread sees it.
struct Process
{
    pid_t pid = 0;
    QString dir;                     // its profile and log; removed once it has ended
    QStringList sockets;             // its pipes' socket files, removed once it has ended
    std::atomic<bool> exited{false}; // reaped
    std::atomic<int> exitCode{-1};   // its exit code once reaped, -1 for a signal
    std::atomic<qint64> deadline{0}; // ms on the steady clock; 0: no call running
    std::atomic<bool> timedOut{false};
    std::atomic<bool> retired{false}; // to be ended, then its folder removed
};

// A started, connected instance.
struct Instance
{
    std::shared_ptr<Process> process;
    css::uno::Reference<css::bridge::XBridge> bridge;         // the connection to it
    css::uno::Reference<css::uno::XComponentContext> context; // the instance's own
    css::uno::Reference<css::frame::XDesktop2> desktop;
    double startSeconds = 0;
    int leases = 0; // jobs it was handed to, counted by the pool

    ~Instance();
    // Ends the connection (and its reader thread) before the process is ended.
    void disposeBridge();
    // False once the process has ended, was ended, or is a zombie.
    bool alive() const;
};
using InstancePtr = std::shared_ptr<Instance>;

// Arms the time limit of one call: the keeper ends the instance when the call
// has not returned in time, which makes the call fail.
class CallGuard
{
public:
    explicit CallGuard(const Instance &instance);
    ~CallGuard();
    CallGuard(const CallGuard &) = delete;
    CallGuard &operator=(const CallGuard &) = delete;

private:
    Process *m_process;
};

// A free instance, or a new one when fewer than the most allowed run; waits
// while that many are leased. nullptr with *error when none can be started.
InstancePtr leaseInstance(QString *error);
// `healthy` false: the instance is ended instead of being kept.
void returnInstance(const InstancePtr &instance, bool healthy);

// Starts soffice with these arguments as a child of the keeper thread, in a
// process group of its own, to be killed when this process dies. The process
// is watched from then on.
// `sockets`: the socket files of its pipes, which it leaves behind.
std::shared_ptr<Process> spawnProcess(const QStringList &arguments, const QString &dir,
                                      const QStringList &sockets, QString *error);
// Ends the process (if it still runs) and removes its folder, in the background.
void endProcess(const std::shared_ptr<Process> &process);
// The socket files that an instance started with this pipe name (may be empty: none)
// and this profile URL leaves behind, to be removed once it has ended.
QStringList pipeSockets(const QString &pipe, const QString &profileUrl);
// The folder under which instance folders are made (created on first use).
QString poolFolder();
int callLimitMs();

// Starts and connects one instance (the process part of the pool).
InstancePtr startInstance(int number, QString *error);

QString toQString(const rtl::OUString &s);
rtl::OUString toOUString(const QString &s);

} // namespace libreoffice
