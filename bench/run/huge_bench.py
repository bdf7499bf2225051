"""The HUGE section: single sheets far larger than the other corpora, each run
by the engine alone (one job), with its time, its memory beyond what the
program holds for a tiny book, and its output checked row by row with a
streaming reader.

  cells: one sheet of N styled cells with no value (<c r="B7" s="1"/>), rows
         of 1000 columns, every 1000th cell a shared string: "已取消" (which the
         REWRITE pairs empty), "北京仓库" (changed) or "无关" (untouched);
  xml:   one sheet of realistic rows (20 columns: numbers, shared strings,
         inline strings), repeating a few dozen rows, of about M MB of XML.

Each is also made at half its size, so that growth can be judged. The
workbooks are written by zipfile, the sheet streamed in pieces: neither the
XML nor the check ever holds a whole sheet.
"""

import os
import random
import resource
import shutil
import xml.etree.ElementTree as ET
import zipfile

import workload

_MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
_REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
_PKG = "http://schemas.openxmlformats.org/package/2006/relationships"
_CT = "application/vnd.openxmlformats-officedocument.spreadsheetml."
_HEAD = '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'

_PARTS = {
    "[Content_Types].xml": _HEAD + (
        '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
        '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.'
        'relationships+xml"/><Default Extension="xml" ContentType="application/xml"/>'
        '<Override PartName="/xl/workbook.xml" ContentType="%ssheet.main+xml"/>'
        '<Override PartName="/xl/worksheets/sheet1.xml" ContentType="%sworksheet+xml"/>'
        '<Override PartName="/xl/styles.xml" ContentType="%sstyles+xml"/>'
        '<Override PartName="/xl/sharedStrings.xml" ContentType="%ssharedStrings+xml"/>'
        '</Types>') % (_CT, _CT, _CT, _CT),
    "_rels/.rels": _HEAD + (
        '<Relationships xmlns="%s"><Relationship Id="rId1" Type="%s/officeDocument" '
        'Target="xl/workbook.xml"/></Relationships>') % (_PKG, _REL),
    "xl/workbook.xml": _HEAD + (
        '<workbook xmlns="%s" xmlns:r="%s"><sheets>'
        '<sheet name="数据1" sheetId="1" r:id="rId1"/></sheets></workbook>') % (_MAIN, _REL),
    "xl/_rels/workbook.xml.rels": _HEAD + (
        '<Relationships xmlns="%s">'
        '<Relationship Id="rId1" Type="%s/worksheet" Target="worksheets/sheet1.xml"/>'
        '<Relationship Id="rId2" Type="%s/styles" Target="styles.xml"/>'
        '<Relationship Id="rId3" Type="%s/sharedStrings" Target="sharedStrings.xml"/>'
        '</Relationships>') % (_PKG, _REL, _REL, _REL),
    # Style 1 fills the cell: a cell emptied by a replacement keeps it.
    "xl/styles.xml": _HEAD + (
        '<styleSheet xmlns="%s"><fonts count="1"><font><sz val="11"/><name val="Calibri"/>'
        '</font></fonts><fills count="3"><fill><patternFill patternType="none"/></fill>'
        '<fill><patternFill patternType="gray125"/></fill><fill><patternFill '
        'patternType="solid"><fgColor rgb="FFFFFF00"/></patternFill></fill></fills>'
        '<borders count="1"><border><left/><right/><top/><bottom/><diagonal/></border>'
        '</borders><cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" '
        'borderId="0"/></cellStyleXfs><cellXfs count="2"><xf numFmtId="0" fontId="0" '
        'fillId="0" borderId="0" xfId="0"/><xf numFmtId="0" fontId="0" fillId="2" '
        'borderId="0" xfId="0" applyFill="1"/></cellXfs></styleSheet>') % _MAIN,
}


def _col(i):
    """The letters of the 0-based column i."""
    s = ""
    i += 1
    while i:
        i, r = divmod(i - 1, 26)
        s = chr(65 + r) + s
    return s


def _index(letters):
    """The 0-based column of `letters`; -1 for None (before column A)."""
    i = 0
    for ch in letters or "":
        i = i * 26 + ord(ch) - 64
    return i - 1


def _esc(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


class Kind:
    """A sheet made of rows that repeat a few templates, and what every row
    must hold once replaced (valued cells only, as (column, kind, value))."""

    strings = []  # the shared strings
    level = 6  # the zlib level the sheet is stored at

    def rows(self):
        raise NotImplementedError

    def row_xml(self, r):
        raise NotImplementedError

    def expect(self, r):
        raise NotImplementedError

    def last_cell(self):
        raise NotImplementedError


class EmptyCells(Kind):
    """About `cells` cells with no value, in rows of `width` columns; every
    1000th cell a shared string. `bare`: the shortest cells there are, <c/>
    without a reference (placed by their order), stored at zlib's level 1 as
    such files come (about 200 times smaller); else styled cells with their
    reference, <c r="B7" s="1"/>."""

    strings = ["已取消", "北京仓库", "无关"]

    def __init__(self, cells, bare):
        self.width = 16000 if bare else 1000
        self.level = 1 if bare else 6
        self.nrows = max(1, cells // self.width)
        self.cols = [_col(i) for i in range(self.width)]
        after = [workload.rewritten(s) for s in self.strings]
        # Variant v of a row (v = row % 7) has its string cells at 1000 m + 100 v + 3,
        # the m-th holding string (v + m) % 3.
        self.templates, self.expected = [], []
        for v in range(7):
            cells_xml = ["<c/>" if bare else '<c r="%s{0}" s="1"/>' % c for c in self.cols]
            want = []
            for m, j in enumerate(range(100 * v + 3, self.width, 1000)):
                k = (v + m) % 3
                cells_xml[j] = ('<c t="s"><v>%d</v></c>' % k if bare
                                else '<c r="%s{0}" s="1" t="s"><v>%d</v></c>' % (self.cols[j], k))
                if after[k] is not None:
                    want.append((self.cols[j], "s", after[k]))
            self.templates.append('<row r="{0}">' + "".join(cells_xml) + "</row>")
            self.expected.append(tuple(want))

    def rows(self):
        return self.nrows

    def cells(self):
        return self.nrows * self.width

    def row_xml(self, r):
        return self.templates[r % 7].format(r)

    def expect(self, r):
        return self.expected[r % 7]

    def last_cell(self):
        return "%s%d" % (self.cols[-1], self.nrows)


class RealisticRows(Kind):
    """Rows of 20 columns (two of the benchmark's 10-column records side by
    side), numbers, shared strings and, for the longer texts, inline strings;
    `pool` distinct rows repeated, the row number in columns A and K."""

    level = 1
    SHARED = (1, 2, 4, 6, 8)  # the record's columns given as shared strings

    def __init__(self, xml_bytes, pool=16, seed=22):
        rng = random.Random(seed)
        index = {}
        self.strings = []
        self.templates, self.expected = [], []
        for p in range(pool):
            parts, want = ['<row r="{0}" spans="1:20">'], []
            for half in range(2):
                record = workload._row(rng, 0)
                for i, value in enumerate(record):
                    col = _col(10 * half + i)
                    if i == 0:  # the row number
                        parts.append('<c r="%s{0}"><v>{0}</v></c>' % col)
                        want.append((col, "n", None))
                    elif isinstance(value, str) and i in self.SHARED:
                        k = index.setdefault(value, len(index))
                        if k == len(self.strings):
                            self.strings.append(value)
                        # The status column is styled: its emptied cells stay.
                        style = ' s="1"' if i == 8 else ""
                        parts.append('<c r="%s{0}"%s t="s"><v>%d</v></c>' % (col, style, k))
                        after = workload.rewritten(value)
                        if after is not None:
                            want.append((col, "s", after))
                    elif isinstance(value, str):
                        parts.append('<c r="%s{0}" t="inlineStr"><is><t>%s</t></is></c>'
                                     % (col, _esc(value).replace("{", "{{").replace("}", "}}")))
                        after = workload.rewritten(value)
                        if after is not None:
                            want.append((col, "s", after))
                    else:
                        parts.append('<c r="%s{0}"><v>%r</v></c>' % (col, value))
                        want.append((col, "n", float(value)))
            parts.append("</row>")
            self.templates.append("".join(parts))
            self.expected.append(want)
        mean = sum(len(t.encode("utf-8")) + 20 for t in self.templates) / pool
        self.nrows = min(1048576, max(1, int(xml_bytes / mean)))

    def rows(self):
        return self.nrows

    def cells(self):
        return self.nrows * 20

    def row_xml(self, r):
        return self.templates[r % len(self.templates)].format(r)

    def expect(self, r):
        return tuple((c, k, float(r) if v is None else v)
                     for c, k, v in self.expected[r % len(self.expected)])

    def last_cell(self):
        return "T%d" % self.nrows


def write(path, kind):
    """Writes the workbook of `kind`, its sheet streamed in pieces of about
    4 MB; returns the sheet's XML size and its stored size."""
    sst = "".join("<si><t>%s</t></si>" % _esc(s) for s in kind.strings)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=kind.level) as zf:
        for name, text in _PARTS.items():
            zf.writestr(name, text)
        zf.writestr("xl/sharedStrings.xml", _HEAD + '<sst xmlns="%s" count="%d" uniqueCount="%d">'
                    '%s</sst>' % (_MAIN, len(kind.strings), len(kind.strings), sst))
        with zf.open("xl/worksheets/sheet1.xml", "w") as f:
            f.write((_HEAD + '<worksheet xmlns="%s" xmlns:r="%s"><dimension ref="A1:%s"/>'
                     '<sheetData>' % (_MAIN, _REL, kind.last_cell())).encode())
            piece, size = [], 0
            for r in range(1, kind.rows() + 1):
                row = kind.row_xml(r)
                piece.append(row)
                size += len(row)
                if size > 4 << 20:
                    f.write("".join(piece).encode("utf-8"))
                    piece, size = [], 0
            f.write(("".join(piece) + "</sheetData></worksheet>").encode("utf-8"))
        info = zf.getinfo("xl/worksheets/sheet1.xml")
    return info.file_size, info.compress_size


def check(path, kind):
    """Reads the run's output back, streaming: every row's valued cells must
    be what `kind` expects and every cell (emptied ones too: they keep their
    style) still there. Returns a reason, "" when all is right."""
    try:
        with zipfile.ZipFile(path) as zf:
            shared, sheets = workload.book_parts(zf)
            if len(sheets) != 1:
                return "%d sheets" % len(sheets)
            rows = cells = 0
            got = []
            # A cell without a reference follows the one before it: `since` cells after
            # the last one with a reference (`last`), or the row's start.
            last, since = None, 0
            with zf.open(sheets[0][1]) as f:
                for elem in workload.sheet_elements(f):
                    if elem.tag == workload.CELL:
                        cells += 1
                        ref = elem.get("r")
                        if ref is None:
                            since += 1
                        else:
                            last, since = ref.rstrip("0123456789"), 0
                        # A cell without children (<c/>) holds no value.
                        value = workload.cell_value(elem, shared) if len(elem) else None
                        if value is not None:
                            col = last if not since else _col(_index(last) + since)
                            got.append((col,) + value)
                        continue
                    rows += 1
                    r = int(elem.get("r"))
                    if tuple(got) != kind.expect(r):
                        return "row %d differs: %r" % (r, got[:4])
                    got, last, since = [], None, 0
    except (OSError, zipfile.BadZipFile, ET.ParseError, KeyError, ValueError) as e:
        return "unreadable: %s" % e
    if rows != kind.rows() or cells != kind.cells():
        return "%d rows, %d cells (want %d, %d)" % (rows, cells, kind.rows(), kind.cells())
    return ""


def _limit(gib):
    def apply():
        resource.setrlimit(resource.RLIMIT_AS, (gib << 30, gib << 30))
    return apply


def _reason(log_path, since, path):
    """The last line the program wrote to the log after offset `since`, from
    the file's name on."""
    with open(log_path, "rb") as f:
        f.seek(since)
        lines = [l.strip() for l in f.read().decode("utf-8", "replace").splitlines()]
    lines = [l for l in lines if l and not l.startswith(("$", "files="))]
    for l in reversed(lines):
        if "refused" in l or "fail" in l.lower():
            return l[l.find(path) + len(path) + 2:] if path in l else l
    return lines[-1] if lines else ""


def run(engine, work, pairs_path, cells, xml_mb, run_once, log_path, mem_gib):
    """Makes the HUGE workbooks, runs the engine on each alone and checks its
    output; returns the rows of the table."""
    folder = os.path.join(work, "huge")
    pristine = os.path.join(folder, "pristine")
    runs = os.path.join(folder, "run")
    os.makedirs(pristine, exist_ok=True)
    books = [("tiny", EmptyCells(10000, False))]
    for bare, name in ((True, "bare"), (False, "refs")):
        if cells > 0:
            books += [(name + "/2", EmptyCells(cells // 2, bare)),
                      (name, EmptyCells(cells, bare))]
    if xml_mb > 0:
        books += [("xml/2", RealisticRows(xml_mb * 500000)), ("xml", RealisticRows(xml_mb * 1000000))]
    rows = []
    for label, kind in books:
        src = os.path.join(pristine, label.replace("/2", "_half") + ".xlsx")
        print("  %-8s writing ..." % label, end="", flush=True)
        xml_size, stored = write(src, kind)
        print(" %.0f MB of XML, %.1f MB stored; running ..." % (xml_size / 1e6, stored / 1e6),
              end="", flush=True)
        shutil.rmtree(runs, ignore_errors=True)
        os.makedirs(runs)
        path = os.path.join(runs, os.path.basename(src))
        shutil.copyfile(src, path)
        since = os.path.getsize(log_path) if os.path.exists(log_path) else 0
        res = run_once([engine, "--pairs", pairs_path, "--jobs", "1", path], log_path,
                       preexec=_limit(mem_gib))
        if res["rc"] == 0 and res["ok"] == 1:
            why = check(path, kind)
            outcome = "ok" if not why else "WRONG: " + why
        else:
            outcome = "FAIL (rc=%d): %s" % (res["rc"], _reason(log_path, since, path) or "?")
        print(" %s" % outcome.split(":")[0], flush=True)
        rows.append({"label": label, "cells": kind.cells(), "xml": xml_size, "stored": stored,
                     "sst": sum(len(s.encode()) for s in kind.strings), "res": res,
                     "outcome": outcome})
        os.remove(src)
    shutil.rmtree(folder, ignore_errors=True)
    return rows


def _beyond(rows):
    """Each row's peak RSS beyond the tiny book's, in MB (None: not run)."""
    tiny = next((r for r in rows if r["label"] == "tiny"), None)
    if tiny is None or tiny["outcome"] != "ok":
        return {}
    return {r["label"]: (r["res"]["rss_kb"] - tiny["res"]["rss_kb"]) / 1024 for r in rows}


def print_table(rows, mem_gib):
    print()
    print("HUGE: one sheet per workbook, the engine alone (one job), the REWRITE pairs, "
          "address space limited to %d GiB" % mem_gib)
    beyond = _beyond(rows)
    head = ("book", "cells", "sheet XML", "stored", "s/run", "peak RSS", "all procs",
            "beyond tiny", "output")
    table = []
    for r in rows:
        res = r["res"]
        table.append((r["label"], "{:,}".format(r["cells"]), "%.0f MB" % (r["xml"] / 1e6),
                      "%.1f MB" % (r["stored"] / 1e6), "%.2f" % res["wall"],
                      "%.0f MB" % (res["rss_kb"] / 1024), "%.0f MB" % (res["tree_kb"] / 1024),
                      "%.0f MB" % beyond[r["label"]] if r["label"] in beyond else "",
                      r["outcome"] if len(r["outcome"]) < 40 else "see below"))
    workload.print_columns(head, table)
    for r in rows:
        if len(r["outcome"]) >= 40:
            print("%s: %s" % (r["label"], r["outcome"]))
    print("s/run: wall time of the program (start to exit, one run). beyond tiny: peak RSS less "
          "that of the run on the tiny book (10 rows); the shared strings take at most %d bytes. "
          "output: every row's cells read back (streaming) and compared with the replaced values; every "
          "cell, emptied ones too, still there. bare: <c/> without references (stored at level "
          "1); refs: <c r=.. s=\"1\"/>; xml: rows of 20 realistic cells."
          % max(r["sst"] for r in rows))


def goals(rows):
    """The goal lines of the HUGE section."""
    big = [r for r in rows if r["label"] != "tiny"]
    if not big:
        return []
    ok = [r for r in big if r["outcome"] == "ok"]
    lines = ["  HUGE: every sheet processed, output checked: %d of %d -> %s"
             % (len(ok), len(big), "reached" if len(ok) == len(big) else "not reached")]
    beyond = _beyond(rows)
    if beyond and ok:
        worst = max(beyond[r["label"]] for r in ok)
        lines.append("  HUGE: at most 64 MB per job beyond the shared strings: %.0f MB (worst of "
                     "the processed) -> %s" % (worst, "reached" if worst <= 64 and
                                               len(ok) == len(big) else "not reached"))
    steps = []
    by = {r["label"]: r for r in ok}
    for r in ok:
        half = by.get(r["label"] + "/2")
        if half:
            steps.append((r["res"]["wall"] / half["res"]["wall"]) / (r["xml"] / half["xml"]))
    if steps:
        lines.append("  HUGE: time linear in the size (half to full, 5%% noise allowed): worst "
                     "%.2fx of proportional -> %s"
                     % (max(steps), "reached" if max(steps) <= 1.05 and
                        len(ok) == len(big) else "not reached"))
    return lines
