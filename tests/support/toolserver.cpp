#include "toolserver_p.h"

#include "testsupport.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <mutex>

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

namespace {

// The tool process, spoken to over one socket: requests in, replies out, a line each.
class ToolServer
{
public:
    ~ToolServer() { stop(false); }

    bool call(const QByteArray &request, QByteArray *reply, QString *error, int timeoutMs)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_pid < 0 && !start(error))
            return false;
        if (!send(request + '\n')) {
            stop(true);
            *error = QStringLiteral("the tool process is gone");
            return false;
        }
        QElapsedTimer clock;
        clock.start();
        int end;
        while ((end = m_buffer.indexOf('\n')) < 0) {
            const int left = timeoutMs < 0 ? -1 : int(qMax<qint64>(0, timeoutMs - clock.elapsed()));
            pollfd p{m_fd, POLLIN, 0};
            const int ready = ::poll(&p, 1, left);
            if (ready < 0 && errno == EINTR)
                continue;
            char chunk[65536];
            const ssize_t n = ready > 0 ? ::read(m_fd, chunk, sizeof chunk) : -1;
            if (n <= 0) {
                stop(true);
                *error = ready == 0
                             ? QStringLiteral("the tool did not answer within %1 ms").arg(timeoutMs)
                             : QStringLiteral("the tool process ended");
                return false;
            }
            m_buffer.append(chunk, int(n));
        }
        *reply = m_buffer.left(end);
        m_buffer.remove(0, end + 1);
        return true;
    }

private:
    bool start(QString *error)
    {
        int sv[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) {
            *error = QStringLiteral("cannot make a socket for the tool process");
            return false;
        }
        const QByteArray program = python().toLocal8Bit();
        const QByteArray script = QByteArrayLiteral(TRELVIX_TEST_SCRIPTS_DIR "/tool_server.py");
        const QByteArray cache = QByteArrayLiteral(TRELVIX_TOOL_CACHE_DIR);
        char *const argv[] = {const_cast<char *>(program.constData()),
                              const_cast<char *>(script.constData()),
                              const_cast<char *>(cache.constData()), nullptr};
        const pid_t pid = ::fork();
        if (pid == 0) {
            // dup2 leaves the copies open across exec; the originals close there.
            ::dup2(sv[1], 0);
            ::dup2(sv[1], 1);
            ::execv(argv[0], argv);
            ::_exit(127);
        }
        ::close(sv[1]);
        if (pid < 0) {
            ::close(sv[0]);
            *error = QStringLiteral("cannot start %1").arg(python());
            return false;
        }
        m_pid = pid;
        m_fd = sv[0];
        return true;
    }

    bool send(const QByteArray &data)
    {
        for (qint64 done = 0; done < data.size();) {
            const ssize_t n =
                ::send(m_fd, data.constData() + done, size_t(data.size() - done), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += n;
        }
        return true;
    }

    // Ends the process: at the end of its input it ends what it keeps running and exits.
    void stop(bool kill)
    {
        if (m_pid < 0)
            return;
        if (kill)
            ::kill(m_pid, SIGKILL);
        ::shutdown(m_fd, SHUT_WR);
        while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        ::close(m_fd);
        m_pid = -1;
        m_fd = -1;
        m_buffer.clear();
    }

    std::mutex m_mutex;
    pid_t m_pid = -1;
    int m_fd = -1;
    QByteArray m_buffer;
};

} // namespace

bool callTool(const QString &script, const QStringList &args, const QByteArray &input,
              QByteArray *output, QString *error, int timeoutMs)
{
    static ToolServer server;
    const QJsonObject request{{QStringLiteral("script"), script},
                              {QStringLiteral("args"), QJsonArray::fromStringList(args)},
                              {QStringLiteral("input"), QString::fromLatin1(input.toBase64())}};
    QByteArray line;
    QString why;
    if (!server.call(QJsonDocument(request).toJson(QJsonDocument::Compact), &line, &why,
                     timeoutMs)) {
        if (error)
            *error = why;
        return false;
    }
    const QJsonObject reply = QJsonDocument::fromJson(line).object();
    if (output)
        *output = QByteArray::fromBase64(reply.value(QStringLiteral("out")).toString().toLatin1());
    if (!reply.value(QStringLiteral("ok")).toBool()) {
        if (error)
            *error = reply.value(QStringLiteral("err")).toString();
        return false;
    }
    return true;
}

} // namespace testsupport
