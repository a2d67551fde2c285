#!/bin/sh
# Runs one libFuzzer target for a bounded time over a corpus seeded with real tables.
#   run-fuzz.sh FUZZER SECONDS CORPUS_DIR SEED_FILE...
set -eu
fuzzer=$1
seconds=$2
corpus=$3
shift 3
mkdir -p "$corpus"
for seed in "$@"; do
  [ -f "$seed" ] && cp "$seed" "$corpus/"
done
exec "$fuzzer" -max_total_time="$seconds" -rss_limit_mb=1024 -timeout=10 -max_len=65536 \
  -print_final_stats=1 "$corpus"
