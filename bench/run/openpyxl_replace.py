#!/usr/bin/python3
"""The alternative a user would script: openpyxl opens every workbook,
replaces the texts (the five, or those of --pairs) in every cell of every
sheet and saves it in place, on a pool of worker processes. A text replaced
to nothing leaves the cell with no value, as the application does.

Prints one line: files=N ok=N seconds=S (the jobs only, the pool included).
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import workload  # noqa: E402


def replace_file(path, pairs):
    import openpyxl

    try:
        book = openpyxl.load_workbook(path)
        for ws in book.worksheets:
            for row in ws.iter_rows():
                for cell in row:
                    if isinstance(cell.value, str):
                        text = workload.replaced(cell.value, pairs)
                        if text != cell.value:
                            cell.value = text or None
        book.save(path)
        return True
    except Exception as e:  # a failed file is counted, not fatal
        print("%s: %s" % (path, e), file=sys.stderr)
        return False


if __name__ == "__main__":
    sys.exit(workload.pool_main(replace_file))
