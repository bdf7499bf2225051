// Measures open + edit one cell + save of the package library against the
// floor of any program that rewrites a workbook: inflating every zip entry and
// deflating it again. Prints a table; asserts nothing.
//
//   bench_xlsx [FOLDER]   (default: a temporary folder, filled by gen_workbooks.py)
#include "xlsx/document.h"
#include "xlsx/zip_p.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QTemporaryDir>

#include <cstdio>

namespace {

// Best of a few runs, in milliseconds.
template <typename F> double bestOf(int runs, F f)
{
    double best = 1e18;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        if (!f())
            return -1;
        best = qMin(best, t.nsecsElapsed() / 1e6);
    }
    return best;
}

bool ours(const QString &in, const QString &out)
{
    xlsx::Document doc;
    QString error;
    if (!doc.open(in, &error)) {
        fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }
    xlsx::Worksheet *ws = doc.worksheet(doc.activeSheetIndex(), &error);
    if (!ws || !ws->setString(2, 1, QStringLiteral("edited"), &error) || !doc.saveAs(out, &error)) {
        fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }
    return true;
}

bool floorCopy(const QString &in, const QString &out)
{
    QFile f(in);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    xlsx::ZipArchive zip;
    QString error;
    if (!zip.load(f.readAll(), in, &error))
        return false;
    xlsx::ZipWriter w;
    if (!w.begin(&error))
        return false;
    for (int i = 0; i < zip.entries().size(); ++i) {
        QByteArray data;
        if (!zip.read(i, &data, &error) ||
            !w.addData(zip.entries()[i].name, data, zip.entries()[i].dateTime, -1, &error))
            return false;
    }
    QByteArray bytes;
    if (!w.finish(&bytes, &error))
        return false;
    QSaveFile s(out);
    return s.open(QIODevice::WriteOnly) && s.write(bytes) == bytes.size() && s.commit();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir tmp;
    QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : tmp.filePath("corpus");
    if (!QDir(folder).exists() || QDir(folder).entryList({"*.xlsx"}).isEmpty()) {
        const QString script = QStringLiteral(TRELVIX_BENCH_DIR "/gen_workbooks.py");
        printf("generating workbooks in %s ...\n", qPrintable(folder));
        fflush(stdout);
        if (QProcess::execute(QStringLiteral("/usr/bin/python3"), {script, folder}) != 0) {
            fprintf(stderr, "cannot generate the workbooks\n");
            return 1;
        }
    }
    const QFileInfoList files = QDir(folder).entryInfoList({"*.xlsx"}, QDir::Files, QDir::Name);
    const QString out = tmp.filePath("out.xlsx");
    printf("%-16s %10s %12s %12s %10s %10s\n", "workbook", "size KB", "ours ms", "floor ms",
           "ours MB/s", "floor MB/s");
    double totalOurs = 0, totalFloor = 0, totalMB = 0;
    for (const QFileInfo &fi : files) {
        const double mb = fi.size() / 1e6;
        const int runs = fi.size() > 2000000 ? 3 : 5;
        const double a = bestOf(runs, [&] { return ours(fi.filePath(), out); });
        const double b = bestOf(runs, [&] { return floorCopy(fi.filePath(), out); });
        if (a < 0 || b < 0) {
            fprintf(stderr, "%s: failed\n", qPrintable(fi.fileName()));
            return 1;
        }
        totalOurs += a;
        totalFloor += b;
        totalMB += mb;
        printf("%-16s %10.0f %12.1f %12.1f %10.1f %10.1f\n", qPrintable(fi.fileName()),
               fi.size() / 1024.0, a, b, mb / (a / 1000), mb / (b / 1000));
    }
    printf("%-16s %10.0f %12.1f %12.1f %10.1f %10.1f\n", "total", totalMB * 1e6 / 1024, totalOurs,
           totalFloor, totalMB / (totalOurs / 1000), totalMB / (totalFloor / 1000));
    printf("ours / floor throughput: %.2fx\n", totalFloor / totalOurs);
    return 0;
}
