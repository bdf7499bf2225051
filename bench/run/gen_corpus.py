#!/usr/bin/python3
"""Writes the benchmark's pristine workbooks into a folder, with the digest
every file must have once the run has replaced it.

  OUT/small/book_NNN.xlsx     many small books of 3 sheets
  OUT/large/large_N.xlsx      a few large single-sheet books
  OUT/lin/rows_NNNNNN.xlsx    one sheet at growing row counts
  OUT/expected.json           {relative path: {"replaced": [digest, cells],
                                               "untouched": [digest, cells],
                                               "rewrite": [digest, cells]}}
("rewrite": the large books under the REWRITE pairs, which empty cells.)
"""

import argparse
import json
import multiprocessing
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import workload  # noqa: E402


def _make(job):
    path, sheets, rows, seed = job
    workload.write_book(path, sheets, rows, seed)
    return path


def _expect(path):
    want = {"replaced": workload.expected_digest(path),
            "untouched": workload.grid_digest(path)}
    if os.path.basename(os.path.dirname(path)) == "large":
        want["rewrite"] = workload.expected_digest(path, workload.rewritten)
    return path, want


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("out")
    ap.add_argument("--small", type=int, default=200, help="number of small books")
    ap.add_argument("--small-sheets", type=int, default=3)
    ap.add_argument("--small-rows", type=int, default=200)
    ap.add_argument("--large", type=int, default=8, help="number of large books")
    ap.add_argument("--large-rows", type=int, default=100000)
    ap.add_argument("--lin", default="25000,50000,100000",
                    help="row counts of the single-sheet growth series")
    args = ap.parse_args()

    jobs = []
    for sub in ("small", "large", "lin"):
        os.makedirs(os.path.join(args.out, sub), exist_ok=True)
    # The largest first, so that the pool ends evenly.
    for i in range(args.large):
        jobs.append((os.path.join(args.out, "large", "large_%d.xlsx" % (i + 1)), 1,
                     args.large_rows, 1000 + i))
    for rows in [int(r) for r in args.lin.split(",") if r]:
        jobs.append((os.path.join(args.out, "lin", "rows_%06d.xlsx" % rows), 1, rows, 7))
    for i in range(args.small):
        jobs.append((os.path.join(args.out, "small", "book_%03d.xlsx" % (i + 1)),
                     args.small_sheets, args.small_rows, i))

    with multiprocessing.Pool(workload.cpu_count()) as pool:
        paths = pool.map(_make, jobs, chunksize=1)
        expected = dict(pool.map(_expect, paths, chunksize=1))
    rel = {os.path.relpath(p, args.out): v for p, v in expected.items()}
    with open(os.path.join(args.out, "expected.json"), "w", encoding="utf-8") as f:
        json.dump(rel, f, indent=0, sort_keys=True)


if __name__ == "__main__":
    main()
