#!/usr/bin/env bash
# End-to-end demonstration through the command-line host. $KV_BUILD is the
# build folder (./run.sh demo sets it). Each area adds its part below.
set -euo pipefail
: "${KV_BUILD:?KV_BUILD must name the build folder}"
KORVESSA="$KV_BUILD/korvessa"

# The demo's user state lives in a throw-away home.
export KORVESSA_HOME="$(mktemp -d /tmp/korvessa-demo-XXXXXX)"
trap 'rm -rf "$KORVESSA_HOME"' EXIT

section() { printf '\n--- %s\n' "$*"; }
show() {
  printf '$ korvessa'; printf ' %q' "$@"; printf '\n'
  local status=0
  "$KORVESSA" "$@" || status=$?
  [[ $status -eq 0 ]] || printf '(exit status %d)\n' "$status"
}

section "Engine: version and error state, one call per run"
show GetVersion
show GetErrorCode
show GetErrorMsg
show GetCapiErrorCode
show GetCapiErrorMsg
show GetPortEx

section "Engine: the same in one engine, as JSON lines"
"$KORVESSA" --batch <<'JSON'
{"call": "GetVersion", "args": []}
{"call": "GetErrorCode", "args": []}
{"call": "GetErrorMsg", "args": []}
{"call": "GetCapiErrorMsg", "args": []}
{"call": "GetPortEx", "args": []}
{"call": "GetPortEx", "args": [1]}
{"call": "NoSuchOperation"}
JSON

section "Engine: a failure keeps its code and message until the next operation"
show RegReadHKCU ""
"$KORVESSA" --batch <<'JSON'
{"call": "RegReadHKCU", "args": [""]}
{"call": "GetErrorCode", "args": []}
{"call": "GetErrorMsg", "args": []}
{"call": "GetCapiErrorMsg", "args": []}
{"call": "GetVersion", "args": []}
{"call": "GetErrorCode", "args": []}
JSON

section "Engine: a browser protected-mode process refuses system operations (1500); hashing still works"
KORVESSA_PROTECTED_MODE=1 "$KORVESSA" --batch <<'JSON'
{"call": "GetMacAddress", "args": []}
{"call": "Hash", "args": ["abc", 17]}
JSON

section "Operations in this build"
"$KORVESSA" --help | grep -c ' available$' | xargs printf '%s of 63 operations available\n'
