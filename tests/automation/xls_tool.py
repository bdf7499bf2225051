#!/usr/bin/python3
"""Legacy .xls files for tests: made by LibreOffice, read back by xlrd.

  xls_tool.py convert WORK OUTDIR FILE...     workbooks -> FILE.xls in OUTDIR, by
                                              soffice --convert-to with its profile in WORK
  xls_tool.py dump PATH                       .xls -> JSON on stdout
  xls_tool.py garble PATH                     gives the workbook stream an unknown BIFF
                                              version, leaving the container whole
  xls_tool.py kinds WORK OUTDIR               workbooks with sheets of other kinds (see
                                              make_kinds); exit status 3 when Perl's
                                              Spreadsheet::WriteExcel is missing

Dump: {"sheets": [{"name", "hidden": bool, "cells": {ref: value}, "types": {ref: kind},
"serials": {ref: serial number of a date}}]} with dates as "YYYY-MM-DD" (a time of day
alone as "0000-00-00"), numbers as floats, kinds "text", "number", "date", "bool", "error".
"""
import json
import os
import re
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


WRITE_EXCEL = r"""
use strict;
use Spreadsheet::WriteExcel;
my ($path, $kind) = @ARGV;
my $wb = Spreadsheet::WriteExcel->new($path) or die "cannot write $path";
my $data = $wb->add_worksheet('Data');
$data->write('A1', 'apple');
$data->write('A2', 'pear');
$data->write('B1', 3);
$data->write('B2', 5);
if ($kind ne 'chart') {
    my $other = $wb->add_worksheet($kind eq 'macro' ? 'Macro' : 'Dialog');
    $other->write('A1', 'apple macro') if $kind eq 'macro';
}
my $last = $wb->add_worksheet('Last');
$last->write('A1', 'apple last');
if ($kind eq 'chart') {
    my $chart = $wb->add_chart(type => 'column', name => 'Chart1');
    $chart->add_series(values => '=Data!$B$1:$B$2');
}
$wb->close();
"""


def _bofs(data, kind):
    """File offsets of the BOF records of substreams of this kind (0x10 worksheet), in order;
    the workbook streams made here are small and lie in one run of sectors."""
    return [m.start() for m in re.finditer(rb"\x09\x08[\x08\x10]\x00\x00[\x05\x06]"
                                           + bytes([kind, 0]), data)]


def _make_sheet(data, name, biff8, sheet_type, index):
    """Turns the worksheet `name`, the index-th worksheet, into a sheet of another kind:
    1 an Excel 4 macro sheet (BOUNDSHEET and BOF), 'dialog' a dialog sheet (WSBOOL)."""
    encoded = bytes([len(name)]) + (b"\x00" if biff8 else b"") + name.encode("latin-1")
    at = data.find(encoded)
    record = at - 10
    if at < 0 or data[record:record + 2] != b"\x85\x00":
        sys.exit("no sheet record of %s" % name)
    bof = _bofs(data, 0x10)[index]
    if sheet_type == "dialog":
        pos = bof + 4 + data[bof + 2]
        while data[pos:pos + 2] != b"\x81\x00":
            if data[pos:pos + 2] == b"\x0a\x00":
                sys.exit("no WSBOOL record in sheet %s" % name)
            pos += 4 + int.from_bytes(data[pos + 2:pos + 4], "little")
        data[pos + 4] |= 0x10
    else:
        data[record + 9] = sheet_type
        data[bof + 6] = 0x40


def _record(kind, data):
    return kind.to_bytes(2, "little") + len(data).to_bytes(2, "little") + data


def biff5_book(sheets):
    """An Excel 5/95 workbook (code page 1252) of sheets (name, BOUNDSHEET type, text of A1),
    in a compound file of its own making: the few records LibreOffice and xlrd need."""
    import struct
    bof = lambda kind: _record(0x0809, struct.pack("<HHHH", 0x0500, kind, 0x0DBB, 0x07CC))
    eof = _record(0x000A, b"")
    subs = []
    for name, kind, text in sheets:
        label = _record(0x0204, struct.pack("<HHHH", 0, 0, 15, len(text)) + text.encode("cp1252"))
        subs.append(bof(0x40 if kind == 1 else 0x10) + label + eof)
    head = bof(0x0005) + _record(0x0042, struct.pack("<H", 1252)) + \
        _record(0x003D, struct.pack("<HHHHHHHHH", 0, 0, 9000, 6000, 0x38, 0, 0, 1, 600))
    bound_size = sum(4 + 7 + len(n.encode("cp1252")) for n, _, _ in sheets)
    pos = len(head) + bound_size + len(eof)
    bound = b""
    for (name, kind, _), sub in zip(sheets, subs):
        encoded = name.encode("cp1252")
        bound += _record(0x0085, struct.pack("<IBBB", pos, 0, kind, len(encoded)) + encoded)
        pos += len(sub)
    stream = head + bound + eof + b"".join(subs)
    size = len(stream)
    stream += b"\0" * (max(4096, -(-size // 512) * 512) - size)  # no mini stream

    # Header, the allocation table (sector 0), the directory (sector 1), the stream.
    count = len(stream) // 512
    fat = [0xFFFFFFFD, 0xFFFFFFFE] + [2 + i + 1 for i in range(count - 1)] + [0xFFFFFFFE]
    fat += [0xFFFFFFFF] * (128 - len(fat))
    header = (b"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1" + b"\0" * 16 +
              struct.pack("<HHHHH", 0x3E, 3, 0xFFFE, 9, 6) + b"\0" * 6 +
              struct.pack("<IIIIIIIII", 0, 1, 1, 0, 4096, 0xFFFFFFFE, 0, 0xFFFFFFFE, 0) +
              struct.pack("<I", 0) + b"\xff" * 4 * 108)

    def entry(name, kind, child, start, length):
        n = (name + "\0").encode("utf-16-le")
        return (n + b"\0" * (64 - len(n)) + struct.pack("<HBB", len(n), kind, 1) +
                struct.pack("<III", 0xFFFFFFFF, 0xFFFFFFFF, child) + b"\0" * 36 +
                struct.pack("<III", start, length, 0))
    empty = b"\0" * 64 + struct.pack("<HBB", 0, 0, 0) + b"\xff" * 12 + b"\0" * 48
    directory = (entry("Root Entry", 5, 1, 0xFFFFFFFE, 0) + entry("Book", 2, 0xFFFFFFFF, 2, len(stream))
                 + empty + empty)
    return header + struct.pack("<128I", *fat) + directory + stream


def make_kinds(work, outdir):
    """chart.xls (Data, Last, chart sheet Chart1), macro.xls (Data, macro sheet Macro, Last)
    and dialog.xls (Data, dialog sheet Dialog, Last), written by Spreadsheet::WriteExcel
    (BIFF8); biff5.xls: "Prüfung €", macro sheet Macro, Last, an Excel 95 workbook built here."""
    import subprocess
    if subprocess.run(["perl", "-MSpreadsheet::WriteExcel", "-e", "1"],
                      stderr=subprocess.DEVNULL).returncode != 0:
        sys.exit(3)
    for kind in ("chart", "macro", "dialog"):
        path = os.path.join(outdir, kind + ".xls")
        subprocess.run(["perl", "-e", WRITE_EXCEL, path, kind], check=True)
        if kind != "chart":
            data = bytearray(open(path, "rb").read())
            _make_sheet(data, kind.capitalize(), True, 1 if kind == "macro" else "dialog", 1)
            open(path, "wb").write(bytes(data))

    with open(os.path.join(outdir, "biff5.xls"), "wb") as f:
        f.write(biff5_book([("Pr\u00fcfung \u20ac", 0, "apple"), ("Macro", 1, "apple macro"),
                            ("Last", 0, "apple last")]))


def main():
    cmd = sys.argv[1]
    if cmd == "convert":
        convert(sys.argv[2], sys.argv[3], sys.argv[4:])
    elif cmd == "dump":
        dump(sys.argv[2])
    elif cmd == "garble":
        garble(sys.argv[2])
    elif cmd == "kinds":
        make_kinds(sys.argv[2], sys.argv[3])
    else:
        sys.exit("unknown command " + cmd)


if __name__ == "__main__":
    main()
