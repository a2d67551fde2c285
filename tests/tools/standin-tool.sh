#!/bin/sh
# A stand-in sibling tool for the tests, installed under the name of the blank builder or the report
# generator. It writes its argument count and first argument to LW_STANDIN_OUT and the main window's
# address to LW_STANDIN_OUT.window, then, when LW_STANDIN_GO is set, waits (at most 20 s) for that file.
printf '%s\n%s' "$#" "$1" > "$LW_STANDIN_OUT.tmp"
printf '%s' "$LEDGERWICK_WINDOW" > "$LW_STANDIN_OUT.window"
mv "$LW_STANDIN_OUT.tmp" "$LW_STANDIN_OUT"
n=0
while [ -n "$LW_STANDIN_GO" ] && [ ! -e "$LW_STANDIN_GO" ] && [ $n -lt 400 ]; do
    sleep 0.05
    n=$((n + 1))
done
