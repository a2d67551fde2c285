#!/usr/bin/python3
# Prints what python3-xlrd reads in an .xls workbook as JSON, for the blank builder's tests: per sheet
# its cells (text or number), each cell's font weight and size, number format and whether it is
# bordered, the column widths, the row heights and the rows repeated when printed.
import json
import sys

import xlrd

book = xlrd.open_workbook(sys.argv[1], formatting_info=True)
out = {"sheets": []}
titles = {}
for name in book.name_obj_list:
    if name.name == "Print_Titles" and name.result is not None:
        for ref in name.result.value:
            titles[ref.coords[0]] = [ref.coords[2], ref.coords[3] - 1]
for index, sheet in enumerate(book.sheets()):
    cells = []
    for r in range(sheet.nrows):
        for c in range(sheet.ncols):
            cell = sheet.cell(r, c)
            if cell.ctype == xlrd.XL_CELL_EMPTY:
                continue
            xf = book.xf_list[cell.xf_index]
            font = book.font_list[xf.font_index]
            cells.append({"row": r, "col": c, "value": cell.value,
                          "weight": font.weight, "height": font.height,
                          "format": book.format_map[xf.format_key].format_str,
                          "border": xf.border.top_line_style != 0 and xf.border.bottom_line_style != 0})
    out["sheets"].append({
        "name": sheet.name, "cells": cells,
        "widths": {str(c): info.width for c, info in sheet.colinfo_map.items()},
        "heights": {str(r): info.height for r, info in sheet.rowinfo_map.items()},
        "titles": titles.get(index)})
json.dump(out, sys.stdout)
