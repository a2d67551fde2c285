#!/usr/bin/python3
# Test helper: makes a blank as a user would, with openpyxl as .xlsx and saved as Excel 97-2003 by
# LibreOffice, holding everything a user arranges around a band; and reads a report back the same
# way (LibreOffice to .xlsx, openpyxl), printing what it holds as JSON.
#   lo_blank.py blank OUT.xls [MODE]     the blank (band at row 4: ${#} ${NAME} ${AMOUNT}); MODE "bench"
#                                        holds only a logo, a chart and a conditional format, "plain" none,
#                                        "before" a sheet before the report's with a chart over the band
#   lo_blank.py read REPORT.xls          the report's pictures, comments, formats, names ... as JSON
#   lo_blank.py records BOOK.xls         the record types of each substream (BIFF8), as JSON
#   lo_blank.py pages REPORT.xls         per page of LibreOffice's PDF export, whether the red logo shows
import io
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile

import openpyxl
from openpyxl.chart import BarChart, Reference
from openpyxl.comments import Comment
from openpyxl.drawing.image import Image
from openpyxl.formatting.rule import CellIsRule
from openpyxl.styles import Font, PatternFill
from openpyxl.worksheet.datavalidation import DataValidation


def png(colour):
    from PIL import Image as PilImage
    out = io.BytesIO()
    PilImage.new("RGB", (40, 20), colour).save(out, "PNG")
    out.seek(0)
    return out


def convert(src, fmt, outdir):
    profile = tempfile.mkdtemp(prefix="lo-profile-")
    try:
        subprocess.run(["soffice", "-env:UserInstallation=file://" + profile, "--headless", "--convert-to", fmt,
                        "--outdir", outdir, src], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=240)
    finally:
        shutil.rmtree(profile, ignore_errors=True)


def make_blank(out, mode):
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "Sales"
    ws["A1"] = "Report ${REPORT}"
    ws["A1"].font = Font(bold=True)
    ws["A3"], ws["B3"], ws["C3"] = "No", "Name", "Amount"
    full = mode not in ("bench", "plain", "before")
    dressed = mode not in ("plain", "before")
    if full:
        ws["B3"].comment = Comment("Client name", "ann")
    ws["A4"], ws["B4"], ws["C4"] = "${#}", "${NAME}", "${AMOUNT}"
    if full:
        ws["C4"].comment = Comment("Amount of the sale", "ann")
    ws["A6"] = "Total"
    ws["C6"] = "=SUM(C4:C4)"
    ws["D6"] = "=COUNT(C4:C4)"
    ws["E6"] = "=MAX(C4:C4)*2+1"
    ws["A8"] = "site"
    if dressed:
        ws.add_image(Image(png("red")), "E1")
        ws.conditional_formatting.add("C4", CellIsRule(operator="lessThan", formula=["0"],
                                                       fill=PatternFill("solid", start_color="FFC7CE")))
        chart = BarChart()
        chart.add_data(Reference(ws, min_col=3, min_row=4, max_row=4), titles_from_data=False)
        chart.set_categories(Reference(ws, min_col=2, min_row=4, max_row=4))
        ws.add_chart(chart, "G2")
    if mode == "before":
        summary = wb.create_sheet("Summary", 0)
        summary["A1"] = "Summary"
        chart = BarChart()
        chart.add_data(Reference(ws, min_col=3, min_row=4, max_row=4), titles_from_data=False)
        summary.add_chart(chart, "B3")
    if full:
        add_the_rest(wb, ws)
    save_as_xls(wb, out)


def add_the_rest(wb, ws):
    ws["A8"].hyperlink = "https://example.org/"
    ws.add_image(Image(png("blue")), "E8")
    dv = DataValidation(type="list", formula1='"a,b,c"', allow_blank=True)
    ws.add_data_validation(dv)
    dv.add("B4")
    ws.auto_filter.ref = "A3:C4"
    wb.defined_names.append(openpyxl.workbook.defined_name.DefinedName("Amounts", attr_text="Sales!$C$4:$C$4"))
    ws["F6"] = "=SUM(Amounts)"
    ws.print_area = "A1:E8"
    ws.print_title_rows = "3:3"
    ws.freeze_panes = "A4"
    ws.sheet_view.zoomScale = 150
    ws.sheet_view.showGridLines = False
    ws.sheet_properties.tabColor = "FF0000"
    hidden = wb.create_sheet("Hidden")
    hidden["A1"] = "kept out of sight"
    hidden.sheet_state = "hidden"


def save_as_xls(wb, out):
    tmp = tempfile.mkdtemp(prefix="lo-blank-")
    try:
        src = os.path.join(tmp, os.path.splitext(os.path.basename(out))[0] + ".xlsx")
        wb.save(src)
        convert(src, "xls", tmp)
        shutil.move(os.path.join(tmp, os.path.basename(src)[:-5] + ".xls"), out)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


def anchor_of(obj):
    m = obj.anchor._from
    return [m.row, m.col]


def read(path):
    tmp = tempfile.mkdtemp(prefix="lo-read-")
    try:
        convert(os.path.abspath(path), "xlsx", tmp)
        wb = openpyxl.load_workbook(os.path.join(tmp, os.path.basename(path)[:-4] + ".xlsx"))
        names = {}
        for dn in wb.defined_names.definedName:
            names[dn.name] = dn.attr_text
        out = {"names": names, "sheets": []}
        for ws in wb.worksheets:
            sheet = {"name": ws.title, "state": ws.sheet_state}
            sheet["images"] = sorted(anchor_of(i) for i in ws._images)
            sheet["charts"] = []
            for ch in ws._charts:
                series = [s.val.numRef.f for s in ch.series if s.val and s.val.numRef]
                sheet["charts"].append({"anchor": anchor_of(ch), "series": series})
            sheet["comments"] = sorted(c.coordinate for row in ws.iter_rows() for c in row if c.comment)
            sheet["cf"] = sorted(str(r.sqref) for r in ws.conditional_formatting)
            sheet["dv"] = sorted(str(d.sqref) for d in ws.data_validations.dataValidation)
            sheet["links"] = sorted(c.coordinate for row in ws.iter_rows() for c in row if c.hyperlink)
            sheet["filter"] = ws.auto_filter.ref
            sheet["print_area"] = ws.print_area
            sheet["print_titles"] = ws.print_title_rows
            sheet["freeze"] = ws.freeze_panes
            sheet["zoom"] = ws.sheet_view.zoomScale
            sheet["gridlines"] = ws.sheet_view.showGridLines
            tab = ws.sheet_properties.tabColor
            sheet["tab"] = tab.rgb if tab is not None and isinstance(tab.rgb, str) else None
            sheet["values"] = {c.coordinate: c.value for row in ws.iter_rows() for c in row if c.value is not None}
            out["sheets"].append(sheet)
        json.dump(out, sys.stdout, default=str)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


def records(path):
    from xlrd import compdoc
    data = compdoc.CompDoc(open(path, "rb").read()).get_named_stream("Workbook")
    pos, subs = 0, []
    while pos + 4 <= len(data):
        rid, size = struct.unpack("<HH", data[pos:pos + 4])
        if rid == 0x0809:
            subs.append([])
        if subs:
            subs[-1].append("%04x" % rid)
        pos += 4 + size
    json.dump(subs, sys.stdout)


def pages(path):
    from PIL import Image as PilImage
    tmp = tempfile.mkdtemp(prefix="lo-pages-")
    try:
        convert(os.path.abspath(path), "pdf", tmp)
        pdf = os.path.join(tmp, os.path.basename(path)[:-4] + ".pdf")
        subprocess.run(["pdftoppm", "-r", "40", "-png", pdf, os.path.join(tmp, "page")], check=True)
        shown = []
        for name in sorted(n for n in os.listdir(tmp) if n.startswith("page") and n.endswith(".png")):
            im = PilImage.open(os.path.join(tmp, name)).convert("RGB")
            red = sum(1 for r, g, b in im.getdata() if r > 200 and g < 60 and b < 60)
            shown.append(red > 4)
        json.dump(shown, sys.stdout)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    if sys.argv[1] == "blank":
        make_blank(sys.argv[2], sys.argv[3] if len(sys.argv) > 3 else "full")
    elif sys.argv[1] == "read":
        read(sys.argv[2])
    elif sys.argv[1] == "pages":
        pages(sys.argv[2])
    elif sys.argv[1] == "records":
        records(sys.argv[2])
    else:
        sys.exit(__doc__)
