#!/usr/bin/python3
"""Runs the batch-run benchmarks and prints their table.

Corpora: SMALL and LARGE under the five pairs; REWRITE, the LARGE books under
the five and one that empties cells (so every sheet is rewritten), with each
output sheet's stored size against zlib's default level; LIN, one sheet at
growing sizes; XLS; HUGE (only when named in --only), single sheets of
millions of cells or about 1 GB of XML, each run alone (see huge_bench.py).

Every program works on a fresh copy of the same pristine workbooks; every run
of every program is timed, its memory measured, and its output checked cell by
cell against the expected replaced values (a fast wrong answer is marked, not
counted as a result). Nothing here passes or fails on a time.
"""

import argparse
import glob
import json
import os
import shutil
import statistics
import subprocess
import sys
import threading
import time
import zipfile
import zlib
from multiprocessing import Pool

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import huge_bench  # noqa: E402
import workload  # noqa: E402
import xls_bench  # noqa: E402

PYTHON = "/usr/bin/python3"
TIME = "/usr/bin/time"
JOBS = 8


# --- Memory of a process tree -----------------------------------------------

def _children(pid):
    out = []
    for task in glob.glob("/proc/%d/task/*/children" % pid):
        try:
            with open(task) as f:
                out.extend(int(x) for x in f.read().split())
        except OSError:
            pass
    return out


def _pss_kb(pid):
    try:
        with open("/proc/%d/smaps_rollup" % pid) as f:
            for line in f:
                if line.startswith("Pss:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


class TreeMemory(threading.Thread):
    """Samples the summed PSS of a process and all its descendants; PSS
    shares pages that forked workers have in common between them, so the sum
    is what the run holds, not a multiple of the shared libraries."""

    def __init__(self, pid, interval=0.02):
        super().__init__(daemon=True)
        self.pid = pid
        self.interval = interval
        self.peak_kb = 0
        self.stop = threading.Event()

    def run(self):
        while not self.stop.is_set():
            todo, total = [self.pid], 0
            while todo:
                p = todo.pop()
                total += _pss_kb(p)
                todo.extend(_children(p))
            self.peak_kb = max(self.peak_kb, total)
            self.stop.wait(self.interval)


# --- Running one program once ------------------------------------------------

def _parse_fields(line):
    fields = {}
    for part in line.split():
        if "=" in part:
            k, v = part.split("=", 1)
            fields[k] = v
    return fields


def _time_v(path):
    rss_kb, wall = 0, 0.0
    with open(path) as f:
        for line in f:
            line = line.strip()
            if line.startswith("Maximum resident set size"):
                rss_kb = int(line.rsplit(":", 1)[1])
            elif line.startswith("Elapsed (wall clock) time"):
                clock = line.split("):", 1)[1].strip().split(":")
                wall = sum(float(x) * 60 ** i for i, x in enumerate(reversed(clock)))
    return rss_kb, wall


def run_once(cmd, log_path, env=None, preexec=None):
    """Runs `cmd` under /usr/bin/time -v (preexec: called in the child before
    it starts, e.g. to set limits); its result line, the time -v peak RSS
    (largest single process) and the sampled peak of the whole tree."""
    time_path = log_path + ".time"
    with open(log_path, "ab") as log:
        log.write(("\n$ %s\n" % " ".join(cmd[:8])).encode())
        log.flush()
        proc = subprocess.Popen([TIME, "-v", "-o", time_path] + cmd, stdout=subprocess.PIPE,
                                stderr=log, env=env, preexec_fn=preexec)
        mem = TreeMemory(proc.pid)
        mem.start()
        out, _ = proc.communicate()
        mem.stop.set()
        mem.join()
        log.write(out)
    lines = [l for l in out.decode("utf-8", "replace").splitlines() if l.startswith("files=")]
    fields = _parse_fields(lines[-1]) if lines else {}
    rss_kb, wall = _time_v(time_path)
    return {
        "rc": proc.returncode,
        "files": int(fields.get("files", 0)),
        "ok": int(fields.get("ok", 0)),
        "seconds": float(fields.get("seconds", "nan")),
        "wall": wall,
        "rss_kb": rss_kb,
        "tree_kb": mem.peak_kb,
        "lo": " ".join("%s=%s" % (k, v) for k, v in fields.items() if k.startswith("lo_")),
    }


# --- Checking outputs ----------------------------------------------------------

def _check_one(job):
    path, want = job
    try:
        got = workload.grid_digest(path)
    except Exception as e:  # an unreadable package is a wrong answer
        return path, False, str(e)
    return path, tuple(got) == tuple(want), "" if tuple(got) == tuple(want) else "cells differ"


def check(pool, folder, rel_paths, expected, key):
    """The files whose cells are not what `expected[rel][key]` says, with why;
    key is "replaced" or "untouched"."""
    jobs = [(os.path.join(folder, os.path.basename(r)), expected[r][key]) for r in rel_paths]
    return [(p, why) for p, ok, why in pool.imap_unordered(_check_one, jobs) if not ok]


def _stored_ratios(path):
    """For each worksheet entry of a package: its stored size over what zlib's
    default level (6, as zipfile writes) makes of the same XML."""
    out = []
    with zipfile.ZipFile(path) as zf:
        for info in zf.infolist():
            if info.filename.startswith("xl/worksheets/") and info.filename.endswith(".xml"):
                z = zlib.compressobj(6, zlib.DEFLATED, -15)
                data = zf.read(info)
                out.append(info.compress_size / (len(z.compress(data)) + len(z.flush())))
    return out


def stored_ratios(pool, files):
    return [x for ratios in pool.imap_unordered(_stored_ratios, files) for x in ratios]


def openpyxl_sample(path, pairs):
    """Reads one output back with openpyxl, as a user's tool would."""
    import openpyxl
    book = openpyxl.load_workbook(path, read_only=True)
    texts = 0
    for ws in book.worksheets:
        for row in ws.iter_rows(max_row=50, values_only=True):
            for v in row:
                if isinstance(v, str):
                    texts += 1
                    if any(k in v for k, _ in pairs):
                        return False
    book.close()
    return texts > 0


# --- The benchmark -------------------------------------------------------------

def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", required=True, help="build folder with bench/run's programs")
    ap.add_argument("--work", required=True, help="scratch folder (made and filled)")
    ap.add_argument("--runs", type=int, default=5,
                    help="runs per program on SMALL and per size of the growth series")
    ap.add_argument("--large-runs", type=int, default=3, help="runs per program on LARGE")
    ap.add_argument("--openpyxl-large-runs", type=int, default=1,
                    help="runs of openpyxl on LARGE and on REWRITE (about 30 s each)")
    ap.add_argument("--small", type=int, default=200)
    ap.add_argument("--large", type=int, default=8)
    ap.add_argument("--large-rows", type=int, default=100000)
    ap.add_argument("--lin", default="25000,50000,100000")
    ap.add_argument("--callgrind", action="store_true",
                    help="also count the instructions of the growth series (slow)")
    ap.add_argument("--only", default="",
                    help="comma list of what to run: SMALL, LARGE, REWRITE, LIN (the growth "
                    "series), XLS, HUGE (HUGE runs only when named)")
    ap.add_argument("--xls", type=int, default=50,
                    help="workbooks of the .xls corpus (0: none)")
    ap.add_argument("--huge-cells", type=int, default=10000000,
                    help="cells of HUGE's empty-cell sheets (0: none)")
    ap.add_argument("--huge-xml-mb", type=int, default=900,
                    help="MB of XML of HUGE's realistic sheet, under the 1 GiB entry cap "
                    "(0: none)")
    ap.add_argument("--huge-mem-gib", type=int, default=8,
                    help="address space limit of each HUGE run, so that a program that "
                    "holds a sheet whole fails instead of exhausting the machine")
    args = ap.parse_args()

    engine = os.path.join(args.build, "bench", "run", "bench_run_engine")
    window = os.path.join(args.build, "bench", "run", "bench_run_window")
    for exe in (engine, window):
        if not os.access(exe, os.X_OK):
            sys.exit("missing %s: build the targets bench_run_engine and bench_run_window" % exe)

    work = os.path.abspath(args.work)
    pristine = os.path.join(work, "pristine")
    runs_dir = os.path.join(work, "run")
    log_path = os.path.join(work, "programs.log")
    os.makedirs(work, exist_ok=True)
    pairs_path = os.path.join(work, "pairs.tsv")
    workload.write_pairs(pairs_path, workload.PAIRS)
    rewrite_pairs_path = os.path.join(work, "pairs_rewrite.tsv")
    workload.write_pairs(rewrite_pairs_path, workload.REWRITE_PAIRS)
    only = {c.strip().upper() for c in args.only.split(",") if c.strip()}

    t0 = time.time()
    print("generating workbooks in %s ..." % pristine, flush=True)
    subprocess.run([PYTHON, os.path.join(HERE, "gen_corpus.py"), pristine,
                    "--small", str(args.small), "--large", str(args.large),
                    "--large-rows", str(args.large_rows), "--lin", args.lin], check=True)
    with open(os.path.join(pristine, "expected.json"), encoding="utf-8") as f:
        expected = json.load(f)
    print("  done in %.0f s" % (time.time() - t0), flush=True)

    pool = Pool(workload.cpu_count())

    # The check must see that an untouched file has not been replaced.
    sample = sorted(r for r in expected if r.startswith("small/"))[0]
    untouched_rejected = bool(check(pool, os.path.join(pristine, "small"), [sample], expected,
                                    "replaced"))
    print("check rejects an untouched workbook: %s" % ("yes" if untouched_rejected else "NO"))

    # Qt makes a runtime folder in /tmp when none is given: the window gets one in the scratch
    # folder, removed with it.
    runtime = os.path.join(work, "runtime")
    os.makedirs(runtime, mode=0o700, exist_ok=True)
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    env.setdefault("XDG_RUNTIME_DIR", runtime)
    # REWRITE: the LARGE books under pairs that empty cells, so that no sheet is copied.
    corpora = [("SMALL", "small", args.small, workload.PAIRS, pairs_path, "replaced"),
               ("LARGE", "large", args.large, workload.PAIRS, pairs_path, "replaced"),
               ("REWRITE", "large", args.large, workload.REWRITE_PAIRS, rewrite_pairs_path,
                "rewrite")]
    results = []  # (corpus, program, note, [runs], failures)
    stored = {}  # (corpus, program): stored size over zlib's default of every output sheet
    for name, sub, count, pairs, pairs_file, want in corpora:
        if only and name not in only:
            continue
        rel = sorted(r for r in expected if r.startswith(sub + "/"))
        big = name in ("LARGE", "REWRITE")
        runs = args.large_runs if big else args.runs
        if not rel or runs < 1:
            continue
        folder = os.path.join(runs_dir, name.lower())
        files = [os.path.join(folder, os.path.basename(r)) for r in rel]
        programs = [
            ("engine", [engine, "--pairs", pairs_file, "--jobs", str(JOBS), folder],
             runs, want),
            ("window", [window, "--pairs", pairs_file, folder], runs, want),
            ("openpyxl", [PYTHON, os.path.join(HERE, "openpyxl_replace.py"), "--jobs",
                          str(JOBS), "--pairs", pairs_file] + files,
             args.openpyxl_large_runs if big else runs, want),
            # The floor rewrites without replacing: its cells must stay as they were.
            ("floor", [PYTHON, os.path.join(HERE, "zip_floor.py"), "--jobs", str(JOBS)] + files,
             runs, "untouched"),
        ]
        record = {p[0]: [] for p in programs}
        wrong = {p[0]: [] for p in programs}
        print("%s: %d workbooks" % (name, count), flush=True)
        # Rounds interleave the programs, so that a slow spell of the machine
        # does not fall on one program only.
        for rnd in range(max(p[2] for p in programs)):
            for prog, cmd, nruns, key in programs:
                if rnd >= nruns:
                    continue
                shutil.rmtree(folder, ignore_errors=True)
                shutil.copytree(os.path.join(pristine, sub), folder)
                r = run_once(cmd, log_path, env)
                bad = check(pool, folder, rel, expected, key)
                if r["ok"] != len(files) or r["rc"] != 0:
                    bad.append(("(program)", "rc=%d ok=%d of %d" % (r["rc"], r["ok"], len(files))))
                record[prog].append(r)
                wrong[prog].extend(bad)
                print("  %-8s run %d: %7.3f s  %8.2f files/s  rss %6.0f MB  all %6.0f MB  %s"
                      % (prog, rnd + 1, r["seconds"], len(files) / r["seconds"],
                         r["rss_kb"] / 1024, r["tree_kb"] / 1024,
                         "checked" if not bad else "WRONG: %d files" % len(bad)), flush=True)
                if prog in ("engine", "window", "openpyxl") and rnd == 0 and not bad:
                    if not openpyxl_sample(files[0], pairs):
                        wrong[prog].append((files[0], "openpyxl sample"))
                if name == "REWRITE" and rnd == 0 and not bad:
                    stored[(name, prog)] = stored_ratios(pool, files)
        for prog, _, nruns, _ in programs:
            note = "%d run%s" % (nruns, "" if nruns == 1 else "s")
            results.append((name, prog, note, record[prog], wrong[prog], len(files)))

    lin_rows = []
    lin_rel = sorted(r for r in expected if r.startswith("lin/"))
    if lin_rel and (not only or "LIN" in only):
        print("growth series: one sheet, one job", flush=True)
        folder = os.path.join(runs_dir, "lin")
        for r in lin_rel:
            src = os.path.join(pristine, r)
            path = os.path.join(folder, os.path.basename(r))
            secs, bad = [], []
            for _ in range(args.runs):
                os.makedirs(folder, exist_ok=True)
                shutil.copyfile(src, path)
                res = run_once([engine, "--pairs", pairs_path, "--jobs", "1", path], log_path)
                secs.append(res["seconds"])
                bad += check(pool, folder, [r], expected, "replaced")
            instr = None
            if args.callgrind:
                shutil.copyfile(src, path)
                out = os.path.join(work, "callgrind." + os.path.basename(r) + ".out")
                subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out,
                                engine, "--pairs", pairs_path, "--jobs", "1", path],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                with open(out) as f:
                    for line in f:
                        if line.startswith("summary:") or line.startswith("totals:"):
                            instr = int(line.split()[1])
            rows = expected[r]["replaced"][1] // workload.COLUMNS
            lin_rows.append((rows, statistics.median(secs), instr, bad))
            print("  %7d rows: %.3f s %s" % (lin_rows[-1][0], lin_rows[-1][1],
                                            "checked" if not bad else "WRONG"), flush=True)
    pool.close()

    xls_rows = []
    if args.xls > 0 and (not only or "XLS" in only):
        xls_rows = xls_bench.run(engine, work, pairs_path, args.xls, args.runs, JOBS, env,
                                 run_once, log_path)

    huge_rows = []
    if "HUGE" in only:
        print("HUGE: single sheets, one job each", flush=True)
        huge_rows = huge_bench.run(engine, work, rewrite_pairs_path, args.huge_cells,
                                   args.huge_xml_mb, run_once, log_path, args.huge_mem_gib)

    print_tables(results, lin_rows, untouched_rejected, stored, args)
    if xls_rows:
        xls_bench.print_table(xls_rows)
    if huge_rows:
        huge_bench.print_table(huge_rows, args.huge_mem_gib)
        print("\ngoals of HUGE (information only):")
        for line in huge_bench.goals(huge_rows):
            print(line)
    print("\nprograms' output: %s; scratch folder: %s (%.0f s in all)"
          % (log_path, work, time.time() - t0))


def _median(runs, key):
    return statistics.median(r[key] for r in runs) if runs else float("nan")


def print_tables(results, lin_rows, untouched_rejected, stored, args):
    speed = {}
    for corpus, prog, _, runs, _, n in results:
        speed[(corpus, prog)] = n / _median(runs, "seconds") if runs else float("nan")

    if results:
        print()
        head = ("corpus", "program", "runs", "files/s", "s/run", "peak RSS", "all procs",
                "ours/openpyxl", "ours/floor", "output")
        rows = []
        for corpus, prog, note, runs, wrong, n in results:
            if not runs:  # a program asked to run no time
                continue
            ours = prog in ("engine", "window")
            fps = speed[(corpus, prog)]
            opx = speed.get((corpus, "openpyxl"), float("nan"))
            rows.append((
                corpus, prog, note, "%.2f" % fps, "%.2f" % _median(runs, "seconds"),
                "%.0f MB" % (max(r["rss_kb"] for r in runs) / 1024),
                "%.0f MB" % (max(r["tree_kb"] for r in runs) / 1024),
                "%.1fx" % (fps / opx) if ours and opx == opx else "",
                "%.2fx" % (fps / speed[(corpus, "floor")]) if ours else "",
                "ok" if not wrong else "WRONG (%d)" % len(wrong),
            ))
        workload.print_columns(head, rows)
        print("files/s: files / median time of the jobs (pool start to last report; the window: "
              "click to final status text). peak RSS: largest single process (time -v); "
              "all procs: summed PSS of the process tree, sampled every 20 ms. "
              "%d jobs at once everywhere. output: every file's cells compared with the expected "
              "replaced values (floor: with the untouched values)%s."
              % (JOBS, "" if untouched_rejected
                 else " -- THE CHECK DID NOT REJECT AN UNTOUCHED FILE"))
        large = any(c in ("LARGE", "REWRITE") for c, *_ in results)
        if large and args.openpyxl_large_runs < args.large_runs:
            print("openpyxl on LARGE and REWRITE ran %d time(s) only (about 30 s per file)."
                  % args.openpyxl_large_runs)

    if stored:
        print()
        print("stored size of the rewritten sheets (REWRITE, first run): each sheet's compressed "
              "size over what zlib's default level (6) makes of the same XML")
        for (corpus, prog), ratios in sorted(stored.items()):
            print("  %-8s %d sheets: median %.3f, largest %.3f"
                  % (prog, len(ratios), statistics.median(ratios), max(ratios)))

    if lin_rows:
        print()
        print("growth: one sheet of 10 columns, engine, one job, median of %d" % args.runs)
        print("%8s  %9s  %10s  %14s  %s" % ("rows", "s", "x previous", "instructions",
                                             "x previous"))
        prev = None
        for rows_, secs, instr, bad in lin_rows:
            t_ratio = "%.2f" % (secs / prev[1]) if prev else ""
            i_ratio = "%.2f" % (instr / prev[2]) if prev and instr and prev[2] else ""
            print("%8d  %9.3f  %10s  %14s  %s%s" % (rows_, secs, t_ratio,
                                                    "%d" % instr if instr else "-", i_ratio,
                                                    "" if not bad else "  WRONG OUTPUT"))
            prev = (rows_, secs, instr)

    # The goals of the run, told (never enforced: the exit status ignores them).
    print()
    print("goals (information only):")
    results_by = {(c, p): (runs, n) for c, p, _, runs, _, n in results}
    for corpus, goal in (("SMALL", 1.3), ("LARGE", 2.5), ("REWRITE", 2.0)):
        if (corpus, "engine") in speed and (corpus, "floor") in speed:
            r = speed[(corpus, "engine")] / speed[(corpus, "floor")]
            print("  %s: engine at least %.1fx the floor's files/s: %.2fx -> %s"
                  % (corpus, goal, r, "reached" if r >= goal else "not reached"))
    for corpus, limit_mb in (("LARGE", 450), ("REWRITE", 300)):
        if (corpus, "engine") not in results_by:
            continue
        runs, _ = results_by[(corpus, "engine")]
        peak = max(max(r["rss_kb"], r["tree_kb"]) for r in runs) / 1024
        floor_note = ""
        if (corpus, "floor") in results_by:
            floor_runs, _ = results_by[(corpus, "floor")]
            floor_note = " (the floor's: %.0f MB)" % (
                max(r["tree_kb"] for r in floor_runs) / 1024)
        print("  %s: peak memory of the whole run at most %d MB: %.0f MB%s -> %s"
              % (corpus, limit_mb, peak, floor_note,
                 "reached" if peak <= limit_mb else "not reached"))
    for prog in ("engine", "window"):
        ratios = stored.get(("REWRITE", prog))
        if ratios:
            print("  REWRITE (%s): rewritten sheets stored at most 1.15x zlib's default level: "
                  "largest %.3f -> %s" % (prog, max(ratios),
                                          "reached" if max(ratios) <= 1.15 else "not reached"))
    if len(lin_rows) > 1:
        worst = max(b[1] / a[1] / (b[0] / a[0]) for a, b in zip(lin_rows, lin_rows[1:]))
        # Single timings vary by a few percent from run to run; a step within
        # 5% of proportional counts as linear.
        print("  growth: time at most proportional to the rows (5%% timing noise allowed): "
              "worst step %.2fx of proportional -> %s"
              % (worst, "reached" if worst <= 1.05 else "not reached"))
    for corpus in ("SMALL", "LARGE", "REWRITE"):
        if (corpus, "engine") in speed and (corpus, "window") in speed:
            r = speed[(corpus, "engine")] / speed[(corpus, "window")]
            print("  %s: window run within 10%% of the engine run: window/engine time %.3f -> %s"
                  % (corpus, r, "reached" if r <= 1.10 else "not reached"))


if __name__ == "__main__":
    main()
