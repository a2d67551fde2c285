#!/bin/sh
# A stand-in report generator, copied into the start directory as "VORTAL1": records its argument count,
# then each argument on a line, into the file LW_E2E_REPORT.
{ printf '%s\n' "$#"; for a in "$@"; do printf '%s\n' "$a"; done; } > "$LW_E2E_REPORT.tmp"
mv "$LW_E2E_REPORT.tmp" "$LW_E2E_REPORT"
