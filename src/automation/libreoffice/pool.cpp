// The process-wide pool of instances and its keeper thread.
//
// The keeper starts every soffice process (so that the kernel ends them when
// this process dies: the parent-death signal follows the thread that forked),
// reaps them, ends those whose call ran over its time limit, and removes the
// folders of ended ones. At exit every instance is killed and the pool's
// temporary folder removed.
#include "automation/libreoffice/libreoffice.h"
#include "automation/libreoffice/pool_p.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace libreoffice {
namespace {

qint64 nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int envInt(const char *name, int fallback)
{
    bool ok = false;
    const int v = qEnvironmentVariableIntValue(name, &ok);
    return ok && v > 0 ? v : fallback;
}

struct SpawnRequest
{
    std::vector<std::string> argv;
    std::vector<std::string> env; // this process's, with TMPDIR in the instance's folder
    std::string log;
    QString dir;
    QStringList sockets;
    bool done = false;
    std::shared_ptr<Process> result;
    QString error;
};

class Pool
{
public:
    static Pool &get()
    {
        // Never destroyed: the exit handler ends what it holds.
        static Pool *pool = [] {
            auto *p = new Pool;
            std::atexit(&Pool::atExit);
            return p;
        }();
        return *pool;
    }

    std::mutex mutex;
    std::condition_variable keeperWake;
    std::condition_variable changed;
    std::vector<std::shared_ptr<Process>> processes;
    std::deque<SpawnRequest *> requests;
    std::vector<InstancePtr> idle;
    std::vector<InstancePtr> leased;
    int starting = 0;
    int numbered = 0;
    int maxInstances = envInt("TRELVIX_LO_INSTANCES", qMax(1, QThread::idealThreadCount()));
    std::atomic<int> callLimit{envInt("TRELVIX_LO_CALL_LIMIT_MS", 120000)};
    std::unique_ptr<QTemporaryDir> folder;
    std::thread keeper;
    bool stopping = false;

    void ensureKeeper()
    {
        if (!keeper.joinable())
            keeper = std::thread([this] { keep(); });
    }

    void keep()
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (!stopping) {
            keeperWake.wait_for(lock, std::chrono::milliseconds(50));
            while (!requests.empty()) {
                SpawnRequest *r = requests.front();
                requests.pop_front();
                r->result = fork(r);
                r->done = true;
                if (r->result)
                    processes.push_back(r->result);
                changed.notify_all();
            }
            const qint64 now = nowMs();
            for (auto it = processes.begin(); it != processes.end();) {
                Process &p = **it;
                if (!p.exited) {
                    int status = 0;
                    const pid_t r = ::waitpid(p.pid, &status, WNOHANG);
                    if (r == p.pid && WIFEXITED(status))
                        p.exitCode = WEXITSTATUS(status);
                    if (r == p.pid || (r < 0 && errno == ECHILD))
                        p.exited = true;
                }
                if (it->use_count() == 1)
                    p.retired = true; // nobody holds it any more
                const qint64 deadline = p.deadline;
                if (!p.exited && ((deadline != 0 && now > deadline) || p.retired)) {
                    if (!p.retired)
                        p.timedOut = true;
                    ::kill(-p.pid, SIGKILL);
                }
                if (p.exited && p.retired) {
                    if (!p.dir.isEmpty())
                        QDir(p.dir).removeRecursively();
                    for (const QString &socket : p.sockets)
                        QFile::remove(socket);
                    it = processes.erase(it);
                    continue;
                }
                ++it;
            }
        }
    }

    static std::shared_ptr<Process> fork(SpawnRequest *r)
    {
        std::vector<char *> argv;
        for (std::string &a : r->argv)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<char *> envp;
        for (std::string &e : r->env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        const int log = ::open(r->log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        const pid_t parent = ::getpid();
        const pid_t pid = ::fork();
        if (pid == 0) {
            // Only async-signal-safe calls until exec.
            ::setpgid(0, 0);
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent)
                ::_exit(127);
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            if (null >= 0)
                ::dup2(null, 0);
            if (log >= 0) {
                ::dup2(log, 1);
                ::dup2(log, 2);
            }
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        if (log >= 0)
            ::close(log);
        if (null >= 0)
            ::close(null);
        if (pid < 0) {
            r->error = QStringLiteral("cannot start %1: %2")
                           .arg(QString::fromStdString(r->argv[0]),
                                QString::fromLocal8Bit(strerror(errno)));
            return nullptr;
        }
        ::setpgid(pid, pid); // also from here, so that it holds before anyone signals the group
        auto p = std::make_shared<Process>();
        p->pid = pid;
        p->dir = r->dir;
        p->sockets = r->sockets;
        return p;
    }

    void retire(const InstancePtr &instance)
    {
        // With the pool's lock held.
        if (instance && instance->process)
            instance->process->retired = true;
        keeperWake.notify_all();
    }

    static void atExit()
    {
        Pool &pool = get();
        std::vector<std::shared_ptr<Process>> all;
        std::vector<InstancePtr> idle;
        {
            std::lock_guard<std::mutex> lock(pool.mutex);
            pool.stopping = true;
            all = pool.processes;
            idle = pool.idle;
            // The instances themselves are left alone (the pool is never
            // destroyed): no call goes to LibreOffice while the process exits.
        }
        // Their connections are ended before their processes are.
        for (const InstancePtr &i : idle)
            i->disposeBridge();
        pool.keeperWake.notify_all();
        if (pool.keeper.joinable())
            pool.keeper.join();
        for (const auto &p : all) {
            if (p->exited)
                continue;
            ::kill(-p->pid, SIGKILL);
            int status = 0;
            ::waitpid(p->pid, &status, 0);
        }
        for (const auto &p : all)
            for (const QString &socket : p->sockets)
                QFile::remove(socket);
        pool.folder.reset();
    }
};

} // namespace

std::shared_ptr<Process> spawnProcess(const QStringList &arguments, const QString &dir,
                                      const QStringList &sockets, QString *error)
{
    Pool &pool = Pool::get();
    SpawnRequest request;
    for (const QString &a : arguments)
        request.argv.push_back(a.toLocal8Bit().toStdString());
    request.log = QDir(dir).filePath(QStringLiteral("soffice.log")).toLocal8Bit().toStdString();
    request.dir = dir;
    // LibreOffice's own temporary files go into the instance's folder, and with it.
    for (char **e = environ; *e; ++e)
        if (std::strncmp(*e, "TMPDIR=", 7) != 0)
            request.env.emplace_back(*e);
    request.env.push_back("TMPDIR=" + QFile::encodeName(dir).toStdString());
    request.sockets = sockets;
    std::unique_lock<std::mutex> lock(pool.mutex);
    if (pool.stopping) {
        *error = QStringLiteral("the program is ending");
        return nullptr;
    }
    pool.ensureKeeper();
    pool.requests.push_back(&request);
    pool.keeperWake.notify_all();
    pool.changed.wait(lock, [&request] { return request.done; });
    if (!request.result)
        *error = request.error;
    return request.result;
}

QString poolFolder()
{
    Pool &pool = Pool::get();
    std::lock_guard<std::mutex> lock(pool.mutex);
    if (!pool.folder) {
        // Folders left by a run of this program that did not end normally go first.
        const QDir temp(QDir::tempPath());
        for (const QString &name : temp.entryList({QStringLiteral("trelvix-lo-*")}, QDir::Dirs)) {
            bool ok = false;
            const pid_t owner = pid_t(name.section(QLatin1Char('-'), 2, 2).toLongLong(&ok));
            if (!ok || owner <= 0 || ::kill(owner, 0) == 0 || errno != ESRCH)
                continue;
            const QDir stale(temp.filePath(name));
            QStringList sockets;
            for (const QString &instance :
                 stale.entryList({QStringLiteral("instance-*")}, QDir::Dirs))
                sockets << pipeSockets(QString(), QUrl::fromLocalFile(stale.filePath(instance) +
                                                                      QStringLiteral("/profile"))
                                                      .toString(QUrl::FullyEncoded));
            for (const char *folder : {"/tmp", "/var/tmp"}) {
                const QDir pipes{QString::fromLatin1(folder)};
                for (const QString &socket : pipes.entryList(
                         {QStringLiteral("OSL_PIPE_%1_trelvix_%2_*").arg(::getuid()).arg(owner)},
                         QDir::System))
                    sockets << pipes.filePath(socket);
            }
            for (const QString &socket : sockets)
                QFile::remove(socket);
            QDir(stale.path()).removeRecursively();
        }
        pool.folder = std::make_unique<QTemporaryDir>(
            QStringLiteral("%1/trelvix-lo-%2-XXXXXX").arg(QDir::tempPath()).arg(::getpid()));
        if (!pool.folder->isValid())
            return QString();
    }
    return pool.folder->path();
}

void endProcess(const std::shared_ptr<Process> &process)
{
    // Called from anywhere, also with the pool's lock held.
    if (!process)
        return;
    process->retired = true;
    Pool::get().keeperWake.notify_all();
}

int callLimitMs()
{
    return Pool::get().callLimit;
}

CallGuard::CallGuard(const Instance &instance) : m_process(instance.process.get())
{
    m_process->deadline = nowMs() + callLimitMs();
}

CallGuard::~CallGuard()
{
    m_process->deadline = 0;
}

InstancePtr leaseInstance(QString *error)
{
    Pool &pool = Pool::get();
    std::unique_lock<std::mutex> lock(pool.mutex);
    for (;;) {
        while (!pool.idle.empty()) {
            InstancePtr i = pool.idle.back();
            pool.idle.pop_back();
            if (i->alive()) {
                ++i->leases;
                pool.leased.push_back(i);
                return i;
            }
            pool.retire(i);
        }
        if (int(pool.leased.size()) + pool.starting < pool.maxInstances)
            break;
        pool.changed.wait(lock);
    }
    ++pool.starting;
    const int number = ++pool.numbered;
    lock.unlock();
    InstancePtr instance = startInstance(number, error);
    lock.lock();
    --pool.starting;
    if (instance) {
        instance->leases = 1;
        pool.leased.push_back(instance);
    }
    pool.changed.notify_all();
    return instance;
}

void returnInstance(const InstancePtr &instance, bool healthy)
{
    if (!instance)
        return;
    Pool &pool = Pool::get();
    std::lock_guard<std::mutex> lock(pool.mutex);
    auto it = std::find(pool.leased.begin(), pool.leased.end(), instance);
    if (it == pool.leased.end())
        return; // ended meanwhile
    pool.leased.erase(it);
    if (healthy && instance->alive() && !pool.stopping)
        pool.idle.push_back(instance);
    else
        pool.retire(instance);
    pool.changed.notify_all();
}

QList<InstanceInfo> instances()
{
    Pool &pool = Pool::get();
    std::lock_guard<std::mutex> lock(pool.mutex);
    QList<InstanceInfo> list;
    for (int leased = 0; leased < 2; ++leased) {
        for (const InstancePtr &i : leased ? pool.leased : pool.idle) {
            if (!i->alive())
                continue;
            InstanceInfo info;
            info.pid = i->process->pid;
            info.leased = leased;
            info.startSeconds = i->startSeconds;
            list << info;
        }
    }
    return list;
}

void setCallLimit(int milliseconds)
{
    Pool::get().callLimit = milliseconds > 0 ? milliseconds : 120000;
}

void shutdownInstances()
{
    Pool &pool = Pool::get();
    std::vector<InstancePtr> ended;
    std::unique_lock<std::mutex> lock(pool.mutex);
    ended.swap(pool.idle);
    ended.insert(ended.end(), pool.leased.begin(), pool.leased.end());
    pool.leased.clear();
    for (const InstancePtr &i : ended)
        pool.retire(i);
    pool.changed.notify_all();
    lock.unlock();
    ended.clear(); // the instances go without the pool's lock held
    // Wait (a while) until the keeper has reaped them and removed their folders.
    lock.lock();
    for (int i = 0; i < 500 && !pool.processes.empty() && pool.keeper.joinable() && !pool.stopping;
         ++i) {
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        lock.lock();
    }
}

} // namespace libreoffice
