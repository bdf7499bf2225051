// .xls workbooks LibreOffice refuses, instances that end under a job, and a job killed in the
// middle of a save: the workbook is never left half written.
#include "automation/libreoffice/libreoffice.h"
#include "jobs.h"
#include "testsupport.h"
#include "tst_xls.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <QtTest>

#include <signal.h>

using jobs::Outcome;
using jobs::Request;

void XlsTest::refused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("logged");

    QTest::newRow("LibreOffice cannot load it") << "garbled"
                                                << "book-garbled.xls: LibreOffice";
    QTest::newRow("damaged compound file") << "damaged"
                                           << "book-damaged.xls: an OLE compound file that holds "
                                              "neither a readable .xls workbook";
    QTest::newRow("read-only file") << "readonly"
                                    << "book-readonly.xls: cannot save: the file is read-only";
    QTest::newRow("LibreOffice not installed")
        << "missing"
        << "book-missing.xls: no LibreOffice instance: LibreOffice is not installed";
}

void XlsTest::refused()
{
    QFETCH(QString, kind);
    QFETCH(QString, logged);

    const QString file = copyOfBook(QStringLiteral("book-%1.xls").arg(kind));
    if (kind == QLatin1String("garbled"))
        QVERIFY(testsupport::xlsTool({QStringLiteral("garble"), file}));
    if (kind == QLatin1String("damaged")) {
        // The header stays; the sectors that locate the streams are overwritten.
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.seek(512));
        QVERIFY(f.write(QByteArray(int(f.size()) - 512, '\xff')) > 0);
    }
    if (kind == QLatin1String("readonly"))
        QFile::setPermissions(file, QFile::ReadOwner);
    if (kind == QLatin1String("missing")) {
        libreoffice::shutdownInstances();
        qputenv("TRELVIX_LO_PROGRAM_DIR", m_dir.filePath(QStringLiteral("nowhere")).toUtf8());
    }
    const QByteArray hash = testsupport::sha256(file);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QRegularExpression::escape(logged)));
    Request req;
    req.path = file;
    req.pairs = {{QStringLiteral("apple"), QStringLiteral("pear")}};
    const Outcome out = jobs::run(req);
    qunsetenv("TRELVIX_LO_PROGRAM_DIR");
    QVERIFY(!out.saved);
    QCOMPARE(out.liveAtExit, 0);
    QCOMPARE(testsupport::sha256(file), hash);
    QVERIFY2(leftovers(m_dir.path()).isEmpty(), qPrintable(leftovers(m_dir.path())));
}

// ---------------------------------------------------------------------------

void XlsTest::instanceEnded_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("duringJob"); // else while it waits in the pool
    QTest::newRow("killed during the job") << int(SIGKILL) << true;
    QTest::newRow("hangs during the job") << int(SIGSTOP) << true;
    QTest::newRow("killed while idle") << int(SIGKILL) << false;
}

void XlsTest::instanceEnded()
{
    QFETCH(int, signal);
    QFETCH(bool, duringJob);

    qint64 victim = 0;
    Request req;
    req.sheets = {1};
    req.pairs = {{QStringLiteral("apple"), QStringLiteral("pear")}};
    if (!duringJob) {
        // The instance the last job gave back.
        const QList<libreoffice::InstanceInfo> idle = libreoffice::instances();
        QVERIFY(!idle.isEmpty());
        victim = idle.first().pid;
        ::kill(pid_t(victim), signal);
    }
    if (duringJob)
        runKilledJob(req, signal, &victim);
    QVERIFY(victim > 0);
    m_pids.insert(victim);

    // The next job gets a fresh instance and succeeds.
    req.path = copyOfBook(QStringLiteral("after-ended.xls"));
    checkRun(req, req.path,
             {"First!A1=pear pie", "First!A2=pear", "First!A3=pear", "First!D2=red pear",
              "First!D3=pear"});
    for (const libreoffice::InstanceInfo &i : libreoffice::instances())
        QVERIFY(i.pid != victim);
}

void XlsTest::runKilledJob(Request req, int signal, qint64 *victim)
{
    const QString file = copyOfBook(QStringLiteral("ended.xls"));
    const QByteArray hash = testsupport::sha256(file);
    libreoffice::setCallLimit(3000);
    req.path = file;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("/ended.xls: LibreOffice"));
    const Outcome out = jobs::run(req, [victim, signal] {
        for (const libreoffice::InstanceInfo &i : libreoffice::instances()) {
            if (i.leased)
                *victim = i.pid;
        }
        ::kill(pid_t(*victim), signal);
    });
    libreoffice::setCallLimit(0);
    QVERIFY(out.opened);
    QVERIFY(!out.saved);
    QCOMPARE(testsupport::sha256(file), hash);
}

// ---------------------------------------------------------------------------

void XlsTest::killedSave_data()
{
    QTest::addColumn<QString>("moment");
    QTest::newRow("our temporary made") << "temporary";
    QTest::newRow("LibreOffice storing") << "store";
}

void XlsTest::killedSave()
{
    QFETCH(QString, moment);

    // The job runs in a process of its own, its temporary folder (with its LibreOffice
    // instances) in `tmp`, and is killed at that moment of its save.
    const QString folder = m_dir.filePath(QStringLiteral("killed"));
    const QString tmp = m_dir.filePath(QStringLiteral("killed-tmp"));
    QDir(folder).removeRecursively();
    QVERIFY(QDir().mkpath(folder) && QDir().mkpath(tmp));
    const QString file = folder + QStringLiteral("/book.xls");
    const auto runJob = [&](QProcess *job) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TMPDIR"), tmp);
        job->setProcessEnvironment(env);
        job->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        job->start(QStringLiteral(XLS_JOB),
                   {file, QStringLiteral("apple"), QStringLiteral("pear")});
        return job->waitForStarted();
    };
    const auto reached = [&] {
        if (moment == QLatin1String("temporary"))
            return !QDir(folder).entryList({".trelvix-*"}, QDir::Files | QDir::Hidden).isEmpty();
        // LibreOffice writes: a file in its instance's store folder, or (where it stored
        // beside the workbook) one there other than the workbook and our empty temporary.
        for (const QFileInfo &f : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden))
            if (f.fileName() != QLatin1String("book.xls") &&
                (!f.fileName().startsWith(QLatin1String(".trelvix-")) || f.size() > 0))
                return true;
        for (const QString &pool : QDir(tmp).entryList({"trelvix-lo-*"}, QDir::Dirs)) {
            const QDir p(tmp + '/' + pool);
            for (const QString &i : p.entryList({"instance-*"}, QDir::Dirs))
                if (!QDir(p.filePath(i) + QStringLiteral("/store")).isEmpty(QDir::Files))
                    return true;
        }
        return false;
    };
    bool caught = false;
    QByteArray hash;
    for (int attempt = 0; attempt < 5 && !caught; ++attempt) {
        QFile::remove(file);
        QVERIFY(QFile::copy(m_book, file));
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
        hash = testsupport::sha256(file);
        QProcess job;
        QVERIFY(runJob(&job));
        while (job.state() == QProcess::Running && !(caught = reached()))
            QThread::usleep(100);
        if (caught)
            ::kill(pid_t(job.processId()), SIGKILL);
        QVERIFY(job.waitForFinished(-1));
    }
    if (!caught)
        QSKIP("every save ended before it could be interrupted");

    const QStringList visible = QDir(folder).entryList(QDir::Files);
    const QStringList all = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    const QByteArray after = testsupport::sha256(file);
    // The next run saves the workbook and removes what the killed one left, beside the
    // workbook and in the temporary folder (its pipes' sockets in /tmp too).
    QProcess next;
    QVERIFY(runJob(&next));
    QVERIFY(next.waitForFinished(-1));

    // Beside the workbook, as it was, nothing visible: at most our hidden temporary.
    QCOMPARE(visible, QStringList{"book.xls"});
    for (const QString &left : all)
        QVERIFY2(left == QLatin1String("book.xls") || left.startsWith(QLatin1String(".trelvix-")),
                 qPrintable(left));
    QCOMPARE(after, hash);
    QCOMPARE(next.exitCode(), 0);
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"book.xls"});
    QCOMPARE(cellsOf(file).value(QStringLiteral("First!A1")).toString(),
             QStringLiteral("pear pie"));
    QCOMPARE(QDir(tmp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList());
}
