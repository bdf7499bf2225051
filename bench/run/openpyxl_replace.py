#!/usr/bin/python3
"""The alternative a user would script: openpyxl opens every workbook,
replaces the five texts in every cell of every sheet and saves it in place,
on a pool of worker processes.

Prints one line: files=N ok=N seconds=S (the jobs only, the pool included).
"""

import argparse
import multiprocessing
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import workload  # noqa: E402


def replace_file(path):
    import openpyxl

    try:
        book = openpyxl.load_workbook(path)
        for ws in book.worksheets:
            for row in ws.iter_rows():
                for cell in row:
                    if isinstance(cell.value, str):
                        text = workload.replaced(cell.value)
                        if text != cell.value:
                            cell.value = text
        book.save(path)
        return True
    except Exception as e:  # a failed file is counted, not fatal
        print("%s: %s" % (path, e), file=sys.stderr)
        return False


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--jobs", type=int, default=8)
    ap.add_argument("files", nargs="+")
    args = ap.parse_args()
    start = time.perf_counter()
    with multiprocessing.Pool(args.jobs) as pool:
        ok = sum(pool.imap_unordered(replace_file, args.files, chunksize=1))
    seconds = time.perf_counter() - start
    print("files=%d ok=%d seconds=%.6f" % (len(args.files), ok, seconds))
    return 0 if ok == len(args.files) else 1


if __name__ == "__main__":
    sys.exit(main())
