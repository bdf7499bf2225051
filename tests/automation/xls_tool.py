#!/usr/bin/python3
"""Legacy .xls files for tests: made by LibreOffice, read back by xlrd.

  xls_tool.py convert WORK OUTDIR FILE...     workbooks -> FILE.xls in OUTDIR, by
                                              soffice --convert-to with its profile in WORK
  xls_tool.py dump PATH                       .xls -> JSON on stdout
  xls_tool.py garble PATH                     gives the workbook stream an unknown BIFF
                                              version, leaving the container whole

Dump: {"sheets": [{"name", "hidden": bool, "cells": {ref: value}, "types": {ref: kind},
"serials": {ref: serial number of a date}}]} with dates as "YYYY-MM-DD" (a time of day
alone as "0000-00-00"), numbers as floats, kinds "text", "number", "date", "bool", "error".
"""
import json
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import soffice  # noqa: E402


def convert(work, outdir, files):
    err = soffice.convert(work, "xls", outdir, files)
    for f in files:
        out = os.path.join(outdir, os.path.splitext(os.path.basename(f))[0] + ".xls")
        if not os.path.exists(out):
            sys.exit("soffice did not convert %s: %s" % (f, err))


def dump(path):
    import xlrd
    from xlrd.xldate import xldate_as_tuple
    book = xlrd.open_workbook(path, formatting_info=True)
    sheets = []
    for sh in book.sheets():
        cells, types, serials = {}, {}, {}
        for r in range(sh.nrows):
            for c in range(sh.ncols):
                cell = sh.cell(r, c)
                if cell.ctype in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK):
                    continue
                ref = xlrd.formula.cellname(r, c)
                if cell.ctype == xlrd.XL_CELL_DATE:
                    y, m, d, *_ = xldate_as_tuple(cell.value, book.datemode)
                    cells[ref], types[ref] = "%04d-%02d-%02d" % (y, m, d), "date"
                    serials[ref] = cell.value
                elif cell.ctype == xlrd.XL_CELL_NUMBER:
                    cells[ref], types[ref] = cell.value, "number"
                elif cell.ctype == xlrd.XL_CELL_BOOLEAN:
                    cells[ref], types[ref] = bool(cell.value), "bool"
                elif cell.ctype == xlrd.XL_CELL_ERROR:
                    cells[ref], types[ref] = xlrd.error_text_from_code.get(cell.value), "error"
                else:
                    cells[ref], types[ref] = cell.value, "text"
        sheets.append({"name": sh.name, "hidden": sh.visibility != 0,
                       "cells": cells, "types": types, "serials": serials})
    json.dump({"sheets": sheets}, sys.stdout, ensure_ascii=False)


def garble(path):
    data = bytearray(open(path, "rb").read())
    bof = data.find(bytes.fromhex("0908100000060500"))
    if bof < 0:
        sys.exit("no workbook stream in " + path)
    data[bof + 4:bof + 6] = b"\xff\xff"  # a BIFF version nobody knows
    open(path, "wb").write(bytes(data))


def main():
    cmd = sys.argv[1]
    if cmd == "convert":
        convert(sys.argv[2], sys.argv[3], sys.argv[4:])
    elif cmd == "dump":
        dump(sys.argv[2])
    elif cmd == "garble":
        garble(sys.argv[2])
    else:
        sys.exit("unknown command " + cmd)


if __name__ == "__main__":
    main()
