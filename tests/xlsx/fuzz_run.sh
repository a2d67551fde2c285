#!/bin/sh
# Runs the .xlsx reader's fuzz target for a bounded time over a seed corpus made now: workbooks that
# openpyxl writes and LibreOffice's own save of the test template.
# Usage: fuzz_run.sh <fuzz_xlsx> <source dir> <work dir> <seconds>
set -eu
fuzzer=$1 src=$2 work=$3 seconds=$4
rm -rf "$work"
mkdir -p "$work/corpus" "$work/lo" "$work/profile"
soffice "-env:UserInstallation=file://$work/profile" --headless --norestore \
  --convert-to xlsx --outdir "$work/lo" "$src/tests/workbook/template.fods" >/dev/null 2>&1 || true
cp "$work/lo/"*.xlsx "$work/corpus/" 2>/dev/null || true
# Debian's interpreter, which has python3-openpyxl, not whatever python3 comes first on the path.
/usr/bin/python3 "$src/tests/xlsx/xlsx_books.py" seeds "$work/corpus" || true
cd "$work"
exec "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 -malloc_limit_mb=256 \
  -print_final_stats=1 "$work/corpus"
