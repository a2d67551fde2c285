#!/bin/sh
# Runs the reader's fuzz target for a bounded time over a seed corpus made now: workbooks of our
# writer and LibreOffice's own save of the test template.
# With "drawings" after them, also a blank made by LibreOffice that holds pictures, comments, a
# chart, conditional formats, validation, a hyperlink and a filter (when openpyxl is there); with
# "--files", the target reads whole files, so the seeds are the workbooks themselves.
# Usage: fuzz_run.sh <fuzz_xls> <lw_xls_seeds> <source dir> <work dir> <seconds> [drawings|--files]
set -eu
fuzzer=$1 seeds=$2 src=$3 work=$4 seconds=$5 extra=${6:-}
files=""
[ "$extra" = --files ] && files=--files
rm -rf "$work"
mkdir -p "$work/corpus" "$work/lo" "$work/profile"
soffice "-env:UserInstallation=file://$work/profile" --headless --norestore \
  --convert-to xls --outdir "$work/lo" "$src/tests/workbook/template.fods" >/dev/null 2>&1
given="$work/lo/template.xls"
if [ "$extra" = drawings ] &&
  /usr/bin/python3 "$src/tests/generator/lo_blank.py" blank "$work/lo/drawings.xls" >/dev/null 2>&1; then
  given="$given $work/lo/drawings.xls"
fi
# shellcheck disable=SC2086 # the seed files, one word each
"$seeds" $files "$work/corpus" $given
cd "$work"
# -malloc_limit_mb: any single allocation above it is a finding (no allocation without bound).
exec "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 -malloc_limit_mb=256 \
  -print_final_stats=1 "$work/corpus"
