// Why a file could not be written, told to the user in the window's language.
#pragma once

#include <QString>

// Looks at the file system around path (its folder, the file that is there)
// after a failed save and names the likely cause as one Chinese sentence. The
// path itself is not part of it.
QString saveFailureReason(const QString &path);
