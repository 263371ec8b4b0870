#!/usr/bin/env bash
# The platform tests built for Windows (korvessa_conformance.exe) run under
# Wine against its own system DLLs: what the stand-in claims of Windows,
# checked against a second implementation. Prints the program's summary and
# how many tests passed, were skipped, and were skipped because Wine itself
# answers otherwise than Windows (KV_WINE_DIFFERS, each with its reason).
#
#   tests/wine/conformance/run.sh <build dir>
# Uses $WINEPREFIX when it names a prefix that is set up already (the Wine
# stage shares one), otherwise makes a fresh one and removes it.
set -euo pipefail

build=$(readlink -f "${1:?usage: tests/wine/conformance/run.sh <build dir>}")
. "$(dirname "$(readlink -f "$0")")/../stage_env.sh"
stage_wine "$build"
stage_prefix conformance
log="$build/wine-conformance.log"

status=0
"$wine" "$build/korvessa_conformance.exe" 2>&1 | tr -d '\r' > "$log" || status=1
# A skipped test's reason is the line before its "[  SKIPPED ] Name (N ms)".
results() { grep -E "^\[ *$1 *\] .* \([0-9]+ ms\)$" "$log" || true; }
differs=$(grep -B1 -E '^\[  SKIPPED \] .* \([0-9]+ ms\)$' "$log" | grep -A1 'Wine differs:' | grep -v '^--$' |
  paste - - | sed -E 's/^.*Wine differs: (.*)\t\[  SKIPPED \] ([^ ]+).*/  Wine differs in \2: \1/' || true)
[[ -n "$differs" ]] && echo "$differs"
echo "conformance ($(basename "$build")): $(results OK | wc -l) passed, $(results SKIPPED | wc -l) skipped" \
  "($(grep -c . <<< "$differs" || true) where Wine differs from Windows), $(results FAILED | wc -l) failed"
if ((status)); then
  grep -B12 -E '^\[  FAILED  \] .* \([0-9]+ ms\)$' "$log" >&2 || true
fi
exit "$status"
