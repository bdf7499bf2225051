// libFuzzer target: the bytes of a workbook file as a user gives it (the first byte picks
// the job's choices), through the embedded application's open, replace or write, and save.
#include "fuzzjob.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzjob::initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > 4 * 1024 * 1024)
        return -1;
    fuzzjob::run(QByteArray(reinterpret_cast<const char *>(data) + 1, int(size - 1)),
                 fuzzjob::choicesOf(data[0]));
    return 0;
}
