#!/bin/sh
# A stand-in blank builder for the end-to-end tests, copied into the start directory as "zarmek.exe".
# It records its arguments, waits for the test's go, writes a workbook path into the definition's
# "REPORT" section and tells the main window through ledgerwick-post that it is done (1029).
#   LW_E2E_RECORD  file that receives the argument count, then each argument on a line of its own
#   LW_E2E_GO      when set, wait (at most 20 s) until this file exists before going on
#   LW_E2E_BOOK    the workbook path written as "Excel" into the "REPORT" section of "$1"
#   LW_E2E_POST    the ledgerwick-post program
if [ -n "$LW_E2E_RECORD" ]; then
    { printf '%s\n' "$#"; for a in "$@"; do printf '%s\n' "$a"; done; } > "$LW_E2E_RECORD.tmp"
    mv "$LW_E2E_RECORD.tmp" "$LW_E2E_RECORD"
fi
if [ -n "$LW_E2E_GO" ]; then
    n=0
    while [ ! -e "$LW_E2E_GO" ] && [ $n -lt 400 ]; do
        sleep 0.05
        n=$((n + 1))
    done
fi
# Replace "Excel" in the [REPORT] section, or add it there when the section lacks it.
awk -v value="$LW_E2E_BOOK" '
    /^\[/ { if (inreport && !written) { print "Excel=" value; written = 1 }
            inreport = ($0 == "[REPORT]") }
    inreport && /^Excel=/ { print "Excel=" value; written = 1; next }
    { print }
    END { if (inreport && !written) print "Excel=" value }
' "$1" > "$1.blank" && mv "$1.blank" "$1" || exec "$LW_E2E_POST" 1025
exec "$LW_E2E_POST" 1029
