#!/usr/bin/python3
# Test helper for the report generator, on libraries we did not write: makes blanks with xlwt from a
# JSON description, and reads workbooks back with xlrd (cells, types, formats, merged cells) as JSON.
import json
import sys

import xlrd
import xlwt


def make_blank(spec_path, out_path):
    spec = json.load(open(spec_path, encoding="utf-8"))
    book = xlwt.Workbook(encoding="utf-8")
    styles = {}

    def style(s):
        key = json.dumps(s or {}, sort_keys=True)
        if key not in styles:
            s = s or {}
            parts = []
            font = []
            if s.get("bold"):
                font.append("bold on")
            if s.get("font"):
                font.append("name " + s["font"])
            if s.get("height"):
                font.append("height %d" % s["height"])
            if font:
                parts.append("font: " + ", ".join(font))
            if s.get("border"):
                parts.append("borders: left thin, right thin, top thin, bottom thin")
            styles[key] = xlwt.easyxf("; ".join(parts), num_format_str=s.get("fmt", "General"))
        return styles[key]

    # Every sheet first, so that formulas can refer to sheets that come after theirs.
    sheets = [book.add_sheet(sh["name"], cell_overwrite_ok=True) for sh in spec["sheets"]]
    for sh, ws in zip(spec["sheets"], sheets):
        merged = set()
        for r1, r2, c1, c2 in sh.get("merge", []):
            first = [c for c in sh["cells"] if c[0] == r1 and c[1] == c1]
            value = first[0][2] if first else ""
            st = style(first[0][3] if first and len(first[0]) > 3 else None)
            ws.write_merge(r1, r2, c1, c2, value, st)
            merged.add((r1, c1))
        for cell in sh["cells"]:
            r, c, value = cell[0], cell[1], cell[2]
            if (r, c) in merged:
                continue
            st = style(cell[3] if len(cell) > 3 else None)
            if isinstance(value, dict) and "f" in value:
                ws.write(r, c, xlwt.Formula(value["f"]), st)
            else:
                ws.write(r, c, value, st)
        for col, width in sh.get("widths", {}).items():
            ws.col(int(col)).width = width
        for row, height in sh.get("heights", {}).items():
            ws.row(int(row)).height_mismatch = True
            ws.row(int(row)).height = height
        if sh.get("breaks"):
            ws.horz_page_breaks = [(b, 0, 255) for b in sh["breaks"]]
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
        })
    json.dump(out, sys.stdout)


if __name__ == "__main__":
    if sys.argv[1] == "blank":
        make_blank(sys.argv[2], sys.argv[3])
    elif sys.argv[1] == "dump":
        dump(sys.argv[2])
    else:
        sys.exit("usage: books.py blank SPEC.json OUT.xls | dump BOOK.xls")
