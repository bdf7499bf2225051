#!/usr/bin/python3
"""The floor of any program that rewrites a workbook: every zip entry read
(inflated) and written back deflated into a new package that replaces the
file, on a pool of worker processes.

Prints one line: files=N ok=N seconds=S (the jobs only, the pool included).
"""

import argparse
import multiprocessing
import os
import sys
import time
import zipfile


def rewrite(path):
    tmp = path + ".tmp"
    try:
        with zipfile.ZipFile(path) as src, \
                zipfile.ZipFile(tmp, "w", zipfile.ZIP_DEFLATED) as dst:
            for info in src.infolist():
                dst.writestr(info.filename, src.read(info), zipfile.ZIP_DEFLATED)
        os.replace(tmp, path)
        return True
    except Exception as e:
        print("%s: %s" % (path, e), file=sys.stderr)
        return False


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--jobs", type=int, default=8)
    ap.add_argument("files", nargs="+")
    args = ap.parse_args()
    start = time.perf_counter()
    with multiprocessing.Pool(args.jobs) as pool:
        ok = sum(pool.imap_unordered(rewrite, args.files, chunksize=1))
    seconds = time.perf_counter() - start
    print("files=%d ok=%d seconds=%.6f" % (len(args.files), ok, seconds))
    return 0 if ok == len(args.files) else 1


if __name__ == "__main__":
    sys.exit(main())
