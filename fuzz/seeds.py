#!/usr/bin/env python3
"""Seed corpora of the fuzz targets: the real-world workbooks of a folder, and small
packages built here around hand-written worksheets of odd shapes.

usage: seeds.py CORPUS_DIR PACKAGE_SEEDS PARTS_SEEDS"""
import io
import os
import sys
import zipfile

MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"


def sheet(data, before="", after=""):
    return ('<?xml version="1.0" encoding="UTF-8"?><worksheet xmlns="%s" xmlns:r="%s">'
            '%s<sheetData>%s</sheetData>%s</worksheet>' % (MAIN, REL, before, data, after))


SHEETS = [
    sheet('<row r="1"><c r="A1" t="inlineStr"><is><t>a1</t></is></c><c r="B1"><v>1</v></c></row>'),
    sheet('<row r="2"><c r="A2" t="s"><v>0</v></c><c r="B2"><f>A2&amp;"a"</f><v>a</v></c></row>'),
    sheet('<row r="1"><c r="A1"><f t="shared" ref="A1:A3" si="0">B1+1</f><v>1</v></c></row>'
          '<row r="2"><c r="A2"><f t="shared" si="0"/><v>1</v></c></row>'),
    sheet('<row r="1"><c r="A1"><f t="array" ref="A1:XFD1048576">1</f><v>1</v></c></row>'),
    sheet('<row r="1"><c r="A1" t="inlineStr"><is><t>line\r\nbreak e</t></is></c></row>'),
    sheet('', before='<dimension ref="A1"/>').replace('<sheetData></sheetData>',
                                                      '<sheetData/><sheetData><row r="3"><c r="C3"><v>3</v></c></row></sheetData>'),
    sheet('<row r="1" spans="1:2"><c r="A1" t="str"><f>"a"</f><v>a</v></c><c t="b"><v>1</v></c></row><row/>'),
    sheet('<row r="5"><c r="E5" t="e"><v>#N/A</v></c><c r="F5" t="d"><v>2024-01-31</v></c></row>',
          after='<sheetProtection sheet="1"/><tableParts count="0"/>'),
]
STRINGS = ('<?xml version="1.0" encoding="UTF-8"?><sst xmlns="%s" count="2" uniqueCount="2">'
           '<si><t>a string</t></si><si><r><t>ri</t></r><r><rPr><b/></rPr><t>ch e</t></r>'
           '<rPh sb="0" eb="1"><t>x</t></rPh></si></sst>' % MAIN)


def package(sheet_xml, strings=STRINGS, utf16=False):
    ct = ('<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/'
          'package/2006/content-types"><Default Extension="rels" ContentType="application/'
          'vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" '
          'ContentType="application/xml"/><Override PartName="/xl/workbook.xml" ContentType="'
          'application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/></Types>')
    rels = ('<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.'
            'openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="%s/'
            'officeDocument" Target="xl/workbook.xml"/></Relationships>' % REL)
    wb = ('<?xml version="1.0" encoding="UTF-8"?><workbook xmlns="%s" xmlns:r="%s"><sheets>'
          '<sheet name="S1" sheetId="1" r:id="rId1"/><sheet name="H" sheetId="2" r:id="" '
          'state="veryHidden"/></sheets></workbook>' % (MAIN, REL))
    wbrels = ('<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.'
              'openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="%s/'
              'worksheet" Target="worksheets/sheet1.xml"/><Relationship Id="rId2" Type="%s/'
              'sharedStrings" Target="sharedStrings.xml"/></Relationships>' % (REL, REL))
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("[Content_Types].xml", ct)
        z.writestr("_rels/.rels", rels)
        z.writestr("xl/workbook.xml", wb)
        z.writestr("xl/_rels/workbook.xml.rels", wbrels)
        data = sheet_xml.encode("utf-8")
        if utf16:
            data = sheet_xml.replace('encoding="UTF-8"', 'encoding="UTF-16"').encode("utf-16")
        z.writestr("xl/worksheets/sheet1.xml", data)
        z.writestr("xl/sharedStrings.xml", strings)
    return out.getvalue()


def main():
    corpus, pkg_dir, parts_dir = sys.argv[1:4]
    os.makedirs(pkg_dir, exist_ok=True)
    os.makedirs(parts_dir, exist_ok=True)
    n = 0

    def put(folder, data):
        nonlocal n
        n += 1
        with open(os.path.join(folder, "seed%04d" % n), "wb") as f:
            f.write(data)

    for i, s in enumerate(SHEETS):
        for choice in (0x00, 0x01, 0x22, 0x47, 0x63):
            put(pkg_dir, bytes([choice ^ i]) + package(s, utf16=(choice == 0x47)))
            put(parts_dir, bytes([choice ^ i]) + s.encode() + b"\0\0" + STRINGS.encode())
    names = sorted(os.listdir(corpus)) if os.path.isdir(corpus) else []
    for name in names:
        path = os.path.join(corpus, name)
        if not name.lower().endswith((".xlsx", ".xlsm")) or os.path.getsize(path) > 1 << 20:
            continue
        data = open(path, "rb").read()
        put(pkg_dir, b"\x00" + data)
        put(pkg_dir, b"\x21" + data)
        try:
            with zipfile.ZipFile(io.BytesIO(data)) as z:
                sheets = [x for x in z.namelist() if x.startswith("xl/worksheets/sheet")]
                strings = z.read("xl/sharedStrings.xml") if "xl/sharedStrings.xml" in z.namelist() else b""
                for s in sheets[:2]:
                    body = z.read(s)
                    if len(body) < 200000:
                        put(parts_dir, b"\x02" + body + b"\0\0" + strings[:200000])
        except (zipfile.BadZipFile, KeyError, RuntimeError, NotImplementedError):
            pass
    # The workbook streams of the .xls files, after the default workbook part.
    workbook = ('<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
                'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">'
                '<sheets><sheet name="S" sheetId="1" r:id="rId1"/></sheets></workbook>')
    for name in names:
        if not name.lower().endswith(".xls"):
            continue
        try:
            from xlrd import compdoc
            doc = compdoc.CompDoc(open(os.path.join(corpus, name), "rb").read(), logfile=io.StringIO())
            stream = doc.get_named_stream("Workbook") or doc.get_named_stream("Book")
        except Exception:  # noqa: BLE001 (encrypted or damaged: no seed)
            continue
        if stream and len(stream) < 500000:
            put(parts_dir, b"\x00" + SHEETS[0].encode() + b"\0\0" + STRINGS.encode() + b"\0\0" +
                workbook.encode() + b"\0\0" + stream)
    print("%d seeds" % n)


if __name__ == "__main__":
    main()
