// What both run benchmarks take from their command line: the replacements
// (a UTF-8 file of "key<TAB>value" lines), the sheet choice, the number of
// jobs at once and the workbooks (files, or folders whose .xlsx files are
// taken in name order); and the one result line they print.
#pragma once

#include "engine/param.h"

#include <QString>
#include <QStringList>
#include <QVector>

namespace benchrun {

struct Args
{
    QVector<KeyPair> pairs;
    QString sheets = QStringLiteral("所有表");
    int jobs = 8;
    QStringList files;
};

// False (with a message on stderr) when the command line cannot be used.
bool parseArgs(const QStringList &arguments, const char *usage, Args *out);

// Prints "files=N ok=N fail=N lost=N seconds=S files_per_s=X" and any extra
// "name=value" fields.
void printResult(int files, int ok, int fail, int lost, double seconds,
                 const QString &extra = QString());

} // namespace benchrun
