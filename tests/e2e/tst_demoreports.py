#!/usr/bin/env python3
"""The demo reports as a spreadsheet program sees them.

The report generator (in --batch mode) fills each demo definition's prepared blank; LibreOffice
(headless) then opens every report, recalculates it and exports it as CSV (one file per sheet) and PDF.
The values are compared with the demo data read by programs we did not write: Python's sqlite3 module
for the SQLite alias, dbfread for the dBASE tables. The totals under the band must be LibreOffice's own
sums of the records.

Usage: tst_demoreports.py BUILD_DIR
"""
import configparser
import csv
import datetime
import glob
import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import unittest

import dbfread

BUILD = os.path.abspath(sys.argv.pop(1)) if len(sys.argv) > 1 else os.path.abspath("build")
DEMO = os.path.join(BUILD, "demo")

# Every sheet to its own CSV file, raw values (not as shown), UTF-8.
CSV_FILTER = "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false,false,-1"


def number(text):
    try:
        return float(text)
    except ValueError:
        return None


class DemoReports(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="lw-demoreports-")
        cls.reports = {}
        env = dict(os.environ)
        env["LEDGERWICK_ALIASES"] = os.path.join(DEMO, "aliases.ini")
        env["QT_QPA_PLATFORM"] = "offscreen"
        env.pop("LEDGERWICK_WINDOW", None)
        for name, ext in (("sales", ".xls"), ("orders", ".xls"), ("clients", ".xls"), ("regions", ".xlsx")):
            # The definition and its blank copied; the workbook path then derives from the copy's place.
            src = os.path.join(DEMO, "reports", name)
            shutil.copy(src + ext, cls.work)
            pr = configparser.RawConfigParser(strict=False, interpolation=None)
            pr.optionxform = str
            pr.read(src + ".pr", encoding="utf-8")
            pr["REPORT"]["Excel"] = os.path.join(cls.work, name + ext)
            with open(os.path.join(cls.work, name + ".pr"), "w", encoding="utf-8") as f:
                pr.write(f, space_around_delimiters=False)
            run = subprocess.run([os.path.join(BUILD, "VORTAL1"), "--batch", os.path.join(cls.work, name + ".pr")],
                                 env=env, capture_output=True, text=True, timeout=120)
            if run.returncode != 0:
                raise AssertionError("VORTAL1 --batch %s: status %d\n%s" % (name, run.returncode, run.stderr))
            cls.reports[name] = os.path.join(cls.work, name + "_report" + ext)

        # One LibreOffice start for every conversion: each report to CSV per sheet and to PDF.
        profile = "file://" + os.path.join(cls.work, "lo-profile")
        files = list(cls.reports.values())
        for target in (CSV_FILTER, "pdf"):
            run = subprocess.run(["soffice", "-env:UserInstallation=" + profile, "--headless", "--convert-to",
                                  target, "--outdir", os.path.join(cls.work, "out")] + files,
                                 capture_output=True, text=True, timeout=300)
            if run.returncode != 0:
                raise AssertionError("soffice: %s %s" % (run.stdout, run.stderr))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def sheets(self, name):
        """The CSV rows of every sheet of a report, by sheet name, in LibreOffice's order."""
        out = os.path.join(self.work, "out")
        found = {}
        for path in sorted(glob.glob(os.path.join(out, name + "_report-*.csv"))):
            sheet = os.path.basename(path)[len(name + "_report-"):-4]
            with open(path, encoding="utf-8") as f:
                found[sheet] = list(csv.reader(f))
        if not found:  # a workbook of one sheet may be exported without the sheet's name
            with open(os.path.join(out, name + "_report.csv"), encoding="utf-8") as f:
                found["?"] = list(csv.reader(f))
        return found

    def band(self, rows, first_field):
        """The header row (the one that starts with the first field's name) and the rows after it."""
        for i, row in enumerate(rows):
            if row and row[0].strip().lower() == first_field.lower():
                return i
        self.fail("no header row starting with %s in %r" % (first_field, rows[:6]))

    def test_pdfs_exist(self):
        for name in self.reports:
            pdf = os.path.join(self.work, "out", name + "_report.pdf")
            self.assertGreater(os.path.getsize(pdf), 1000, pdf)

    def test_columnar_sqlite_with_total(self):
        db = sqlite3.connect("file:%s?mode=ro" % os.path.join(DEMO, "demo.sqlite"), uri=True)
        records = db.execute("SELECT id, region, month, amount FROM sales").fetchall()
        rows = next(iter(self.sheets("sales").values()))
        self.assertEqual(rows[0][0], "Sales by month")
        h = self.band(rows, "id")
        for k, rec in enumerate(records):
            got = rows[h + 1 + k]
            self.assertEqual(number(got[0]), rec[0])
            self.assertEqual(number(got[1]), rec[1])
            self.assertEqual(got[2], rec[2])
            self.assertAlmostEqual(number(got[3]), rec[3], places=6)
        total = [r for r in rows[h + 1 + len(records):] if r and r[0] == "Total"]
        self.assertEqual(len(total), 1, rows)
        self.assertAlmostEqual(number(total[0][3]), sum(r[3] for r in records), places=6)

    def test_columnar_xlsx_with_total(self):
        """The .xlsx demo: the same records in region order, LibreOffice's total, openpyxl's types."""
        db = sqlite3.connect("file:%s?mode=ro" % os.path.join(DEMO, "demo.sqlite"), uri=True)
        records = db.execute("SELECT id, region, month, amount FROM sales ORDER BY region, month").fetchall()
        rows = next(iter(self.sheets("regions").values()))
        self.assertEqual(rows[0][0], "Sales by region")
        h = self.band(rows, "id")
        for k, rec in enumerate(records):
            got = rows[h + 1 + k]
            self.assertEqual(number(got[0]), rec[0])
            self.assertEqual(number(got[1]), rec[1])
            self.assertEqual(got[2], rec[2])
            self.assertAlmostEqual(number(got[3]), rec[3], places=6)
        total = [r for r in rows[h + 1 + len(records):] if r and r[0] == "Total"]
        self.assertEqual(len(total), 1, rows)
        self.assertAlmostEqual(number(total[0][3]), sum(r[3] for r in records), places=6)
        try:
            import openpyxl
        except ImportError:
            self.skipTest("python3-openpyxl is not installed")
        ws = openpyxl.load_workbook(self.reports["regions"]).worksheets[0]
        first = h + 2  # 1-based row of the first record
        self.assertIsInstance(ws.cell(first, 4).value, (int, float))  # a number cell, not text
        self.assertAlmostEqual(ws.cell(first, 4).value, records[0][3], places=6)
        self.assertEqual(ws.cell(first + len(records) + 1, 4).value, "=SUM(D%d:D%d)" % (first, first + len(records) - 1))
        self.assertEqual(ws.print_title_rows.replace("$", ""), "%d:%d" % (h + 1, h + 1))

    def test_columnar_dbase_with_condition(self):
        table = dbfread.DBF(os.path.join(DEMO, "tables", "ORDERS.DBF"))
        records = sorted((r for r in table if r["AMOUNT"] > 100), key=lambda r: r["ORDERED"])
        self.assertLess(len(records), len(list(table)))  # the condition leaves some out
        rows = next(iter(self.sheets("orders").values()))
        h = self.band(rows, "ORDERNO")
        for k, rec in enumerate(records):
            got = rows[h + 1 + k]
            self.assertEqual(number(got[0]), rec["ORDERNO"])
            self.assertAlmostEqual(number(got[3]), float(rec["AMOUNT"]), places=6)
        total = [r for r in rows[h + 1 + len(records):] if r and r[0] == "Total"]
        self.assertEqual(len(total), 1, rows)
        self.assertAlmostEqual(number(total[0][3]), float(sum(r["AMOUNT"] for r in records)), places=6)

    def test_form_on_several_sheets(self):
        records = list(dbfread.DBF(os.path.join(DEMO, "tables", "CLIENTS.DBF")))
        sheets = self.sheets("clients")
        self.assertEqual(set(sheets.keys()), {str(k + 1) for k in range(len(records))})
        for k, rec in enumerate(records):
            rows = sheets[str(k + 1)]
            values = {r[0].strip(): r[1] for r in rows if len(r) > 1 and r[0].strip()}
            self.assertEqual(values["NAME"], rec["NAME"])
            self.assertEqual(values["CITY"], rec["CITY"])
            self.assertEqual(number(values["CUSTNO"]), rec["CUSTNO"])
            since = values["SINCE"]
            serial = number(since)
            if serial is not None:  # a date cell exported as its serial number
                since = (datetime.date(1899, 12, 30) + datetime.timedelta(days=serial)).isoformat()
            self.assertIn(rec["SINCE"].isoformat(), {since} | {since.replace("/", "-")}, values)


if __name__ == "__main__":
    unittest.main(verbosity=2)
