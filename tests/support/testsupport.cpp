#include "testsupport.h"

#include "toolserver_p.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <cstdio>

namespace testsupport {

QString python()
{
    return QStringLiteral("/usr/bin/python3");
}

namespace {

// `python3 script args...` with `input` on its standard input, run in the tool process.
bool runScript(const QString &script, const QStringList &args, const QByteArray &input,
               QByteArray *output, QString *error, int timeoutMs = -1)
{
    return callTool(script, args, input, output, error, timeoutMs);
}

} // namespace

bool runTool(const QStringList &args, const QByteArray &input, QByteArray *output, QString *error)
{
    return runScript(QStringLiteral(TRELVIX_TEST_SCRIPTS_DIR "/xlsx_tool.py"), args, input, output,
                     error, 120000);
}

bool sheetappTool(const QStringList &args, QByteArray *output, QString *error,
                  const QByteArray &input)
{
    return runScript(QStringLiteral(TRELVIX_AUTOMATION_SCRIPTS_DIR "/sheetapp_tool.py"), args,
                     input, output, error);
}

bool xlsTool(const QStringList &args, QByteArray *output, QString *error)
{
    return runScript(QStringLiteral(TRELVIX_AUTOMATION_SCRIPTS_DIR "/xls_tool.py"), args,
                     QByteArray(), output, error);
}

bool makeXls(const QString &xlsx, const QJsonObject &spec, const QString &profile, QString *error)
{
    return makeWorkbook(xlsx, spec, error) &&
           xlsTool({QStringLiteral("convert"), profile, QFileInfo(xlsx).absolutePath(), xlsx},
                   nullptr, error);
}

QJsonObject dumpXls(const QString &path)
{
    QByteArray out;
    if (!xlsTool({QStringLiteral("dump"), path}, &out))
        return QJsonObject();
    return QJsonDocument::fromJson(out).object();
}

bool makeWorkbook(const QString &path, const QJsonObject &spec, QString *error)
{
    return runTool({QStringLiteral("make"), path}, QJsonDocument(spec).toJson(), nullptr, error);
}

QJsonObject dumpWorkbook(const QString &path, QString *error)
{
    QByteArray out;
    if (!runTool({QStringLiteral("dump"), path}, {}, &out, error))
        return {};
    return QJsonDocument::fromJson(out).object();
}

QVariant cellValue(const QJsonObject &dump, const QString &sheet, const QString &ref)
{
    const QJsonArray sheets = dump.value(QStringLiteral("sheets")).toArray();
    for (const QJsonValue &s : sheets) {
        const QJsonObject o = s.toObject();
        if (o.value(QStringLiteral("name")).toString() != sheet)
            continue;
        const QJsonValue v = o.value(QStringLiteral("cells")).toObject().value(ref);
        return v.isUndefined() ? QVariant() : v.toVariant();
    }
    return {};
}

QMap<QString, QString> zipEntryHashes(const QString &path, QString *error)
{
    QByteArray out;
    QMap<QString, QString> result;
    if (!runTool({QStringLiteral("entries"), path}, {}, &out, error))
        return result;
    const QJsonObject o = QJsonDocument::fromJson(out).object();
    for (auto it = o.begin(); it != o.end(); ++it)
        result.insert(it.key(), it.value().toString());
    return result;
}

QStringList changedEntries(const QMap<QString, QString> &before,
                           const QMap<QString, QString> &after)
{
    QStringList out;
    for (auto it = before.begin(); it != before.end(); ++it) {
        if (after.value(it.key()) != it.value())
            out << it.key();
    }
    for (auto it = after.begin(); it != after.end(); ++it) {
        if (!before.contains(it.key()))
            out << it.key();
    }
    out.sort();
    return out;
}

QString corpusDir()
{
    QString dir = qEnvironmentVariable("TRELVIX_CORPUS_DIR");
    if (dir.isEmpty())
        dir = QStringLiteral(TRELVIX_DEFAULT_CORPUS_DIR);
    return QDir(dir).exists() ? QDir(dir).absolutePath() : QString();
}

QStringList corpusFiles()
{
    const QString dir = corpusDir();
    if (dir.isEmpty())
        return {};
    QStringList files;
    const QStringList names = QDir(dir).entryList(
        {QStringLiteral("*.xlsx"), QStringLiteral("*.xlsm"), QStringLiteral("*.xls")}, QDir::Files,
        QDir::Name);
    for (const QString &n : names)
        files << dir + QLatin1Char('/') + n;
    return files;
}

bool corpusRequired()
{
    return qEnvironmentVariableIsSet("TRELVIX_REQUIRE_CORPUS") &&
           qEnvironmentVariable("TRELVIX_REQUIRE_CORPUS") != QLatin1String("0");
}

int missingCorpus()
{
    QString where = qEnvironmentVariable("TRELVIX_CORPUS_DIR");
    if (where.isEmpty())
        where = QStringLiteral(TRELVIX_DEFAULT_CORPUS_DIR);
    if (corpusRequired()) {
        fprintf(stderr,
                "FAIL: the corpus of real-world workbooks is not in %s, and "
                "TRELVIX_REQUIRE_CORPUS is set\n",
                qPrintable(where));
        return 1;
    }
    fprintf(stderr, "SKIP: the corpus of real-world workbooks is not in %s: not run\n",
            qPrintable(where));
    return kMissingData;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

QByteArray sha256(const QString &path)
{
    return QCryptographicHash::hash(readAll(path), QCryptographicHash::Sha256).toHex();
}

} // namespace testsupport
