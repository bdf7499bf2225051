#!/usr/bin/python3
"""Independent reader/writer for tests, built on openpyxl and xlsxwriter.

  xlsx_tool.py make PATH        JSON spec on stdin -> workbook at PATH
  xlsx_tool.py dump PATH        workbook -> JSON on stdout
  xlsx_tool.py entries PATH     zip entry name -> sha256 of its inflated bytes
  xlsx_tool.py kinds PATH       sheet name -> {ref: the t attribute of its <c>, "n" if none}

Spec: {"writer": "openpyxl"|"xlsxwriter", "active": 0,
       "sheets": [{"name": "S", "state": "visible"|"hidden"|"veryHidden",
                   "protected": false,
                   "cells": {"A1": "text" | 1.5 | true | {"f": "=SUM(A1:A2)"} |
                             {"date": "2024-01-31"} | {"rich": ["ab", "cd"]} |
                             {"date": "1899-12-31T12:00:00", "format": "h:mm:ss"} (xlsxwriter) |
                             {"text": "x1", "format": "@", "locked": false}}}]}
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
                elif "text" in v:
                    props = {}
                    if "format" in v:
                        props["num_format"] = v["format"]
                    if "locked" in v:
                        props["locked"] = v["locked"]
                    ws.write_string(r, c, v["text"], wb.add_format(props) if props else None)
            elif isinstance(v, bool):
                ws.write_boolean(r, c, v)
            elif isinstance(v, (int, float)):
                ws.write_number(r, c, v)
            else:
                ws.write_string(r, c, v)
    active = spec.get("active", 0)
    sheets[active].activate()
    wb.close()


def jsonable(v):
    if isinstance(v, (datetime.datetime, datetime.date, datetime.time)):
        return {"date": v.isoformat()}
    if v is None or isinstance(v, (bool, int, float, str)):
        return v
    return str(v)


def dump(path):
    import openpyxl
    wb = openpyxl.load_workbook(path)
    out = {"active": wb.index(wb.active) if wb.active is not None else 0, "sheets": []}
    for ws in wb._sheets:
        kind = "chartsheet" if ws.__class__.__name__ == "Chartsheet" else "worksheet"
        entry = {"name": ws.title, "state": ws.sheet_state, "kind": kind, "cells": {}, "types": {}}
        if kind == "worksheet":
            for row in ws.iter_rows():
                for c in row:
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
    elif cmd == "kinds":
        json.dump(kinds(path), sys.stdout)
    elif cmd == "entries":
        json.dump(entries(path), sys.stdout)
    else:
        sys.exit("unknown command " + cmd)


if __name__ == "__main__":
    main()
