#!/usr/bin/env python3
# Workbooks for the .xlsx tests made by openpyxl (a writer we did not write), hostile packages, and
# a dump of what openpyxl reads back from ours as JSON.
# Usage: xlsx_books.py blank <out.xlsx> | bomb <out.xlsx> | entities <out.xlsx> | seeds <dir>
#        | dump <in.xlsx> | producer <out.xlsx> <forms>
import json
import sys
import zipfile


def blank(path):
    from openpyxl import Workbook
    from openpyxl.styles import Font
    from openpyxl.worksheet.datavalidation import DataValidation
    from openpyxl.formatting.rule import CellIsRule
    from openpyxl.styles import PatternFill
    wb = Workbook()
    ws = wb.active
    ws.title = "Sales"
    ws["A1"] = "Sales of ${REPORT}"
    ws["A1"].font = Font(bold=True, size=14)
    ws.merge_cells("A1:C1")
    ws["A3"], ws["B3"], ws["C3"] = "Name", "Amount", "Day"
    ws["A4"], ws["B4"], ws["C4"] = "${NAME}", "${AMOUNT}", "${DAY}"
    ws["D4"] = "=B4*2"
    ws["B6"] = "=SUM(B4:B4)"
    ws["C6"] = '="B4"&COUNT(B4:B4)'
    ws["E1"] = "=B6"
    ws.column_dimensions["A"].width = 30
    ws.row_dimensions[3].height = 24
    ws.print_title_rows = "3:3"
    ws.print_area = "A1:D6"
    dv = DataValidation(type="whole", operator="greaterThan", formula1="0")
    ws.add_data_validation(dv)
    dv.add("B4")
    ws.conditional_formatting.add("B4", CellIsRule(operator="greaterThan", formula=["100"],
                                                   fill=PatternFill("solid", start_color="FFFF00")))
    other = wb.create_sheet("Notes")
    other["A1"] = "Total"
    other["B1"] = "=Sales!B6"
    other["A2"] = "shared"
    for r in range(3, 6):
        other.cell(row=r, column=1, value=r)
        other.cell(row=r, column=2, value="=A%d*10" % r)
    wb.save(path)


def salesblank(path, form=False):
    """The blank over the generator test's SALES table, as a user would arrange it."""
    from openpyxl import Workbook
    from openpyxl.styles import Font
    from openpyxl.worksheet.datavalidation import DataValidation
    wb = Workbook()
    ws = wb.active
    ws.title = "Sales"
    if form:
        ws["A1"] = "Card ${#}"
        ws["A1"].font = Font(bold=True)
        ws.merge_cells("A1:B1")
        ws["A2"], ws["B2"] = "Name", "${NAME}"
        ws["A3"], ws["B3"] = "Day", "${DAY}"
        ws["A4"], ws["B4"] = "Amount", "${AMOUNT}"
        ws["C4"] = "=B4*2"
        ws.print_area = "A1:C4"
        from openpyxl.worksheet.table import Table
        ws["A6"], ws["B6"], ws["A7"], ws["B7"] = "Kind", "Note", "card", "kept"
        ws.add_table(Table(displayName="CardTable", ref="A6:B7"))
    else:
        ws["A1"] = "Sales of ${REPORT}"
        ws["A1"].font = Font(bold=True, size=14)
        ws.merge_cells("A1:C1")
        ws["A3"], ws["B3"], ws["C3"], ws["D3"], ws["E3"] = "No", "Name", "Day", "Amount", "Paid"
        ws["A4"], ws["B4"], ws["C4"], ws["D4"], ws["E4"] = "${#}", "${NAME}", "${DAY}", "${AMOUNT}", "${PAID}"
        ws["F4"] = "=D4*2"
        ws["G4"] = "${BIG}"
        ws["D4"].number_format = "0.00"
        ws["D6"] = "=SUM(D4:D4)"
        ws["E6"] = '="D4"&COUNT(D4:D4)'
        ws["H1"] = "=D6"
        ws.print_title_rows = "3:3"
        ws.print_area = "A1:G6"
        dv = DataValidation(type="decimal", operator="greaterThan", formula1="0")
        ws.add_data_validation(dv)
        dv.add("D4")
        ws.column_dimensions["B"].width = 25
        # What else a user puts in a blank: a table over the header and the band, a note on the
        # total, a chart of the band's amounts below it.
        from openpyxl.comments import Comment
        from openpyxl.chart import BarChart, Reference
        from openpyxl.worksheet.table import Table
        ws["F3"], ws["G3"] = "Twice", "Big"
        ws.add_table(Table(displayName="SalesTable", ref="A3:G4"))
        ws["D6"].comment = Comment("the total", "lw")
        chart = BarChart()
        chart.add_data(Reference(ws, min_col=4, min_row=4, max_row=4))
        ws.add_chart(chart, "J8")
    other = wb.create_sheet("Notes")
    other["A1"] = "Total"
    other["B1"] = "=Sales!D6" if not form else "=Sales!B4"
    wb.save(path)


def bomb(path):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("[Content_Types].xml", "<Types/>")
        z.writestr("xl/worksheets/sheet1.xml", b"\0" * (300 << 20))


def entities(path):
    import io
    import re
    src = io.BytesIO()
    blank(src)
    src.seek(0)
    doctype = ('<!DOCTYPE workbook [<!ENTITY a "aaaaaaaaaa">'
               + "".join('<!ENTITY %s "%s">' % (chr(98 + i), ("&%s;" % chr(97 + i)) * 10) for i in range(8))
               + ']>')
    with zipfile.ZipFile(src) as zin, zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as zout:
        for item in zin.infolist():
            data = zin.read(item.filename)
            if item.filename == "xl/workbook.xml":
                text = re.sub(r"^<\?xml[^>]*\?>", "", data.decode())
                text = text.replace("<workbookPr/>", "<workbookPr codeName=\"&i;\"/>")
                data = ('<?xml version="1.0"?>' + doctype + text).encode()
            zout.writestr(item, data)


MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
STRICT_MAIN = "http://purl.oclc.org/ooxml/spreadsheetml/main"
RELS = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
STRICT_RELS = "http://purl.oclc.org/ooxml/officeDocument/relationships"

# What Excel writes and openpyxl does not: rows and cells without "r", shared strings of rich text
# runs with phonetic runs, formula strings, errors and ISO dates.
EXCEL_ROWS = ('<sheetData>'
              '<row spans="1:4"><c t="s"><v>0</v></c><c s="0" t="s"><v>1</v></c></row>'
              '<row r="2"><c><v>2.5</v></c><c t="str"><f>A2&amp;"x"</f><v>2.5x</v></c>'
              '<c t="e"><v>#DIV/0!</v></c><c r="E2" t="d"><v>2024-03-01T12:00:00</v></c></row>'
              '<row><c r="B3" t="inlineStr"><is><r><t>${AM</t></r><r><rPr><b/></rPr><t>OUNT}</t></r>'
              '<rPh sb="0" eb="1"><t>x</t></rPh></is></c></row>'
              '</sheetData>')
EXCEL_STRINGS = ('<sst xmlns="%s" count="2" uniqueCount="2">'
                 '<si><r><rPr><b/><sz val="11"/></rPr><t>${NA</t></r><r><t>ME}</t></r>'
                 '<rPh sb="0" eb="1"><t>\u30cd\u30fc\u30e0</t></rPh><phoneticPr fontId="0" type="noConversion"/></si>'
                 '<si><t xml:space="preserve">plain</t></si></sst>' % MAIN)


def producer(path, forms):
    """An openpyxl blank with its parts rewritten as other producers write them. forms, comma
    separated: excel (EXCEL_ROWS and a shared string part), norefs (no "r" on rows and cells),
    prefixed (x:, pr:, ct: prefixes instead of default namespaces), strict (Strict Open XML)."""
    import io
    import re
    from openpyxl import Workbook
    forms = [f for f in forms.split(",") if f]
    wb = Workbook()
    ws = wb.active
    ws.title = "Sales"
    ws["A1"], ws["B1"], ws["A2"], ws["B2"] = "${NAME}", "plain", 2.5, "=A2*2"
    src = io.BytesIO()
    wb.save(src)
    src.seek(0)
    with zipfile.ZipFile(src) as zin:
        parts = {i.filename: zin.read(i.filename).decode() for i in zin.infolist()}
    ml = lambda n: n.startswith("xl/") and n.endswith(".xml") and not n.startswith("xl/theme")
    if "excel" in forms:
        sheet = parts["xl/worksheets/sheet1.xml"]
        parts["xl/worksheets/sheet1.xml"] = re.sub(r"<sheetData>.*</sheetData>", lambda m: EXCEL_ROWS, sheet)
        parts["xl/sharedStrings.xml"] = EXCEL_STRINGS
        parts["xl/_rels/workbook.xml.rels"] = parts["xl/_rels/workbook.xml.rels"].replace(
            "</Relationships>", '<Relationship Type="%s/sharedStrings" Target="sharedStrings.xml" Id="rIdS"/>'
            "</Relationships>" % RELS)
        parts["[Content_Types].xml"] = parts["[Content_Types].xml"].replace(
            "</Types>", '<Override PartName="/xl/sharedStrings.xml" ContentType="application/'
            'vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/></Types>')
    if "norefs" in forms:
        for name in [n for n in parts if n.startswith("xl/worksheets/")]:
            parts[name] = re.sub(r"<(c|row)\b[^>]*>", lambda m: re.sub(r'\sr="[^"]*"', "", m.group(0)), parts[name])
    if "prefixed" in forms:
        def prefix(text, uri, p):
            text = re.sub(r"<(/?)([A-Za-z_][\w.]*)(?=[\s/>])", r"<\1%s:\2" % p, text)
            return text.replace('xmlns="%s"' % uri, 'xmlns:%s="%s"' % (p, uri))
        for name in list(parts):
            if ml(name):
                parts[name] = prefix(parts[name], MAIN, "x")
            elif name.endswith(".rels"):
                parts[name] = prefix(parts[name], "http://schemas.openxmlformats.org/package/2006/relationships", "pr")
            elif name == "[Content_Types].xml":
                parts[name] = prefix(parts[name], "http://schemas.openxmlformats.org/package/2006/content-types", "ct")
    if "strict" in forms:
        for name in list(parts):
            parts[name] = parts[name].replace(MAIN, STRICT_MAIN).replace(RELS, STRICT_RELS)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as zout:
        for name, text in parts.items():
            zout.writestr(name, text.encode())


def seeds(folder):
    blank(folder + "/openpyxl.xlsx")
    salesblank(folder + "/columnar.xlsx")
    salesblank(folder + "/form.xlsx", True)
    entities(folder + "/entities.xlsx")
    producer(folder + "/prefixed.xlsx", "excel,norefs,prefixed")


def dump(path):
    from openpyxl import load_workbook
    wb = load_workbook(path)
    out = {"sheets": [], "names": {}}
    for name, dn in wb.defined_names.items() if hasattr(wb.defined_names, "items") else []:
        out["names"][name] = dn.attr_text
    for ws in wb.worksheets:
        cells = {}
        for row in ws.iter_rows():
            for c in row:
                if c.value is None:
                    continue
                v = c.value
                if hasattr(v, "isoformat"):
                    v = v.isoformat()
                cells[c.coordinate] = [type(c.value).__name__, v if not isinstance(v, (bytes,)) else str(v),
                                       c.number_format, bool(c.font and c.font.b)]
        out["sheets"].append({
            "title": ws.title,
            "max_row": ws.max_row,
            "cells": cells,
            "merged": sorted(str(m) for m in ws.merged_cells.ranges),
            "validation": sorted(str(dv.sqref) for dv in ws.data_validations.dataValidation),
            "conditional": sorted(str(cf.sqref) for cf in ws.conditional_formatting),
            "print_area": ws.print_area,
            "print_titles": ws.print_title_rows,
            "widthA": ws.column_dimensions["A"].width,
            "tables": dict(ws.tables.items()),
            "comments": {c.coordinate: c.comment.text for row in ws.iter_rows() for c in row if c.comment},
            "charts": [{"row": ch.anchor._from.row,
                        "refs": [s.val.numRef.f for s in ch.series if s.val and s.val.numRef]}
                       for ch in ws._charts],
        })
    json.dump(out, sys.stdout)


if __name__ == "__main__":
    kind, arg = sys.argv[1], sys.argv[2]
    if kind == "salesblank":
        salesblank(arg, len(sys.argv) > 3 and sys.argv[3] == "form")
        sys.exit(0)
    if kind == "producer":
        producer(arg, sys.argv[3] if len(sys.argv) > 3 else "")
        sys.exit(0)
    {"blank": blank, "bomb": bomb, "entities": entities, "seeds": seeds, "dump": dump}[kind](arg)
