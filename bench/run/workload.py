"""The benchmark's workload: the replacements, the generated workbooks, and
the reading of cell values that checks a finished run.

Run with Debian's /usr/bin/python3 (python3-xlsxwriter, python3-openpyxl).
"""

import hashlib
import os
import random
import zipfile
import posixpath
import xml.etree.ElementTree as ET

# The five replacements, applied in this order to every sheet of every file.
# No value contains a later key, and the data never holds a key in another
# letter case, so a plain ordered str.replace gives the expected text.
PAIRS = [
    ("北京", "上海"),
    ("客户", "顾客"),
    ("alpha", "omega"),
    ("ORD-", "NO-"),
    ("待处理", "已完成"),
]

# The REWRITE workload: the same five and one that empties whole cells. With
# the run's default (a match anywhere in the cell) a cell whose whole text is
# "已取消" (one of the status values) becomes empty, a cell with no value,
# while a cell that merely contains it keeps the rest of its text. An emptied
# cell cannot be given through the shared strings, so every sheet is rewritten
# cell by cell.
REWRITE_PAIRS = PAIRS + [("已取消", "")]

COLUMNS = 10

_SURNAMES = "张王李赵刘陈杨黄吴周徐孙马朱胡郭何高林罗"
_GIVEN = "伟芳娜敏静丽强磊军洋勇艳杰娟涛明超秀霞平"
_CITIES = ["北京", "上海", "广州", "深圳", "北京市朝阳区", "杭州", "成都", "武汉",
           "南京", "北京海淀", "西安", "重庆"]
_WORDS = ["batch", "alpha", "beta", "gamma", "delta", "box", "pallet", "order",
          "return", "alpha-test", "report", "item"]
_STATUS = ["待处理", "已发货", "已签收", "待处理-加急", "退回", "已取消"]
_HEADER = ["编号", "订单号", "客户", "金额", "城市", "说明", "日期", "数量", "状态", "备注"]


def _row(rng, n):
    """One data row: numbers and mixed Chinese/ASCII texts, many repeated."""
    name = rng.choice(_SURNAMES) + rng.choice(_GIVEN)
    words = " ".join(rng.choice(_WORDS) for _ in range(rng.randint(1, 3)))
    return [
        n,
        "ORD-%06d" % rng.randint(0, 999999),
        "客户" + name,
        round(rng.random() * 10000, 2),
        rng.choice(_CITIES),
        "%s 发往 %s 第%d批" % (words, rng.choice(_CITIES), rng.randint(1, 50)),
        "2023-%02d-%02d" % (rng.randint(1, 12), rng.randint(1, 28)),
        rng.randint(1, 500),
        rng.choice(_STATUS),
        "note %d %s" % (rng.randint(0, 99), rng.choice(["客户来电", "无", "alpha", "加急 北京"])),
    ]


def write_book(path, sheets, rows, seed):
    """A workbook of `sheets` sheets of `rows` rows (a header row included)
    and ten columns; texts go to the shared string table."""
    import xlsxwriter

    rng = random.Random(seed)
    book = xlsxwriter.Workbook(path)
    for s in range(sheets):
        ws = book.add_worksheet("数据%d" % (s + 1))
        ws.write_row(0, 0, _HEADER)
        for r in range(1, rows):
            ws.write_row(r, 0, _row(rng, r))
    book.close()


def replaced(text, pairs=None):
    """The text once the pairs (PAIRS by default) are applied in order; ""
    means the cell is left with no value."""
    for key, value in PAIRS if pairs is None else pairs:
        text = text.replace(key, value)
    return text


def rewritten(text):
    """What a text becomes under REWRITE_PAIRS; None: the cell is emptied."""
    return replaced(text, REWRITE_PAIRS) or None


def write_pairs(path, pairs):
    """The "key<TAB>value" file the run programs read."""
    with open(path, "w", encoding="utf-8") as f:
        for k, v in pairs:
            f.write("%s\t%s\n" % (k, v))


def read_pairs(path):
    with open(path, encoding="utf-8") as f:
        return [tuple(line.rstrip("\n").split("\t", 1)) for line in f if line.strip("\n")]


# --- Reading cell values straight from the package --------------------------

_NS = "{http://schemas.openxmlformats.org/spreadsheetml/2006/main}"
_RNS = "{http://schemas.openxmlformats.org/officeDocument/2006/relationships}"
_PKG_RELS = "{http://schemas.openxmlformats.org/package/2006/relationships}"


def _text_of(elem):
    """The text of a string item (<si> or <is>): a plain <t> or rich runs;
    phonetic runs (<rPh>) are not part of the value."""
    parts = []
    for child in elem:
        if child.tag == _NS + "t":
            parts.append(child.text or "")
        elif child.tag == _NS + "r":
            for t in child.iter(_NS + "t"):
                parts.append(t.text or "")
    return "".join(parts)


def _rels(zf, part):
    folder, name = posixpath.split(part)
    rels_path = posixpath.join(folder, "_rels", name + ".rels")
    out = {}
    if rels_path not in zf.namelist():
        return out
    root = ET.fromstring(zf.read(rels_path))
    for rel in root.iter(_PKG_RELS + "Relationship"):
        target = rel.get("Target")
        if target.startswith("/"):
            full = target[1:]
        else:
            full = posixpath.normpath(posixpath.join(folder, target))
        out[rel.get("Id")] = (rel.get("Type").rsplit("/", 1)[-1], full)
    return out


def book_parts(zf):
    """The shared strings of an open package and its sheets as (name, part),
    in workbook order."""
    root_rels = _rels(zf, "")
    book_part = next(t for kind, t in root_rels.values() if kind == "officeDocument")
    book_rels = _rels(zf, book_part)
    shared = []
    for kind, target in book_rels.values():
        if kind == "sharedStrings":
            with zf.open(target) as f:
                for _, elem in ET.iterparse(f):
                    if elem.tag == _NS + "si":
                        shared.append(_text_of(elem))
                        elem.clear()
    book = ET.fromstring(zf.read(book_part))
    sheets = [(sheet.get("name"), book_rels[sheet.get(_RNS + "id")][1])
              for sheet in book.iter(_NS + "sheet")]
    return shared, sheets


CELL = _NS + "c"
ROW = _NS + "row"


def sheet_elements(f):
    """Yields every <c> and <row> element of a sheet's XML as it ends; a row is
    emptied once yielded, so that a sheet of millions of cells is read in
    little memory."""
    for _, elem in ET.iterparse(f):
        tag = elem.tag
        if tag == CELL:
            yield elem
        elif tag == ROW:
            yield elem
            elem.clear()


def cell_value(elem, shared):
    """(kind, value) of a <c> element, or None when it holds no value; kind
    is "n" for numbers (value a float), "s" for texts, else the cell's t."""
    t = elem.get("t", "n")
    if t == "inlineStr":
        is_ = elem.find(_NS + "is")
        return None if is_ is None else ("s", _text_of(is_))
    v = elem.find(_NS + "v")
    if v is None or v.text is None:
        return None
    if t == "s":
        return "s", shared[int(v.text)]
    if t == "n":
        return "n", float(v.text)
    return t, v.text


def iter_cells(path):
    """Yields (sheet name, cell ref, kind, value) for every cell that holds a
    value, sheets in workbook order, cells in document order; kind is "n" for
    numbers (value a float) and "s" for texts."""
    with zipfile.ZipFile(path) as zf:
        shared, sheets = book_parts(zf)
        for name, target in sheets:
            with zf.open(target) as f:
                for elem in sheet_elements(f):
                    if elem.tag == CELL:
                        value = cell_value(elem, shared)
                        if value is not None:
                            yield (name, elem.get("r")) + value


def grid_digest(path, transform=None):
    """A digest of every cell value of the workbook (texts passed through
    `transform` first; a text it makes None is a cell with no value) and the
    number of cells."""
    h = hashlib.sha256()
    count = 0
    for sheet, ref, kind, value in iter_cells(path):
        if kind == "s" and transform is not None:
            value = transform(value)
            if value is None:
                continue
        h.update(("%s\x00%s\x00%s\x00%r\x01" % (sheet, ref, kind, value)).encode("utf-8"))
        count += 1
    return h.hexdigest(), count


def expected_digest(path, transform=replaced):
    """What the digest of the file must be once the run has replaced it."""
    return grid_digest(path, transform)


def cpu_count():
    return os.cpu_count() or 1


def print_columns(head, rows):
    """Prints a header and rows in left-aligned columns."""
    widths = [max(len(str(x)) for x in col) for col in zip(head, *rows)]
    fmt = "  ".join("%%-%ds" % w for w in widths)
    print(fmt % tuple(head))
    print(fmt % tuple("-" * w for w in widths))
    for row in rows:
        print(fmt % tuple(row))


# --- The command line of the baselines ---------------------------------------

def pool_main(work):
    """Runs work(path, pairs) -> bool for every file named on the command line
    (--jobs N [--pairs FILE] FILE...) on a pool of processes and prints the
    result line; pairs are PAIRS unless a file gives them."""
    import argparse
    import functools
    import multiprocessing
    import time

    ap = argparse.ArgumentParser()
    ap.add_argument("--jobs", type=int, default=8)
    ap.add_argument("--pairs", help="a key<TAB>value file (default: the five PAIRS)")
    ap.add_argument("files", nargs="+")
    args = ap.parse_args()
    work = functools.partial(work, pairs=read_pairs(args.pairs) if args.pairs else PAIRS)
    start = time.perf_counter()
    with multiprocessing.Pool(args.jobs) as pool:
        ok = sum(pool.imap_unordered(work, args.files, chunksize=1))
    seconds = time.perf_counter() - start
    print("files=%d ok=%d seconds=%.6f" % (len(args.files), ok, seconds))
    return 0 if ok == len(args.files) else 1
