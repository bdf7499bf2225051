"""The .xls corpus: the same small workbooks as .xls (through LibreOffice) and
as .xlsx (through the embedded application), timed side by side by the engine
benchmark, with the LibreOffice instances' start-up time and memory.

Called from bench.py (--xls N); run with Debian's /usr/bin/python3 (xlrd).
"""

import os
import shutil
import statistics
import sys

import workload

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "support"))
import soffice  # noqa: E402


def _make(work, count):
    """count workbooks as .xlsx, and the same converted to .xls by soffice."""
    xlsx = os.path.join(work, "xlsx")
    xls = os.path.join(work, "xls")
    os.makedirs(xlsx, exist_ok=True)
    os.makedirs(xls, exist_ok=True)
    files = []
    for i in range(count):
        path = os.path.join(xlsx, "book%03d.xlsx" % i)
        workload.write_book(path, 2, 60, 7000 + i)
        files.append(path)
    soffice.convert(os.path.join(work, "soffice"), "xls", xls, files, timeout=600)
    return xlsx, xls


def _texts_xls(path):
    import xlrd
    book = xlrd.open_workbook(path)
    return [[sh.cell_value(r, c) for r in range(sh.nrows) for c in range(sh.ncols)]
            for sh in book.sheets()]


def _check_xls(pristine, done):
    """Every text cell of `done` is the pristine text with the pairs replaced;
    numbers are as they were."""
    want = [[workload.replaced(v) if isinstance(v, str) else v for v in sheet]
            for sheet in _texts_xls(pristine)]
    return _texts_xls(done) == want


def run(engine, work, pairs_path, count, runs, jobs, env, run_once, log_path):
    """Returns the table rows: (kind, [runs]) and whether every output checked."""
    base = os.path.join(work, "xls-corpus")
    print("XLS: %d workbooks as .xls and as .xlsx ..." % count, flush=True)
    xlsx, xls = _make(os.path.join(base, "pristine"), count)
    rows = []
    for kind, src in (("xls", xls), ("xlsx", xlsx)):
        names = sorted(os.listdir(src))
        folder = os.path.join(base, "run-" + kind)
        record, wrong = [], 0
        for rnd in range(runs):
            shutil.rmtree(folder, ignore_errors=True)
            shutil.copytree(src, folder)
            files = [os.path.join(folder, n) for n in names]
            r = run_once([engine, "--pairs", pairs_path, "--jobs", str(jobs)] + files,
                         log_path, env)
            if kind == "xls":
                bad = sum(not _check_xls(os.path.join(src, n), os.path.join(folder, n))
                          for n in names)
            else:
                bad = sum(tuple(workload.grid_digest(os.path.join(folder, n))) !=
                          tuple(workload.expected_digest(os.path.join(src, n))) for n in names)
            bad += r["ok"] != len(files)
            wrong += bad
            record.append(r)
            print("  %-5s run %d: %7.3f s  %7.2f files/s  all %6.0f MB  %s%s"
                  % (kind, rnd + 1, r["seconds"], len(files) / r["seconds"],
                     r["tree_kb"] / 1024, "checked" if not bad else "WRONG: %d" % bad,
                     "  " + r.get("lo", "") if r.get("lo") else ""), flush=True)
        rows.append((kind, record, wrong, len(names)))
    return rows


def print_table(rows):
    print("\nXLS corpus (engine, same workbooks; medians)")
    print("%-6s %10s %10s %10s %12s  %s" % ("kind", "seconds", "files/s", "tree MB",
                                           "instances", "instance start s / memory"))
    for kind, record, wrong, n in rows:
        secs = statistics.median(r["seconds"] for r in record)
        tree = statistics.median(r["tree_kb"] for r in record) / 1024
        lo = record[-1].get("lo", "")
        fields = dict(f.split("=", 1) for f in lo.split()) if lo else {}
        print("%-6s %10.3f %10.2f %10.0f %12s  %s%s"
              % (kind, secs, n / secs, tree, fields.get("lo_instances", "-"),
                 ("%s s / %s MB" % (fields.get("lo_start_s"), fields.get("lo_pss_mb")))
                 if fields else "-", "" if not wrong else "  WRONG outputs: %d" % wrong))
