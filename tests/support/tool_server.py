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

  tool_server.py [CACHE]

With CACHE (a folder), what a reading command (CACHED below) prints for a workbook is kept
there by the workbook's content, the tool's source and the reader's version, and shared by the
test programs of a build that read the same bytes (the corpus, a workbook two runs save alike).
"""
import base64
import importlib.util
import io
import json
import os
import sys
import traceback

_modules = {}

# Per tool, the commands that only read the workbook named by their second argument.
CACHED = {"xlsx_tool.py": {"dump", "entries", "kinds", "cells", "stored"},
          "sheetapp_tool.py": {"inspect", "protection"},
          "xls_tool.py": {"dump"}}


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


def _cache_key(script, args):
    if len(args) != 2 or args[0] not in CACHED.get(os.path.basename(script), ()):
        return None
    import hashlib
    import openpyxl
    h = hashlib.sha256()
    for part in (open(script, "rb").read(), openpyxl.__version__.encode(), args[0].encode(),
                 open(args[1], "rb").read()):
        h.update(hashlib.sha256(part).digest())
    return h.hexdigest()


def _cached_call(cache, script, args, data):
    """_call, its output kept in `cache` when it succeeds; one computes, the others wait."""
    import fcntl
    try:
        key = _cache_key(script, args)
    except OSError:
        key = None
    if key is None:
        return _call(script, args, data)
    entry = os.path.join(cache, key[:2], key)
    os.makedirs(os.path.dirname(entry), exist_ok=True)
    with open(entry + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        try:
            with open(entry, "rb") as f:
                return True, f.read(), ""
        except FileNotFoundError:
            pass
        ok, out, err = _call(script, args, data)
        if ok:
            tmp = "%s.%d.tmp" % (entry, os.getpid())
            with open(tmp, "wb") as f:
                f.write(out)
            os.replace(tmp, entry)
        return ok, out, err


def main():
    cache = sys.argv[1] if len(sys.argv) > 1 else None
    reply = os.fdopen(os.dup(1), "w", encoding="utf-8")
    os.dup2(2, 1)
    sys.stdout = io.TextIOWrapper(os.fdopen(1, "wb", closefd=False), encoding="utf-8")
    for line in sys.stdin.buffer:
        if not line.strip():
            continue
        req = json.loads(line)
        script, args = req["script"], req.get("args", [])
        data = base64.b64decode(req.get("input", ""))
        ok, out, err = (_cached_call(cache, script, args, data) if cache else
                        _call(script, args, data))
        reply.write(json.dumps({"ok": ok, "out": base64.b64encode(out).decode("ascii"),
                                "err": err}) + "\n")
        reply.flush()


if __name__ == "__main__":
    main()
