#!/usr/bin/env python3
# Workbooks for the .xlsx tests made by openpyxl (a writer we did not write), hostile packages, and
# a dump of what openpyxl reads back from ours as JSON.
# Usage: xlsx_books.py blank <out.xlsx> | bomb <out.xlsx> | entities <out.xlsx> | seeds <dir>
#        | dump <in.xlsx> | salesblank <out.xlsx> [columnar|form|columnar-drawn|form-drawn]
#        | producer <out.xlsx> <forms>
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


def png(colour):
    import io
    from PIL import Image as PilImage
    out = io.BytesIO()
    PilImage.new("RGB", (40, 20), colour).save(out, "PNG")
    out.seek(0)
    return out


def drawn(ws, picture, chart_at, over, note):
    """What a user draws on a blank: a picture, a chart over the band's amounts, a note."""
    from openpyxl.chart import LineChart, Reference
    from openpyxl.comments import Comment
    from openpyxl.drawing.image import Image
    ws.add_image(Image(png("red")), picture)
    chart = LineChart()
    chart.add_data(Reference(ws, min_col=over[0], min_row=over[1], max_row=over[1]))
    ws.add_chart(chart, chart_at)
    ws[note].comment = Comment("a note", "lw")


def salesblank(path, form=False, draw=False):
    """The blank over the generator test's SALES table, as a user would arrange it; draw: with a
    picture and a note in the band (the form's block) and a chart over it above."""
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
        if draw:
            drawn(ws, "D1", "D2", (2, 4), "B4")
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
        if draw:
            drawn(ws, "I4", "J1", (4, 4), "B4")
    other = wb.create_sheet("Notes")
    other["A1"] = "Total"
    other["B1"] = "=Sales!D6" if not form else "=Sales!B4"
    if draw:
        # A chart on another sheet over the band's amount.
        from openpyxl.chart import BarChart, Reference
        chart = BarChart()
        chart.add_data(Reference(ws, min_col=2 if form else 4, min_row=4, max_row=4))
        other.add_chart(chart, "A3")
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


def note_shapes(path):
    """Per sheet name, the cells (row, column) of the note shapes in the VML its legacyDrawing names:
    what Excel shows comments by, and openpyxl does not read."""
    import posixpath
    import re

    def attr(tag, name):
        m = re.search(r'\s%s="([^"]*)"' % re.escape(name), tag)
        return m.group(1) if m else None

    def rels(z, part):
        folder, name = posixpath.split(part)
        try:
            text = z.read(posixpath.join(folder, "_rels", name + ".rels")).decode()
        except KeyError:
            return {}
        out = {}
        for tag in re.findall(r"<Relationship\b[^>]*>", text):
            target = attr(tag, "Target")
            out[attr(tag, "Id")] = target[1:] if target.startswith("/") else posixpath.normpath(posixpath.join(folder, target))
        return out

    z = zipfile.ZipFile(path)
    book = rels(z, "xl/workbook.xml")
    out = {}
    for tag in re.findall(r"<sheet\b[^>]*>", z.read("xl/workbook.xml").decode()):
        sheet = book.get(attr(tag, "r:id"))
        m = re.search(r'<legacyDrawing\b[^>]*\sr:id="([^"]*)"', z.read(sheet).decode())
        cells = []
        if m:
            vml = z.read(rels(z, sheet)[m.group(1)]).decode("latin-1")
            for data in re.findall(r'ObjectType="Note".*?</(?:[\w.-]+:)?ClientData>', vml, re.S):
                row = re.search(r"<(?:[\w.-]+:)?Row>\s*(\d+)", data)
                col = re.search(r"<(?:[\w.-]+:)?Column>\s*(\d+)", data)
                cells.append([int(row.group(1)), int(col.group(1))])
        out[attr(tag, "name")] = cells
    return out


def dump(path):
    from openpyxl import load_workbook
    wb = load_workbook(path)
    out = {"sheets": [], "names": {}}
    notes = note_shapes(path)
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
            "charts": [{"row": ch.anchor._from.row, "col": ch.anchor._from.col,
                        "refs": [s.val.numRef.f for s in ch.series if s.val and s.val.numRef]}
                       for ch in ws._charts],
            "images": [[im.anchor._from.row, im.anchor._from.col] for im in ws._images],
            "note_shapes": notes.get(ws.title, []),
        })
    json.dump(out, sys.stdout)


if __name__ == "__main__":
    kind, arg = sys.argv[1], sys.argv[2]
    if kind == "salesblank":
        mode = sys.argv[3] if len(sys.argv) > 3 else "columnar"
        salesblank(arg, mode.startswith("form"), mode.endswith("drawn"))
        sys.exit(0)
    if kind == "producer":
        producer(arg, sys.argv[3] if len(sys.argv) > 3 else "")
        sys.exit(0)
    {"blank": blank, "bomb": bomb, "entities": entities, "seeds": seeds, "dump": dump}[kind](arg)
