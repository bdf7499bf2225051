#include "benchargs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <cstdio>

namespace benchrun {

namespace {

bool readPairs(const QString &path, QVector<KeyPair> *pairs)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (line.isEmpty())
            continue;
        const int tab = line.indexOf(QLatin1Char('\t'));
        if (tab <= 0)
            return false;
        pairs->append(KeyPair(line.left(tab), line.mid(tab + 1)));
    }
    return !pairs->isEmpty();
}

void fail(const char *usage, const QString &why)
{
    std::fprintf(stderr, "%s\n%s\n", qPrintable(why), usage);
}

} // namespace

bool parseArgs(const QStringList &arguments, const char *usage, Args *out)
{
    QString pairsPath;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        const bool hasValue = i + 1 < arguments.size();
        if (a == QLatin1String("--pairs") && hasValue) {
            pairsPath = arguments.at(++i);
        } else if (a == QLatin1String("--sheets") && hasValue) {
            out->sheets = arguments.at(++i);
        } else if (a == QLatin1String("--jobs") && hasValue) {
            out->jobs = arguments.at(++i).toInt();
        } else if (a.startsWith(QLatin1String("--"))) {
            fail(usage, QStringLiteral("unknown option %1").arg(a));
            return false;
        } else if (QFileInfo(a).isDir()) {
            const QDir dir(a);
            for (const QString &name :
                 dir.entryList({QStringLiteral("*.xlsx")}, QDir::Files, QDir::Name))
                out->files << dir.absoluteFilePath(name);
        } else {
            out->files << QFileInfo(a).absoluteFilePath();
        }
    }
    if (pairsPath.isEmpty() || !readPairs(pairsPath, &out->pairs)) {
        fail(usage, QStringLiteral("no replacements read from '%1'").arg(pairsPath));
        return false;
    }
    if (out->jobs < 1 || out->files.isEmpty()) {
        fail(usage, QStringLiteral("need at least one job and one file"));
        return false;
    }
    return true;
}

void printResult(int files, int ok, int fail, int lost, double seconds, const QString &extra)
{
    QString line = QStringLiteral("files=%1 ok=%2 fail=%3 lost=%4 seconds=%5 files_per_s=%6")
                       .arg(files)
                       .arg(ok)
                       .arg(fail)
                       .arg(lost)
                       .arg(seconds, 0, 'f', 6)
                       .arg(seconds > 0 ? files / seconds : 0.0, 0, 'f', 3);
    if (!extra.isEmpty())
        line += QLatin1Char(' ') + extra;
    QTextStream(stdout) << line << '\n';
}

} // namespace benchrun
