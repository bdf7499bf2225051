#!/usr/bin/python3
"""Independent reader/writer for tests, built on openpyxl and xlsxwriter.

  xlsx_tool.py make PATH        JSON spec on stdin -> workbook at PATH
  xlsx_tool.py dump PATH        workbook -> JSON on stdout
  xlsx_tool.py entries PATH     zip entry name -> sha256 of its inflated bytes
  xlsx_tool.py kinds PATH       sheet name -> {ref: the t attribute of its <c>, "n" if none}
  xlsx_tool.py cells PATH       every cell with its value, type, style and stored XML (see cells)
  xlsx_tool.py stored PATH      sheet name -> {ref: its stored XML, style index included}

Spec: {"writer": "openpyxl"|"xlsxwriter", "active": 0,
       "sheets": [{"name": "S", "state": "visible"|"hidden"|"veryHidden",
                   "protected": false,
                   "cells": {"A1": "text" | 1.5 | true | {"f": "=SUM(A1:A2)"} |
                             {"date": "2024-01-31"} | {"rich": ["ab", "cd"]} |
                             {"date": "1899-12-31T12:00:00", "format": "h:mm:ss"} (xlsxwriter) |
                             {"text": "x1", "format": "@", "locked": false} |
                             {"raw": "<v>#N/A</v>", "t": "e"} (xlsxwriter: the content and
                             t of the stored <c>, with "format"/"locked" as for text)},
                   "tables": [{"ref": "A1:B3", "name": "T", "header": ["Name", "Qty"] | false}]
                   (xlsxwriter)}]}
Dump: {"active": n, "sheets": [{"name", "state", "kind", "cells": {ref: value},
       "types": {ref: openpyxl data_type}}]}
"""
import datetime
import hashlib
import json
import sys
import zipfile


def parse_date(s):
    return datetime.datetime.strptime(s, "%Y-%m-%dT%H:%M:%S" if "T" in s else "%Y-%m-%d")


def make_openpyxl(path, spec):
    import openpyxl
    wb = openpyxl.Workbook()
    wb.remove(wb.active)
    for sh in spec["sheets"]:
        ws = wb.create_sheet(sh["name"])
        ws.sheet_state = sh.get("state", "visible")
        if sh.get("protected"):
            ws.protection.sheet = True
        for ref, v in sh.get("cells", {}).items():
            if isinstance(v, dict):
                if "f" in v:
                    ws[ref] = v["f"]
                elif "date" in v:
                    ws[ref] = parse_date(v["date"])
                elif "rich" in v:
                    # Debian's openpyxl writes no rich text: use the xlsxwriter writer.
                    raise SystemExit("rich text needs the xlsxwriter writer")
                elif "text" in v:
                    from openpyxl.styles import Protection
                    ws[ref] = v["text"]
                    if "format" in v:
                        ws[ref].number_format = v["format"]
                    if "locked" in v:
                        ws[ref].protection = Protection(locked=v["locked"])
            else:
                ws[ref] = v
    wb.active = spec.get("active", 0)
    for i, ws in enumerate(wb.worksheets):
        ws.sheet_view.tabSelected = (i == spec.get("active", 0))
    wb.save(path)


def make_xlsxwriter(path, spec):
    import xlsxwriter
    from xlsxwriter.utility import xl_cell_to_rowcol
    wb = xlsxwriter.Workbook(path)
    bold = wb.add_format({"bold": True})
    date_fmt = wb.add_format({"num_format": "yyyy-mm-dd"})
    sheets = []
    raw = {}
    for sh in spec["sheets"]:
        ws = wb.add_worksheet(sh["name"])
        sheets.append(ws)
        if sh.get("state") == "hidden":
            ws.hide()
        elif sh.get("state") == "veryHidden":
            ws.very_hidden()
        if sh.get("protected"):
            ws.protect()
        for ref, v in sh.get("cells", {}).items():
            r, c = xl_cell_to_rowcol(ref)
            if isinstance(v, dict):
                if "f" in v:
                    ws.write_formula(r, c, v["f"])
                elif "date" in v:
                    fmt = wb.add_format({"num_format": v["format"]}) if "format" in v else date_fmt
                    ws.write_datetime(r, c, parse_date(v["date"]), fmt)
                elif "rich" in v:
                    args = []
                    for i, t in enumerate(v["rich"]):
                        if i % 2 == 1:
                            args.append(bold)
                        args.append(t)
                    if len(v["rich"]) == 1:
                        ws.write_string(r, c, v["rich"][0])
                    else:
                        ws.write_rich_string(r, c, *args)
                elif "text" in v or "raw" in v:
                    props = {}
                    if "format" in v:
                        props["num_format"] = v["format"]
                    if "locked" in v:
                        props["locked"] = v["locked"]
                    fmt = wb.add_format(props) if props else None
                    if "raw" in v:  # a number stands in for it until the sheet is written
                        raw.setdefault(len(sheets), {})[ref] = v
                        ws.write_number(r, c, 0, fmt)
                    else:
                        ws.write_string(r, c, v["text"], fmt)
            elif isinstance(v, bool):
                ws.write_boolean(r, c, v)
            elif isinstance(v, (int, float)):
                ws.write_number(r, c, v)
            else:
                ws.write_string(r, c, v)
        for t in sh.get("tables", []):
            header = t.get("header", False)
            options = {"name": t["name"], "header_row": bool(header), "autofilter": bool(header)}
            if header:
                options["columns"] = [{"header": h} for h in header]
            ws.add_table(t["ref"], options)
    active = spec.get("active", 0)
    sheets[active].activate()
    wb.close()
    if raw:
        put_raw_cells(path, raw)


def put_raw_cells(path, raw):
    """Puts the stored form of the raw cells, {sheet number: {ref: spec}}, in place of the
    numbers written for them, keeping their style."""
    import re

    def change(name, data):
        m = re.fullmatch(r"xl/worksheets/sheet(\d+)\.xml", name)
        cells = raw.get(int(m.group(1))) if m else None
        if not cells:
            return data
        text = data.decode("utf-8")
        for ref, v in cells.items():
            kind = ' t="%s"' % v["t"] if "t" in v else ""
            text, n = re.subn(r'<c r="%s"( s="\d+")?><v>0</v></c>' % ref,
                              lambda c: '<c r="%s"%s%s>%s</c>' % (ref, c.group(1) or "", kind,
                                                                  v["raw"]), text)
            assert n == 1, ref
        return text.encode("utf-8")
    with zipfile.ZipFile(path) as z:
        items = [(i, z.read(i)) for i in z.infolist()]
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for info, data in items:
            z.writestr(info, change(info.filename, data))


def jsonable(v):
    if isinstance(v, (datetime.datetime, datetime.date, datetime.time)):
        return {"date": v.isoformat()}
    if v is None or isinstance(v, (bool, int, float, str)):
        return v
    return str(v)


def _bind_merged_cells(reader):
    """openpyxl's WorksheetReader.bind_merged_cells without the borders it gives every merged
    range, which a dump does not read and which take most of the time of a workbook with many
    merges: the cells a merge hides are emptied, as there."""
    from openpyxl.cell.cell import MergedCell
    from openpyxl.worksheet.cell_range import CellRange
    if not reader.parser.merged_cells:
        return
    for cr in reader.parser.merged_cells.mergeCell:
        cells = CellRange(cr.ref).cells
        next(cells)  # the top-left cell keeps its value
        for row, col in cells:
            reader.ws._cells[row, col] = MergedCell(reader.ws, row, col)


def dump(path):
    import openpyxl
    from openpyxl.worksheet._reader import WorksheetReader
    WorksheetReader.bind_merged_cells = _bind_merged_cells
    wb = openpyxl.load_workbook(path)
    out = {"active": wb.index(wb.active) if wb.active is not None else 0, "sheets": []}
    for ws in wb._sheets:
        kind = "chartsheet" if ws.__class__.__name__ == "Chartsheet" else "worksheet"
        entry = {"name": ws.title, "state": ws.sheet_state, "kind": kind, "cells": {}, "types": {}}
        if kind == "worksheet":
            # The cells read, row by row (iter_rows would make every empty one of the extent).
            for _, c in sorted(ws._cells.items()):
                if c.value is None:
                    continue
                entry["cells"][c.coordinate] = jsonable(c.value)
                entry["types"][c.coordinate] = c.data_type
        out["sheets"].append(entry)
    return out


def entries(path):
    res = {}
    with zipfile.ZipFile(path) as z:
        for info in z.infolist():
            res[info.filename] = hashlib.sha256(z.read(info)).hexdigest()
    return res


def kinds(path):
    main = "{http://schemas.openxmlformats.org/spreadsheetml/2006/main}"
    rel = "{http://schemas.openxmlformats.org/officeDocument/2006/relationships}"
    import xml.etree.ElementTree as ET
    out = {}
    with zipfile.ZipFile(path) as z:
        rels = ET.fromstring(z.read("xl/_rels/workbook.xml.rels"))
        target = {r.get("Id"): r.get("Target") for r in rels}
        for s in ET.fromstring(z.read("xl/workbook.xml")).iter(main + "sheet"):
            t = target[s.get(rel + "id")]
            part = t[1:] if t.startswith("/") else "xl/" + t
            cells = ET.fromstring(z.read(part)).iter(main + "c")
            out[s.get("name")] = {c.get("r"): c.get("t", "n") for c in cells}
    return out


def _canonical(e, shared, styled):
    """An element as text: its local name, attributes in name order (the style index only when
    `styled`), text and children; the index of a shared string becomes the string item."""
    tag = e.tag.rsplit("}", 1)[-1]
    attrs = sorted((k.rsplit("}", 1)[-1], v) for k, v in e.attrib.items() if styled or k != "s")
    out = "<" + tag + "".join(' %s="%s"' % kv for kv in attrs) + ">" + (e.text or "")
    for child in e:
        if tag == "c" and e.get("t") == "s" and child.tag.endswith("}v"):
            item = shared[int(child.text)] if (child.text or "").isdigit() and \
                int(child.text) < len(shared) else None
            out += _canonical(item if item is not None else child, shared, styled)
        else:
            out += _canonical(child, shared, styled)
        out += child.tail or ""
    return out + "</" + tag + ">"


def stored_cells(path, styled=False):
    """Sheet name -> {ref: the stored <c> as _canonical gives it}."""
    import xml.etree.ElementTree as ET
    main = "{http://schemas.openxmlformats.org/spreadsheetml/2006/main}"
    rel = "{http://schemas.openxmlformats.org/officeDocument/2006/relationships}"
    out = {}
    with zipfile.ZipFile(path) as z:
        names = {n.lower(): n for n in z.namelist()}
        shared = []
        if "xl/sharedstrings.xml" in names:
            shared = ET.fromstring(z.read(names["xl/sharedstrings.xml"])).findall(main + "si")
        rels = ET.fromstring(z.read("xl/_rels/workbook.xml.rels"))
        target = {r.get("Id"): r.get("Target") for r in rels}
        for s in ET.fromstring(z.read("xl/workbook.xml")).iter(main + "sheet"):
            t = target.get(s.get(rel + "id"), "")
            part = names.get((t[1:] if t.startswith("/") else "xl/" + t).lower())
            if part is None:
                continue
            cells = out.setdefault(s.get("name"), {})
            for _, c in ET.iterparse(z.open(part)):
                if c.tag == main + "c":
                    cells[c.get("r")] = _canonical(c, shared, styled)
                elif c.tag == main + "row":
                    c.clear()
    return out


def cells(path):
    """{"SHEET!REF": [value, type, style, stored], "tables": {name: [columns]}, "names": {name:
    formula}}: every cell with a value or a style, as openpyxl reads it (the style resolved:
    number format, quote prefix, named style, a digest of font, fill, border, alignment and
    protection) and as it is stored (see stored_cells)."""
    import openpyxl
    from openpyxl.worksheet._reader import WorksheetReader
    WorksheetReader.bind_merged_cells = _bind_merged_cells
    wb = openpyxl.load_workbook(path)
    stored = stored_cells(path)
    styles = {}
    out = {"tables": {}, "names": {}}
    for ws in wb.worksheets:
        raw = stored.get(ws.title, {})
        for _, c in sorted(ws._cells.items()):
            if c.value is None and not c.has_style:
                continue
            key = tuple(c._style)
            if key not in styles:
                look = "".join(repr(x) for x in (c.font, c.fill, c.border, c.alignment,
                                                  c.protection))
                styles[key] = "%s|%s|%s|%s" % (c.number_format, "'" if c.quotePrefix else "",
                                               c.style,
                                               hashlib.sha256(look.encode()).hexdigest()[:12])
            out[ws.title + "!" + c.coordinate] = [jsonable(c.value), c.data_type, styles[key],
                                                  raw.get(c.coordinate)]
        for t in ws.tables.values():
            out["tables"][t.displayName] = [col.name for col in t.tableColumns]
    for name in wb.defined_names.definedName:
        out["names"][name.name] = name.attr_text
    return out


def main():
    cmd, path = sys.argv[1], sys.argv[2]
    if cmd == "make":
        spec = json.load(sys.stdin)
        if spec.get("writer", "openpyxl") == "xlsxwriter":
            make_xlsxwriter(path, spec)
        else:
            make_openpyxl(path, spec)
    elif cmd == "dump":
        json.dump(dump(path), sys.stdout, ensure_ascii=False)
    elif cmd == "cells":
        json.dump(cells(path), sys.stdout, ensure_ascii=False)
    elif cmd == "stored":
        json.dump(stored_cells(path, True), sys.stdout, ensure_ascii=False)
    elif cmd == "kinds":
        json.dump(kinds(path), sys.stdout)
    elif cmd == "entries":
        json.dump(entries(path), sys.stdout)
    else:
        sys.exit("unknown command " + cmd)


if __name__ == "__main__":
    main()
