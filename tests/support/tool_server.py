#!/usr/bin/python3
"""Runs the tests' Python tools (xlsx_tool.py, sheetapp_tool.py, xls_tool.py) in one process, so
that a test program starts Python and imports openpyxl once, not once per workbook.

One request per line on standard input, one reply per line on the descriptor the reply is
written to (standard output at start; whatever else writes to standard output later, such as a
program a tool starts, goes to standard error):

  request: {"script": PATH, "args": [...], "input": BASE64}
  reply:   {"ok": bool, "out": BASE64, "err": TEXT}

A request runs the script's main() with sys.argv, sys.stdin and sys.stdout as a process of its
own would see them; a non-zero SystemExit or an exception is a failure with its text. The
process ends at the end of its input, and with it anything the tools keep running (the
LibreOffice instance that computes formulas).
"""
import base64
import importlib.util
import io
import json
import os
import sys
import traceback

_modules = {}


def _module(script):
    m = _modules.get(script)
    if m is None:
        folder = os.path.dirname(script)
        if folder not in sys.path:
            sys.path.insert(0, folder)
        name = "tool_" + os.path.splitext(os.path.basename(script))[0]
        spec = importlib.util.spec_from_file_location(name, script)
        m = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(m)
        _modules[script] = m
    return m


def _call(script, args, data):
    out = io.BytesIO()
    err = io.StringIO()
    saved = sys.argv, sys.stdin, sys.stdout, sys.stderr
    sys.argv = [script] + args
    sys.stdin = io.TextIOWrapper(io.BytesIO(data), encoding="utf-8")
    text_out = io.TextIOWrapper(out, encoding="utf-8", write_through=True)
    sys.stdout = text_out
    sys.stderr = err
    ok = True
    try:
        _module(script).main()
    except SystemExit as e:
        if e.code not in (None, 0):
            ok = False
            if not isinstance(e.code, int):
                err.write(str(e.code))
    except Exception:  # noqa: BLE001 - every failure goes back to the test
        ok = False
        err.write(traceback.format_exc())
    finally:
        text_out.flush()
        text_out.detach()  # the wrapper would close `out` when it goes
        sys.argv, sys.stdin, sys.stdout, sys.stderr = saved
    return ok, out.getvalue(), err.getvalue()


def main():
    reply = os.fdopen(os.dup(1), "w", encoding="utf-8")
    os.dup2(2, 1)
    sys.stdout = io.TextIOWrapper(os.fdopen(1, "wb", closefd=False), encoding="utf-8")
    for line in sys.stdin.buffer:
        if not line.strip():
            continue
        req = json.loads(line)
        ok, out, err = _call(req["script"], req.get("args", []),
                             base64.b64decode(req.get("input", "")))
        reply.write(json.dumps({"ok": ok, "out": base64.b64encode(out).decode("ascii"),
                                "err": err}) + "\n")
        reply.flush()


if __name__ == "__main__":
    main()
