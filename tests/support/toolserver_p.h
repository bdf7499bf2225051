// One Python process per test program that runs the tests' tools (tool_server.py).
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace testsupport {

// Runs `script args...` (a Python tool with a main()) with `input` on its standard input in
// the program's tool process, started on first use and ended when the program ends (also when
// it dies: the process reads the end of its input). False with *error when the tool fails, or
// when it has not answered within `timeoutMs` (-1: no limit; the process is then killed and
// the next call starts a new one). Calls from several threads are taken one at a time. What a
// reading command prints is kept by the workbook's content in the build's tests/tool-cache.
bool callTool(const QString &script, const QStringList &args, const QByteArray &input,
              QByteArray *output, QString *error, int timeoutMs);

} // namespace testsupport
