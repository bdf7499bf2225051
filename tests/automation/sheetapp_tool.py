#!/usr/bin/python3
"""Workbooks for the embedded application's tests that xlsx_tool.py cannot
describe (shared formulas, chart sheets, protection, tables, styles), broken
packages, and an inspector of what was written.

  sheetapp_tool.py make KIND PATH     KIND: shared, chartsheet, macrosheet, dialogsheet,
                                            protected, table, styled
  sheetapp_tool.py broken KIND PATH   KIND: ole, html, xlsb, notworkbook, truncated, badxml,
                                            dtd, bomb, duplicate, empty
  sheetapp_tool.py inspect PATH       JSON on stdout
  sheetapp_tool.py protection PATH    JSON: {sheet: {"protected": bool, "unlocked": [refs]}}
  sheetapp_tool.py cells PATH         typed workbook from a JSON spec on stdin (see make_cells)
  sheetapp_tool.py read PATH [recalc] JSON: {"cells": {sheet: {ref: [value, type, format,
                                      quote prefix]}}, "tables": {name: [columns]},
                                      "names": {name: formula}, "xfs": cell styles};
                                      with "recalc" the values LibreOffice computes
"""
import io
import os
import re
import json
import sys
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import soffice  # noqa: E402

import openpyxl
from openpyxl.styles import Font, PatternFill, Protection
from openpyxl.worksheet.table import Table, TableStyleInfo


def rewrite_zip(path, change, add=None):
    """Rewrites the package at path; change(name, bytes) -> bytes or None (drop)."""
    with zipfile.ZipFile(path) as z:
        items = [(i.filename, z.read(i)) for i in z.infolist()]
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in items:
            data = change(name, data)
            if data is not None:
                z.writestr(name, data)
        for name, data in (add or {}).items():
            z.writestr(name, data)


def make_shared(path):
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "Calc"
    for r in range(1, 5):
        ws.cell(r, 1, r * 10)
    ws["B1"] = "=A1*2"
    ws["C1"] = '=_xlfn.CONCAT("x",A1)'
    ws["D1"] = "=SUM(A1:A4)"
    other = wb.create_sheet("Other")
    other["A1"] = "=Calc!A1+1"
    wb.save(path)

    shared = ('<c r="B1"><f t="shared" ref="B1:B4" si="0">A1*2</f><v>20</v></c>',
              '<c r="B{r}"><f t="shared" si="0"/><v>{v}</v></c>')

    def change(name, data):
        text = data.decode("utf-8")
        if name == "xl/worksheets/sheet1.xml":
            text = text.replace('<c r="B1"><f>A1*2</f><v></v></c>', shared[0])
            text = text.replace('<c r="B1"><f>A1*2</f><v/></c>', shared[0])
            text = text.replace('<c r="B1"><f>A1*2</f></c>', shared[0])
            for r in range(2, 5):
                text = text.replace('<c r="A%d" t="n"><v>%d</v></c>' % (r, r * 10),
                                    '<c r="A%d" t="n"><v>%d</v></c>' % (r, r * 10) +
                                    shared[1].format(r=r, v=r * 20))
            assert 'si="0"' in text, text
        elif name == "xl/workbook.xml":
            text = text.replace(' fullCalcOnLoad="1"', "")
        elif name == "[Content_Types].xml":
            text = text.replace(
                "</Types>",
                '<Override PartName="/xl/calcChain.xml" ContentType="application/'
                'vnd.openxmlformats-officedocument.spreadsheetml.calcChain+xml"/></Types>')
        elif name == "xl/_rels/workbook.xml.rels":
            text = text.replace(
                "</Relationships>",
                '<Relationship Id="rIdCalc" Type="http://schemas.openxmlformats.org/'
                'officeDocument/2006/relationships/calcChain" Target="calcChain.xml"/>'
                "</Relationships>")
        return text.encode("utf-8")

    chain = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
             '<calcChain xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
             '<c r="B1" i="1"/><c r="B2"/><c r="B3"/><c r="B4"/><c r="C1"/><c r="D1"/>'
             '<c r="A1" i="2"/></calcChain>')
    rewrite_zip(path, change, {"xl/calcChain.xml": chain})


def make_chartsheet(path):
    from openpyxl.chart import BarChart, Reference
    wb = openpyxl.Workbook()
    data = wb.active
    data.title = "Data"
    for r, (k, v) in enumerate([("apple", 3), ("pear", 5)], start=1):
        data.cell(r, 1, k)
        data.cell(r, 2, v)
    chart_sheet = wb.create_chartsheet("Chart")
    chart = BarChart()
    chart.add_data(Reference(data, min_col=2, min_row=1, max_row=2))
    chart_sheet.add_chart(chart)
    hidden = wb.create_sheet("Hidden")
    hidden["A1"] = "apple hidden"
    hidden.sheet_state = "hidden"
    empty = wb.create_sheet("Empty")
    del empty
    wb.save(path)
    # The third tab (the hidden sheet) is the active one.
    rewrite_zip(path, lambda n, d: re.sub(rb'activeTab="\d+"', b'activeTab="2"', d)
                if n == "xl/workbook.xml" else d)


def make_othersheet(path, kind):
    """Data, then a macro or dialog sheet, Hidden (active) and Empty, as the chart sheet book;
    written by xlsxwriter (strings shared), the second sheet turned into a sheet of `kind`."""
    import xlsxwriter
    wb = xlsxwriter.Workbook(path)
    data = wb.add_worksheet("Data")
    for r, (k, v) in enumerate([("apple", 3), ("pear", 5)]):
        data.write(r, 0, k)
        data.write(r, 1, v)
    other = wb.add_worksheet("Macro" if kind == "macrosheet" else "Dialog")
    other.write("A1", "apple")  # shared with Data!A1
    other.write("A2", "apple macro")
    hidden = wb.add_worksheet("Hidden")
    hidden.write("A1", "apple hidden")
    hidden.activate()  # hidden below: xlsxwriter shows the active sheet
    wb.add_worksheet("Empty")
    wb.close()

    main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
    rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
    if kind == "macrosheet":
        part = "xl/macrosheets/sheet1.xml"
        rel_type = "http://schemas.microsoft.com/office/2006/relationships/xlMacrosheet"
        content_type = "application/vnd.ms-excel.macrosheet+xml"
    else:
        part = "xl/dialogsheets/sheet1.xml"
        rel_type = rel + "dialogsheet"
        content_type = "application/vnd.openxmlformats-officedocument.spreadsheetml." \
                       "dialogsheet+xml"

    def change(name, data):
        if name == "xl/worksheets/sheet2.xml":
            return None
        text = data.decode("utf-8")
        if name == "xl/workbook.xml":
            text = text.replace('<sheet name="Hidden" ', '<sheet name="Hidden" state="hidden" ')
        elif name == "xl/_rels/workbook.xml.rels":
            text = re.sub(r'Type="[^"]*/worksheet" Target="worksheets/sheet2.xml"',
                          'Type="%s" Target="%s"' % (rel_type, part[3:]), text)
        elif name == "[Content_Types].xml":
            text = re.sub(r'<Override PartName="/xl/worksheets/sheet2.xml" ContentType="[^"]*"/>',
                          '<Override PartName="/%s" ContentType="%s"/>' % (part, content_type),
                          text)
        return text.encode("utf-8")

    with zipfile.ZipFile(path) as z:
        sheet = z.read("xl/worksheets/sheet2.xml").decode("utf-8")
    if kind == "macrosheet":
        # The spreadsheet application's form: Microsoft's root, the content in the default
        # namespace.
        sheet = sheet.replace("<worksheet ", '<xm:macrosheet xmlns:xm="http://schemas.'
                              'microsoft.com/office/excel/2006/main" ')
        sheet = sheet.replace("</worksheet>", "</xm:macrosheet>")
    else:
        sheet = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
                 '<dialogsheet xmlns="%s"><sheetPr/><sheetViews><sheetView workbookViewId="0"/>'
                 '</sheetViews><sheetFormatPr defaultRowHeight="15"/></dialogsheet>' % main)
    rewrite_zip(path, change, {part: sheet})


def make_protected(path):
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "Locked"
    ws["A1"] = "secret"
    ws["A2"] = "secret"
    ws["A2"].protection = Protection(locked=False)
    ws.protection.sheet = True
    free = wb.create_sheet("Free")
    free["A1"] = "secret"
    wb.save(path)


def make_table(path):
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "T"
    rows = [["Name", "Qty", "Note"], ["a", 1, "x"], ["b", 2, "y"]]
    for row in rows:
        ws.append(row)
    table = Table(displayName="Stock", ref="A1:C3")
    table.tableStyleInfo = TableStyleInfo(name="TableStyleMedium9", showRowStripes=True)
    ws.add_table(table)
    wb.save(path)


def make_styled(path):
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "S"
    ws["A1"] = 0.25
    ws["A1"].number_format = "0.00%"
    ws["A1"].font = Font(bold=True)
    ws["B2"] = "plain"
    ws["B2"].fill = PatternFill("solid", fgColor="FFFF00")
    ws["C3"] = "keep"
    wb.save(path)


def minimal_workbook():
    b = io.BytesIO()
    wb = openpyxl.Workbook()
    wb.active["A1"] = "hello"
    wb.save(b)
    return b.getvalue()


def broken(kind, path):
    if kind == "ole":
        data = bytes.fromhex("D0CF11E0A1B11AE1") + b"\0" * 4088
        open(path, "wb").write(data)
    elif kind == "html":
        open(path, "wb").write(b"<!DOCTYPE html><html><body>not a workbook</body></html>")
    elif kind == "empty":
        open(path, "wb").write(b"")
    elif kind == "truncated":
        data = minimal_workbook()
        open(path, "wb").write(data[: len(data) // 2])
    elif kind == "notworkbook":
        with zipfile.ZipFile(path, "w") as z:
            z.writestr("readme.txt", "just a zip")
    else:
        open(path, "wb").write(minimal_workbook())
        if kind == "xlsb":
            def change(name, data):
                if name == "xl/workbook.xml":
                    return None
                if name in ("[Content_Types].xml", "_rels/.rels",):
                    return data.replace(b"workbook.xml", b"workbook.bin").replace(
                        b"sheet.main+xml", b"sheet.binary.macroEnabled.main")
                return data
            rewrite_zip(path, change, {"xl/workbook.bin": b"\x83\x01\x00\x00"})
        elif kind == "badxml":
            rewrite_zip(path, lambda n, d: b"<worksheet><sheetData><row>" if
                        n == "xl/worksheets/sheet1.xml" else d)
        elif kind == "dtd":
            def change(name, data):
                if name == "xl/workbook.xml":
                    return (b'<?xml version="1.0" encoding="UTF-8"?>\n'
                            b'<!DOCTYPE workbook [<!ENTITY e SYSTEM "file:///etc/passwd">]>' +
                            data.replace(b'<?xml version="1.0" encoding="UTF-8"?>', b""))
                return data
            rewrite_zip(path, change)
        elif kind == "dtdsheet":
            rewrite_zip(path, lambda n, d: b'<!DOCTYPE worksheet [<!ENTITY x "y">]>' + d
                        if n == "xl/worksheets/sheet1.xml" else d)
        elif kind == "bomb":
            def change(name, data):
                if name == "xl/worksheets/sheet1.xml":
                    return data.replace(b"</worksheet>", b" " * (40 * 1024 * 1024) +
                                        b"</worksheet>")
                return data
            rewrite_zip(path, change)
        elif kind == "duplicate":
            with zipfile.ZipFile(path, "a") as z:
                import warnings
                with warnings.catch_warnings():
                    warnings.simplefilter("ignore")
                    z.writestr("xl/worksheets/sheet1.xml", "<worksheet/>")
        else:
            sys.exit("unknown kind " + kind)


def inspect(path):
    out = {"entries": [], "parts": {}, "styles": {}, "tables": {}}
    with zipfile.ZipFile(path) as z:
        for info in z.infolist():
            out["entries"].append(info.filename)
        for name in ("xl/workbook.xml", "[Content_Types].xml", "xl/_rels/workbook.xml.rels"):
            if name in out["entries"]:
                out["parts"][name] = z.read(name).decode("utf-8")
    wb = openpyxl.load_workbook(path)
    for ws in wb.worksheets:
        styles = {}
        for row in ws.iter_rows():
            for c in row:
                if c.has_style or c.value is not None:
                    styles[c.coordinate] = {"number_format": c.number_format,
                                            "bold": bool(c.font and c.font.b),
                                            "fill": c.fill.fgColor.rgb if c.fill and
                                            c.fill.fill_type else None,
                                            "locked": bool(c.protection.locked)}
        out["styles"][ws.title] = styles
        out["tables"][ws.title] = {t.displayName: [col.name for col in t.tableColumns]
                                   for t in ws.tables.values()}
    return out


def protection(path):
    """Per worksheet: whether it is protected and which cells are unlocked."""
    with zipfile.ZipFile(path) as z:
        if not any(b"sheetProtection" in z.read(n) for n in z.namelist()
                   if n.startswith("xl/worksheets/") and n.endswith(".xml")):
            return {}
    wb = openpyxl.load_workbook(path)
    out = {}
    for ws in wb.worksheets:
        unlocked = []
        if ws.protection.sheet:
            for row in ws.iter_rows():
                for c in row:
                    if c.has_style and not c.protection.locked:
                        unlocked.append(c.coordinate)
        out[ws.title] = {"protected": bool(ws.protection.sheet), "unlocked": unlocked}
    return out


def make_cells(path, spec):
    """{"date1904": bool, "sheets": [{"name": "S", "cells": {ref: CELL},
        "table": {"name": "Stock", "ref": "A1:B3"}, "validation": {"sqref": "G1", "formula": "..."}}],
        "names": {name: formula}}
    CELL: a number, text or boolean; {"f": "=..."}; {"array": "=...", "ref": "A1:A2"};
    {"shared": "=...", "ref": "A1:A3", "si": 0} and {"si": 0} for the other cells of a shared
    formula; {"error": "#N/A"}; any of them with "fmt" (a format code, or a built-in id)."""
    from openpyxl.workbook.defined_name import DefinedName
    from openpyxl.utils.datetime import CALENDAR_MAC_1904
    wb = openpyxl.Workbook()
    wb.remove(wb.active)
    if spec.get("date1904"):
        wb.epoch = CALENDAR_MAC_1904
    ids = {}
    for sh in spec["sheets"]:
        ws = wb.create_sheet(sh["name"])
        for ref, v in sh.get("cells", {}).items():
            fmt = None
            if isinstance(v, dict):
                fmt = v.get("fmt")
                if "f" in v:
                    ws[ref] = v["f"]
                elif "array" in v:
                    ws[ref] = v["array"]
                    ws.formula_attributes[ref] = {"t": "array", "ref": v.get("ref", ref)}
                elif "shared" in v:  # the master of a shared formula
                    ws[ref] = v["shared"]
                    ws.formula_attributes[ref] = {"t": "shared", "ref": v["ref"],
                                                  "si": str(v.get("si", 0))}
                elif "si" in v:  # another cell of the group
                    ws[ref] = "=__MEMBER__"  # written without text below
                    ws.formula_attributes[ref] = {"t": "shared", "si": str(v["si"])}
                elif "error" in v:
                    ws[ref] = v["error"]
                else:
                    ws[ref] = v["v"]
            else:
                ws[ref] = v
            if isinstance(fmt, int):
                # A built-in id openpyxl cannot write: a marker code, swapped below.
                ids['"id%d"0' % fmt] = fmt
                fmt = '"id%d"0' % fmt
            if fmt is not None:
                ws[ref].number_format = fmt
        if "table" in sh:
            t = Table(displayName=sh["table"]["name"], ref=sh["table"]["ref"])
            t.tableStyleInfo = TableStyleInfo(name="TableStyleMedium9", showRowStripes=True)
            ws.add_table(t)
        if "validation" in sh:  # a list validation: {"sqref": "G1", "formula": "..."}
            from openpyxl.worksheet.datavalidation import DataValidation
            dv = DataValidation(type="list", formula1=sh["validation"]["formula"])
            dv.add(sh["validation"]["sqref"])
            ws.add_data_validation(dv)
    for name, formula in spec.get("names", {}).items():
        wb.defined_names.append(DefinedName(name, attr_text=formula))
    wb.save(path)
    rewrite_zip(path, lambda n, d: re.sub(rb"(<f [^>]*)>__MEMBER__</f>", rb"\1/>", d)
                if n.startswith("xl/worksheets/") else d)
    if ids:
        def change(name, data):
            if name != "xl/styles.xml":
                return data
            text = data.decode("utf-8")
            for marker, builtin in ids.items():
                code = marker.replace('"', "&quot;")
                m = re.search(r'<numFmt numFmtId="(\d+)" formatCode="%s"\s*/>' % re.escape(code),
                              text)
                assert m, text
                text = text.replace(m.group(0), "")
                text = text.replace('numFmtId="%s"' % m.group(1), 'numFmtId="%d"' % builtin)
            return text.encode("utf-8")
        rewrite_zip(path, change)


def recalculated(path):
    """A copy of the workbook saved by LibreOffice, which computes every formula; the caller
    removes the folder. LibreOffice runs with a profile of its own and is ended on time-out."""
    import shutil
    import tempfile
    work = tempfile.mkdtemp(prefix="recalc-")
    out = os.path.join(work, "out")
    soffice.convert(work, "xlsx", out, [path], timeout=180)
    converted = os.path.join(out, os.path.basename(path))
    if not os.path.exists(converted):
        shutil.rmtree(work, ignore_errors=True)
        sys.exit("LibreOffice did not convert " + path)
    return work, converted


def read(path, recalc=False):
    import datetime
    import shutil
    work = None
    if recalc:
        work, path = recalculated(path)
    try:
        wb = openpyxl.load_workbook(path, data_only=recalc)
        out = {"cells": {}, "tables": {}, "names": {}}
        for ws in wb.worksheets:
            cells = {}
            for row in ws.iter_rows():
                for c in row:
                    v = c.value
                    if v is None and not c.has_style:
                        continue
                    if isinstance(v, (datetime.datetime, datetime.date, datetime.time)):
                        v = v.isoformat()
                    elif v is not None and not isinstance(v, (bool, int, float, str)):
                        v = getattr(v, "text", str(v))  # an array formula
                    kind = c.data_type
                    if ws.formula_attributes.get(c.coordinate, {}).get("t") == "array":
                        kind = "array"
                    cells[c.coordinate] = [v, kind, c.number_format, bool(c.quotePrefix)]
            out["cells"][ws.title] = cells
            for t in ws.tables.values():
                out["tables"][t.displayName] = [col.name for col in t.tableColumns]
        for name in wb.defined_names.definedName:
            out["names"][name.name] = name.attr_text
        with zipfile.ZipFile(path) as z:
            styles = z.read("xl/styles.xml").decode("utf-8")
        xfs = re.search(r"<(?:\w+:)?cellXfs[^>]*>(.*?)</(?:\w+:)?cellXfs>", styles, re.S)
        out["xfs"] = len(re.findall(r"<(?:\w+:)?xf[\s/>]", xfs.group(1))) if xfs else 0
        return out
    finally:
        if work:
            shutil.rmtree(work, ignore_errors=True)


def main():
    cmd = sys.argv[1]
    if cmd == "make":
        {"shared": make_shared, "chartsheet": make_chartsheet, "protected": make_protected,
         "table": make_table, "styled": make_styled,
         "macrosheet": lambda p: make_othersheet(p, "macrosheet"),
         "dialogsheet": lambda p: make_othersheet(p, "dialogsheet")}[sys.argv[2]](sys.argv[3])
    elif cmd == "broken":
        broken(sys.argv[2], sys.argv[3])
    elif cmd == "protection":
        json.dump(protection(sys.argv[2]), sys.stdout, ensure_ascii=False)
    elif cmd == "cells":
        make_cells(sys.argv[2], json.load(sys.stdin))
    elif cmd == "read":
        json.dump(read(sys.argv[2], len(sys.argv) > 3 and sys.argv[3] == "recalc"), sys.stdout,
                  ensure_ascii=False)
    elif cmd == "inspect":
        json.dump(inspect(sys.argv[2]), sys.stdout, ensure_ascii=False)
    else:
        sys.exit("unknown command " + cmd)


if __name__ == "__main__":
    main()
