# Checks the lookup records of an .xls workbook (INDEX, DBCELL, EXTSST) that readers may trust
# without reading every record: each must point where it says. Exit status 1 when one does not.
# With --text-records: prints, as JSON, which record holds each text cell ("row,col": "labelsst" or
# "label"; a workbook of one sheet).
import json
import struct
import sys

from xlrd import compdoc


def check(path):
    data = compdoc.CompDoc(open(path, "rb").read()).get_named_stream("Workbook")
    records, order, pos = {}, [], 0
    while pos + 4 <= len(data):
        rid, size = struct.unpack("<HH", data[pos:pos + 4])
        records[pos] = (rid, size)
        order.append(pos)
        pos += 4 + size
    problems = []
    for pos in order:
        rid, size = records[pos]
        body = data[pos + 4:pos + 4 + size]
        if rid == 0x020B:  # INDEX
            defcolwidth = struct.unpack("<I", body[12:16])[0]
            if defcolwidth and records.get(defcolwidth, (0,))[0] != 0x0055:
                problems.append("INDEX at %d: DEFCOLWIDTH position %d" % (pos, defcolwidth))
            for i in range((size - 16) // 4):
                db = struct.unpack("<I", body[16 + 4 * i:20 + 4 * i])[0]
                if records.get(db, (0,))[0] != 0x00D7:
                    problems.append("INDEX at %d: DBCELL %d at %d" % (pos, i, db))
                    continue
                dbody = data[db + 4:db + 4 + records[db][1]]
                first_row = db - struct.unpack("<I", dbody[:4])[0]
                if records.get(first_row, (0,))[0] != 0x0208:
                    problems.append("DBCELL at %d: first ROW at %d" % (db, first_row))
                    continue
                cell = first_row + 20
                for k in range((len(dbody) - 4) // 2):
                    cell += struct.unpack("<H", dbody[4 + 2 * k:6 + 2 * k])[0]
                    if cell not in records or records[cell][0] in (0x0208, 0x00D7):
                        problems.append("DBCELL at %d: row %d's first cell at %d" % (db, k, cell))
                        break
        elif rid == 0x00FF:  # EXTSST
            for i in range((size - 2) // 8):
                at, offset = struct.unpack("<IH", body[2 + 8 * i:8 + 8 * i])
                if records.get(at - offset, (0,))[0] not in (0x00FC, 0x003C):
                    problems.append("EXTSST bucket %d: string at %d" % (i, at))
    return problems


def text_records(path):
    data = compdoc.CompDoc(open(path, "rb").read()).get_named_stream("Workbook")
    forms, pos = {}, 0
    while pos + 4 <= len(data):
        rid, size = struct.unpack("<HH", data[pos:pos + 4])
        if rid in (0x00FD, 0x0204) and size >= 4:
            row, col = struct.unpack("<HH", data[pos + 4:pos + 8])
            forms["%d,%d" % (row, col)] = "labelsst" if rid == 0x00FD else "label"
        pos += 4 + size
    return forms


if __name__ == "__main__":
    if sys.argv[1] == "--text-records":
        json.dump(text_records(sys.argv[2]), sys.stdout)
        sys.exit(0)
    found = check(sys.argv[1])
    for p in found:
        print(p)
    sys.exit(1 if found else 0)
