# Prints what python3-xlrd reads from an .xls workbook as JSON: sheets, cells with their types,
# values and formats, merged cells, column widths, row heights, page breaks and print titles.
import json
import sys

import xlrd

TYPES = {0: "empty", 1: "text", 2: "number", 3: "date", 4: "boolean", 5: "error", 6: "blank"}


def dump(path):
    book = xlrd.open_workbook(path, formatting_info=True, on_demand=False)
    out = {"datemode": book.datemode, "sheets": []}
    titles = {}
    for name in book.name_obj_list:
        result = name.result
        if name.builtin and name.name == "Print_Titles" and result is not None and result.kind == xlrd.oREF:
            for ref in result.value:
                first_sheet, last_sheet, first_row, end_row, first_col, end_col = ref.coords
                titles[name.scope] = [first_row, end_row - 1]
    for index, sheet in enumerate(book.sheets()):
        cells = []
        for r in range(sheet.nrows):
            for c in range(sheet.ncols):
                cell = sheet.cell(r, c)
                if cell.ctype == 0:
                    continue
                xf = book.xf_list[cell.xf_index]
                font = book.font_list[xf.font_index]
                fmt = book.format_map[xf.format_key].format_str
                cells.append({"row": r, "col": c, "type": TYPES[cell.ctype], "value": cell.value,
                              "format": fmt, "bold": font.weight >= 700, "italic": bool(font.italic),
                              "font": font.name, "height": font.height,
                              "border": xf.border.left_line_style, "halign": xf.alignment.hor_align,
                              "wrap": xf.alignment.text_wrapped})
        widths = {str(c): info.width for c, info in sheet.colinfo_map.items()}
        heights = {str(r): [info.height, info.has_default_height] for r, info in sheet.rowinfo_map.items()}
        out["sheets"].append({"name": sheet.name, "cells": cells,
                              "merged": [list(m) for m in sheet.merged_cells],
                              "widths": widths, "heights": heights,
                              "breaks": [b[0] for b in sheet.horizontal_page_breaks],
                              "titles": titles.get(index)})
    return out


if __name__ == "__main__":
    json.dump(dump(sys.argv[1]), sys.stdout)
