// The outcome of one listed file's job.
#pragma once

#include <QMetaType>

#include <cstdint>

enum STATE : std::int32_t
{
    SUCCESS = 0, // the job ran to its end and saved the workbook
    FAIL = 1,    // the job ended without finishing; nothing was saved
    LOST = 2,    // the listed path is not an existing file; no job was made for it
};
static_assert(sizeof(STATE) == 4, "STATE travels as a four-byte value");

Q_DECLARE_METATYPE(STATE)
