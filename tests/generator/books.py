#!/usr/bin/python3
# Test helper for the report generator, on libraries we did not write: makes blanks with xlwt from a
# JSON description, and reads workbooks back with xlrd (cells, types, formats, merged cells) as JSON.
import json
import sys

import xlrd
import xlwt


def make_blank(layout_path, out_path):
    layout = json.load(open(layout_path, encoding="utf-8"))
    book = xlwt.Workbook(encoding="utf-8")
    styles = {}

    def style(s):
        s = s or {}
        key = json.dumps(s, sort_keys=True)
        if key not in styles:
            font = (["bold on"] if s.get("bold") else []) + (["name " + s["font"]] if s.get("font") else [])
            font += ["height %d" % s["height"]] if s.get("height") else []
            styles[key] = xlwt.easyxf("font: " + ", ".join(font) if font else "",
                                      num_format_str=s.get("fmt", "General"))
        return styles[key]

    # Every sheet first, so that formulas can refer to sheets that come after theirs.
    sheets = [book.add_sheet(sh["name"], cell_overwrite_ok=True) for sh in layout["sheets"]]
    for sh, ws in zip(layout["sheets"], sheets):
        for cell in sh["cells"]:
            value = xlwt.Formula(cell[2]["f"]) if isinstance(cell[2], dict) else cell[2]
            ws.write(cell[0], cell[1], value, style(cell[3] if len(cell) > 3 else None))
        for r1, r2, c1, c2 in sh.get("merge", []):
            ws.merge(r1, r2, c1, c2)
        for col, width in sh.get("widths", {}).items():
            ws.col(int(col)).width = width
        view = sh.get("view", {})
        if "frozen" in view:  # rows frozen at the top
            ws.panes_frozen = True
            ws.horz_split_pos = view["frozen"]
            ws.horz_split_first_visible = view["frozen"]
        if "grid" in view:
            ws.show_grid = view["grid"]
        if "zoom" in view:
            ws.normal_magn = view["zoom"]
            ws.scl_magn = view["zoom"]
        if view.get("hidden"):
            ws.visibility = 1
        for row, height in sh.get("heights", {}).items():
            ws.row(int(row)).height_mismatch = True
            ws.row(int(row)).height = height
    book.save(out_path)


def dump(path):
    book = xlrd.open_workbook(path, formatting_info=True)
    out = {"datemode": book.datemode, "sheets": []}
    titles = {}
    for name in book.name_obj_list:
        if name.builtin and name.name == "Print_Titles" and name.scope >= 0:
            _, rlo, rhi, _, _ = name.area2d(clipped=False)
            titles[name.scope] = [rlo, rhi - 1]
    for index, sh in enumerate(book.sheets()):
        cells = []
        for r in range(sh.nrows):
            for c in range(sh.ncols):
                cell = sh.cell(r, c)
                xf = book.xf_list[cell.xf_index]
                fmt = book.format_map[xf.format_key].format_str
                font = book.font_list[xf.font_index]
                if cell.ctype == xlrd.XL_CELL_EMPTY and cell.xf_index == 15:
                    continue
                value = cell.value
                kind = {0: "empty", 1: "text", 2: "number", 3: "date", 4: "bool", 5: "error", 6: "blank"}[cell.ctype]
                if kind == "date":
                    t = xlrd.xldate_as_tuple(value, book.datemode)
                    value = "%04d-%02d-%02d" % t[:3] if t[3:] == (0, 0, 0) else "%04d-%02d-%02d %02d:%02d:%02d" % t
                cells.append([r, c, kind, value, fmt, font.name, bool(font.bold)])
        out["sheets"].append({
            "name": sh.name,
            "nrows": sh.nrows,
            "cells": cells,
            "merged": sorted([list(m) for m in sh.merged_cells]),
            "widths": {str(k): v.width for k, v in sh.colinfo_map.items()},
            "heights": {str(k): v.height for k, v in sh.rowinfo_map.items() if v.has_default_height == 0},
            "breaks": [b[0] for b in sh.horizontal_page_breaks],
            "titles": titles.get(index, []),
            "notes": sorted([list(k) for k in sh.cell_note_map]),
            "view": {"frozen": sh.horz_split_pos if sh.panes_are_frozen else 0, "grid": bool(sh.show_grid_lines),
                     "zoom": sh.scl_mag_factor, "hidden": bool(sh.visibility),
                     "selected": bool(sh.sheet_selected)},
        })
    json.dump(out, sys.stdout)


if __name__ == "__main__":
    if sys.argv[1] == "blank":
        make_blank(sys.argv[2], sys.argv[3])
    elif sys.argv[1] == "dump":
        dump(sys.argv[2])
    else:
        sys.exit("usage: books.py blank LAYOUT.json OUT.xls | dump BOOK.xls")
