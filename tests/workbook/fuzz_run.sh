#!/bin/sh
# Runs the reader's fuzz target for a bounded time over a seed corpus made now: workbooks of our
# writer and LibreOffice's own save of the test template.
# Usage: fuzz_run.sh <fuzz_xls> <lw_xls_seeds> <source dir> <work dir> <seconds> [--files]
# (--files: the target reads whole files, so the seeds are the workbooks themselves)
set -eu
fuzzer=$1 seeds=$2 src=$3 work=$4 seconds=$5 files=${6:-}
rm -rf "$work"
mkdir -p "$work/corpus" "$work/lo" "$work/profile"
soffice "-env:UserInstallation=file://$work/profile" --headless --norestore \
  --convert-to xls --outdir "$work/lo" "$src/tests/workbook/template.fods" >/dev/null 2>&1
"$seeds" $files "$work/corpus" "$work/lo/template.xls"
cd "$work"
# -malloc_limit_mb: any single allocation above it is a finding (no allocation without bound).
exec "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 -malloc_limit_mb=256 \
  -print_final_stats=1 "$work/corpus"
