#!/usr/bin/python3
# A stand-in spreadsheet program for the blank builder's tests, set as "EXCEL" "Program". Each start
# appends its arguments to $LW_SHEET_LOG and does the next of the comma-separated $LW_SHEET_MODES to
# the workbook (its last argument), as a user in a spreadsheet program would, then exits:
#   edit     moves the cells one row down under a new title (through xlrd and xlwt), dropping
#            a cell that names NO_SUCH_FIELD
#   unknown  adds a cell holding the marker ${NO_SUCH_FIELD}
#   empty    saves a workbook without any marker
#   lo       LibreOffice opens the blank and saves it back as Excel 97-2003
#   xlsx     LibreOffice saves it as .xlsx, under the .xls name
#   hold     keeps LibreOffice's lock file beside it until $LW_SHEET_GO exists (at most 20 s)
#   keep     changes nothing
#   ods      saves the work as an .ods of the same name beside it, leaving the blank as it was (the
#            "keep the format?" question answered with the other button)
import os
import subprocess
import sys
import tempfile
import time

path = sys.argv[-1]
with open(os.environ["LW_SHEET_LOG"], "a", encoding="utf-8") as log:
    log.write("\t".join(sys.argv[1:]) + "\n")
modes = os.environ.get("LW_SHEET_MODES", "keep").split(",")
counter = os.environ["LW_SHEET_LOG"] + ".n"
n = int(open(counter).read()) if os.path.exists(counter) else 0
open(counter, "w").write(str(n + 1))
mode = modes[min(n, len(modes) - 1)]


def rewrite(extra):
    import xlrd
    import xlwt
    book = xlrd.open_workbook(path)
    out = xlwt.Workbook()
    for sheet in book.sheets():
        target = out.add_sheet(sheet.name)
        target.write(0, 0, "Arranged by hand")
        for r in range(sheet.nrows):
            for c in range(sheet.ncols):
                value = sheet.cell_value(r, c)
                dropped = "${" in str(value) if extra == "empty" else "NO_SUCH_FIELD" in str(value)
                if value != "" and not dropped:
                    target.write(r + 1, c, value)
        if extra == "unknown":
            target.write(sheet.nrows + 2, 0, "Total: ${NO_SUCH_FIELD}")
    out.save(path)


def libreoffice(fmt):
    profile = os.environ.get("LW_SHEET_LO_PROFILE") or tempfile.mkdtemp()
    with tempfile.TemporaryDirectory() as outdir:
        subprocess.run(["soffice", "-env:UserInstallation=file://" + profile, "--headless",
                        "--convert-to", fmt, "--outdir", outdir, path],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        made = [f for f in os.listdir(outdir)]
        os.replace(os.path.join(outdir, made[0]), path)


if mode in ("edit", "unknown", "empty"):
    rewrite(mode)
elif mode == "lo":
    libreoffice("xls:MS Excel 97")
elif mode == "xlsx":
    libreoffice("xlsx")
elif mode == "ods":
    with open(os.path.splitext(path)[0] + ".ods", "wb") as ods:
        ods.write(b"PK\x03\x04 an OpenDocument spreadsheet stands here")
elif mode == "hold":
    lock = os.path.join(os.path.dirname(path), ".~lock." + os.path.basename(path) + "#")
    open(lock, "w").write("Tess Tester,tester,sheethost,07.12.2026 10:00,file:///home/tester/.config/lo;\n")
    go = os.environ.get("LW_SHEET_GO", "")
    for _ in range(400):
        if go and os.path.exists(go):
            break
        time.sleep(0.05)
    os.remove(lock)
