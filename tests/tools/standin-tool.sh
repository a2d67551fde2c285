#!/bin/sh
# A stand-in sibling tool for the tests, installed under the name of the blank builder or the report
# generator. It records what it was given, then acts as LW_STANDIN_MODE says on the definition file "$1".
#   LW_STANDIN_OUT    file that receives the argument count, then the first argument
#   LW_STANDIN_GO     when set, wait (at most 20 s) until this file exists before acting
#   LW_STANDIN_MODE   done: write LW_STANDIN_EXCEL as "REPORT" "Excel" into "$1", post 1029
#                     restore: post 1025;  anything else: post nothing
#   LW_STANDIN_POST   the ledgerwick-post program
if [ -n "$LW_STANDIN_OUT" ]; then
    printf '%s\n%s' "$#" "$1" > "$LW_STANDIN_OUT.tmp"
    printf '%s' "$LEDGERWICK_WINDOW" > "$LW_STANDIN_OUT.window"
    mv "$LW_STANDIN_OUT.tmp" "$LW_STANDIN_OUT"
fi
if [ -n "$LW_STANDIN_GO" ]; then
    n=0
    while [ ! -e "$LW_STANDIN_GO" ] && [ $n -lt 400 ]; do
        sleep 0.05
        n=$((n + 1))
    done
fi
case "$LW_STANDIN_MODE" in
done)
    # Replace "Excel" in the [REPORT] section, or add it there when it is missing.
    awk -v value="$LW_STANDIN_EXCEL" '
        /^\[/ { if (inreport && !written) { print "Excel=" value; written = 1 }
                inreport = ($0 == "[REPORT]") }
        inreport && /^Excel=/ { print "Excel=" value; written = 1; next }
        { print }
        END { if (inreport && !written) print "Excel=" value }
    ' "$1" > "$1.standin" && cat "$1.standin" > "$1" && rm -f "$1.standin"
    exec "$LW_STANDIN_POST" 1029
    ;;
restore)
    exec "$LW_STANDIN_POST" 1025
    ;;
*)
    exit 0
    ;;
esac
