#!/usr/bin/env bash
# The COM server under Wine: regsvr32 registers the DLL, the C++ host checks
# the registry, the object through its virtual table and IDispatch, the
# safety options, DllCanUnloadNow and the site lock, and puts a signer into
# "MY"; cscript then drives the object from JScript (tests/wine/com/capi_script.js);
# OpenSSL checks the script's signature; regsvr32 /u removes the entries.
#
#   tests/wine/com/run.sh <build dir>
# Uses $WINEPREFIX when it names a prefix that is already set up (a caller
# that shares its prefix), otherwise makes a fresh one and removes it.
set -euo pipefail

build=$(readlink -f "${1:?usage: tests/wine/com/run.sh <build dir>}")
here=$(dirname "$(readlink -f "$0")")
. "$here/../stage_env.sh"
stage_wine "$build"
out="$build/wine-com"
rm -rf "$out"
mkdir -p "$out"
stage_prefix com

winpath() { echo "Z:${1//\//\\}"; }
dll=$(winpath "$build/korvessa.dll")
status=0
step() { echo "-- $*"; }

step "regsvr32"
"$wine" regsvr32 /s "$dll" || { echo "not ok - regsvr32 failed"; status=1; }
step "korvessa_com_host registered"
"$wine" "$build/korvessa_com_host.exe" registered "$dll" | tr -d '\r' | tee "$out/host.log" || status=1
step "cscript capi_script.js"
# The signer the host put into "MY", named by its common name.
"$wine" cscript //nologo "$(winpath "$here/capi_script.js")" "$(winpath "$out")" "Korvessa COM Signer" \
  | tr -d '\r' | tee "$out/script.log" || status=1

# The script's PKCS#7 message and digest, checked by OpenSSL: the signature
# over the content (ANSI, so Big5 here), made by the selected signer.
base64 -d "$out/script_pkcs7.b64" > "$out/script.p7" 2>/dev/null || true
if openssl cms -verify -inform DER -in "$out/script.p7" -noverify -out "$out/script.content" \
     -signer "$out/script_signer.pem" 2>/dev/null &&
   [[ "$(iconv -f big5 -t utf-8 "$out/script.content")" == "王小明簽章測試" ]] &&
   openssl x509 -in "$out/script_signer.pem" -noout -subject | grep -q 'CN *= *Korvessa COM Signer'; then
  echo "ok - OpenSSL verifies the script's SignPkcs7, its content and its signer"
else
  echo "not ok - OpenSSL verifies the script's SignPkcs7, its content and its signer"; status=1
fi
want=$(printf '王小明簽章測試' | iconv -f utf-8 -t utf-16le | openssl dgst -sha256 -r | cut -c1-64 | tr a-f A-F)
if [[ "$(cat "$out/script_sha256.txt" 2>/dev/null)" == "$want" ]]; then
  echo "ok - OpenSSL agrees with the script's SHA-256"
else
  echo "not ok - OpenSSL agrees with the script's SHA-256"; status=1
fi

step "regsvr32 /u"
"$wine" regsvr32 /s /u "$dll" || { echo "not ok - regsvr32 /u failed"; status=1; }
"$wine" "$build/korvessa_com_host.exe" unregistered "$dll" | tr -d '\r' | tee -a "$out/host.log" || status=1
grep -aq '^not ok' "$out"/*.log && status=1
exit "$status"
