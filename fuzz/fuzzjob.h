// One job of the embedded application on a workbook, as the replace engine runs it, with
// the checks that make a finding: a save reported as done must leave a file that opens
// again, a failed save must leave the file as it was, and no temporary may stay behind.
#pragma once

#include <QByteArray>
#include <QString>

namespace fuzzjob {

// The choices of one job, taken from a byte of the input.
struct Choices
{
    bool positions = false; // cell writes instead of replacements
    int sheets = 0;         // 0 the active sheet, 1 all sheets
    int lookAt = 2;
    int searchOrder = 1;
    bool matchCase = false;
    int pairs = 0; // which set of pairs
    // Every sheet read in windows of rows, the outcome held against the held job's.
    bool windows = false;
};
Choices choicesOf(unsigned char byte);

// Writes `bytes` as the workbook under the fuzzer's folder, runs the job and checks the
// outcome; aborts (a finding) when a check fails.
void run(const QByteArray &bytes, const Choices &choices);

// Silences the library's warnings and makes the folder of the workbooks.
void initialize();

} // namespace fuzzjob
