#!/usr/bin/env bash
# The sample desktop program as a Windows developer builds it: mingw's C
# compiler against sdk/korvessa.h and the import library of the developer
# kit (tools/package/import_lib.py, linked by GNU ld), run under Wine with a
# signer in the personal store; OpenSSL verifies the order's signature and
# that it carries the order's Big5 bytes. A filter no certificate matches
# makes the program print the component's message and fail.
#
#   tests/wine/desktop/run.sh <build dir>      (build/mingw-x86_64 or build/mingw-i686)
# Uses $WINEPREFIX when it names a prefix that is set up already (the Wine
# stage shares one), otherwise makes a fresh one and removes it.
set -euo pipefail

build=$(readlink -f "${1:?usage: tests/wine/desktop/run.sh <build dir>}")
here=$(dirname "$(readlink -f "$0")")
root=$(readlink -f "$here/../../..")
. "$here/../stage_env.sh"
stage_wine "$build"
case "$build" in
  *i686*) arch=x86 triple=i686-w64-mingw32 ;;
  *) arch=x64 triple=x86_64-w64-mingw32 ;;
esac
out="$build/wine-desktop"
rm -rf "$out"
mkdir -p "$out"
stage_prefix desktop

fails=0
ok() { echo "ok - $1"; }
not_ok() { echo "not ok - $1"; fails=$((fails + 1)); }
winpath() { echo "Z:${1//\//\\}"; }

python3 "$root/tools/package/import_lib.py" "$arch" "$build/korvessa.def" "$out/korvessa.lib" >/dev/null
# The program and the DLL in one folder, where Windows looks first.
cp "$build/korvessa.dll" "$out/"
if "$triple-gcc" -std=c99 -Wall -Wextra -pedantic -Werror -I "$root/sdk" "$root/examples/desktop/sign_order.c" \
    "$out/korvessa.lib" -loleaut32 -lshell32 -o "$out/sign_order.exe" 2>"$out/build.log"; then
  ok "sign_order.c builds against korvessa.h and korvessa.lib ($arch)"
else
  not_ok "sign_order.c does not build: $(head -c 600 "$out/build.log")"
  exit 1
fi
"$triple-g++" -std=c++17 -O1 -municode -static "$here/add_signer.cpp" "$here/../wine_signer.cpp" \
  "$here/../host_support.cpp" -lcrypt32 -ladvapi32 -loleaut32 -o "$out/add_signer.exe"

subject='CN=下單測試, O=Korvessa Wine, C=TW'
"$wine" "$out/add_signer.exe" "$subject" >"$out/add_signer.log" 2>&1 || not_ok "add_signer: $(cat "$out/add_signer.log")"

order='委託買進 2330 台積電 1000 股，限價 600 元'
printf '%s' "$order" | iconv -f UTF-8 -t BIG5 >"$out/order.big5"
# The Chinese filter reaches the program through its UTF-16 command line
# (its narrow argv is in the ANSI code page, which the sample does not read).
if "$wine" "$out/sign_order.exe" 'S_CN=下單測試' 2>"$out/sign.err" | tr -d '\r' >"$out/order.b64" &&
   base64 -d "$out/order.b64" >"$out/order.p7" 2>/dev/null &&
   openssl cms -verify -binary -inform DER -in "$out/order.p7" -noverify \
     -out "$out/order.content" 2>>"$out/sign.err" && cmp -s "$out/order.content" "$out/order.big5"; then
  ok "the order's signature verifies with openssl and carries its Big5 bytes"
else
  not_ok "signing the order: $(head -c 600 "$out/sign.err")"
fi
status=0
"$wine" "$out/sign_order.exe" 'S_CN=Nobody' >"$out/none.out" 2>"$out/none.err" || status=$?
if [[ $status -eq 1 && ! -s "$out/none.out" ]] && grep -q '找到指定憑證(5010)' "$out/none.err"; then
  ok "no matching certificate: status 1 and the component's message for 5010"
else
  not_ok "no matching certificate: status $status, $(head -c 300 "$out/none.err")"
fi
((fails == 0))
