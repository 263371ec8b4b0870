#!/usr/bin/env bash
# The Windows installer under Wine, as a new user meets it: a package built
# from the build (tools/package/windows_msi.sh) installed with
# `msiexec /i ... /qn ALLOWEDSITES=...`; the files in place; the COM class
# registered with exactly the registration script's keys (the COM test host)
# and answering cscript by its ProgID (Hash, SignPkcs7 that OpenSSL
# verifies; in the x64 package the x86 DLL too, through the 32-bit script
# host); each browser's key naming a manifest of the installed host; that
# host, started as a browser starts it, answering the preset origin (Hash,
# a SignPkcs7 OpenSSL verifies) and refusing an unlisted one with 1502;
# version N+1 over N: one product, the user's values and signer kept;
# `msiexec /x`: no file and no key of the product left.
#
#   tests/wine/msi/run.sh <build dir> [<x86 build dir, for the x64 package>]
# Runs in a fresh prefix of its own (a new customer's machine), removed at
# the end.
set -euo pipefail

build=$(readlink -f "${1:?usage: tests/wine/msi/run.sh <build dir> [<x86 build dir>]}")
here=$(dirname "$(readlink -f "$0")")
root=$(readlink -f "$here/../../..")
case "$build" in
  *i686*) arch=x86 build32=$build ;;
  *) arch=x64 build32=$(readlink -f "${2:?the x64 package needs the x86 build dir}") ;;
esac
. "$here/../stage_env.sh"
stage_wine "$build"
out="$build/wine-msi"
rm -rf "$out"
mkdir -p "$out"
# A machine of its own, as a new customer's: a fresh prefix, always.
stage_prefix msi fresh
. "$root/tests/wine/nm/host_checks.sh"

# --- packages N and N+1 -------------------------------------------------------
version=$(sed -n 's/^project(korvessa VERSION \([0-9]*\.[0-9]*\.[0-9]*\).*/\1/p' "$root/CMakeLists.txt")
next=${version%.*}.$((${version##*.} + 1))
bash "$root/tools/package/windows_msi.sh" "$arch" "$out/korvessa-$version.msi" "$build" "$build32" "$version" >/dev/null
bash "$root/tools/package/windows_msi.sh" "$arch" "$out/korvessa-$next.msi" "$build" "$build32" "$next" >/dev/null

# The registry's key names (HKLM: and HKCU:), without Wine's time stamps.
reg_keys() {
  settle_registry
  { sed -n 's/^\[\(.*\)\] [0-9]*$/HKLM:\1/p' "$WINEPREFIX/system.reg"
    sed -n 's/^\[\(.*\)\] [0-9]*$/HKCU:\1/p' "$WINEPREFIX/user.reg"; } | LC_ALL=C sort
}
# What may be new after the uninstall: the user's own data (the signer's
# certificate and key, the scripts' and the user's values) and the empty
# folders of Wine's installer database, which outlive every product.
kUserData='^HKCU:Software\\\\(Korvessa|KorvessaComTest|Microsoft\\\\SystemCertificates|Wine\\\\Crypto)(\\\\|$)|^HKLM:Software\\\\Microsoft\\\\SystemCertificates\\\\|^HKLM:Software\\\\(Classes\\\\Installer\\\\(Features|Products|UpgradeCodes)|Microsoft\\\\Windows\\\\CurrentVersion\\\\Installer\\\\(UpgradeCodes|UserData\\\\S-1-5-18\\\\(Components|Products)))$'

# Products registered under our name in the uninstall list.
products() {
  settle_registry
  awk '/^\[/ { key = $0 } /^"DisplayName"="Korvessa"$/ { print key }' "$WINEPREFIX/system.reg" | grep -ci uninstall || true
}
display_version() {
  settle_registry
  awk '/^\[/ { on = 0 } /^"DisplayName"="Korvessa"$/ { on = 1 } { if (on && /^"DisplayVersion"=/) print }' \
    "$WINEPREFIX/system.reg" | sed 's/.*="\(.*\)"/\1/' | head -1
}
verify_pkcs7() {  # BASE64_FILE SIGNER_PEM CONTENT_ENCODING WHAT
  base64 -d "$1" > "$1.p7" 2>/dev/null || true
  if openssl cms -verify -inform DER -in "$1.p7" -noverify -out "$1.content" -signer "$out/signer.pem" 2>/dev/null &&
     [[ "$(iconv -f "$3" -t utf-8 "$1.content")" == "王小明簽章測試" ]] &&
     openssl x509 -in "$out/signer.pem" -noout -subject | grep -q "CN *= *$2"; then
    ok "OpenSSL verifies $4, its content and its signer"
  else
    not_ok "OpenSSL verifies $4, its content and its signer"
  fi
}

pf='C:\Program Files\Korvessa'
host="$pf\\korvessa-nm.exe"
dll="$pf\\korvessa.dll"
signer="Korvessa COM Signer"
script=$(winpath "$root/tests/wine/com/capi_script.js")
cscripts=(cscript)
[[ "$arch" == x64 ]] && cscripts+=('C:\windows\syswow64\cscript.exe')
{
  # Windows Script Host registers its own object model on its first run:
  # done before the registry is taken, so only the product's keys differ.
  printf 'WScript.Echo(new ActiveXObject("Scripting.FileSystemObject") ? "" : "");\n' > "$out/warm.js"
  for c in "${cscripts[@]}"; do "$wine" "$c" //nologo "$(winpath "$out/warm.js")" >/dev/null 2>&1 || true; done
  before=$(reg_keys)

  echo "-- msiexec /i korvessa-$version.msi ALLOWEDSITES=$kAllowedOrigin ($arch)"
  if "$wine" msiexec /i "$(winpath "$out/korvessa-$version.msi")" /qn ALLOWEDSITES="$kAllowedOrigin"; then
    ok "msiexec /i installs"
  else
    not_ok "msiexec /i installs"
  fi
  files=("$dll" "$host" "$pf\\$kHostName.json" "$pf\\$kHostName.firefox.json")
  [[ "$arch" == x64 ]] && files+=('C:\Program Files (x86)\Korvessa\korvessa.dll')
  check_files() {
    local f missing=""
    for f in "${files[@]}"; do [[ -f "$(unixpath "$f")" ]] || missing+=" $f"; done
    if [[ -z "$missing" ]]; then ok "the files are in place$1"; else not_ok "files missing$1:$missing"; fi
  }
  check_files ""

  echo "-- the browsers' keys and the preset allow-list"
  settle_registry
  check_browser_keys HKLM "$host" $(machine_views)
  for view in $(machine_views); do
    if [[ "$(reg_value HKLM 'Software\Korvessa\CAPI\AllowedSites' Installer "$view")" == "$kAllowedOrigin" ]]; then
      ok "ALLOWEDSITES is in the machine's allow-list ($view)"
    else
      not_ok "ALLOWEDSITES is in the machine's allow-list ($view)"
    fi
  done

  echo "-- the installed host started as a browser starts it"
  check_host_answers "$host"

  echo "-- the COM class"
  # Exactly the registration script's keys, and a signer put into "MY" (the
  # test host empties HKLM\SOFTWARE\Korvessa and HKCU\Software\Korvessa
  # when it is done).
  "$wine" "$build/korvessa_com_host.exe" registered "$dll" | tr -d '\r' | grep -a '^\(not \)\?ok' || true
  for c in "${cscripts[@]}"; do
    "$wine" "$c" //nologo "$script" "$(winpath "$out")" "$signer" | tr -d '\r' | sed "s|^\(\(not \)\?ok - \)|\1$(basename "${c//\\//}"): |"
    [[ "$c" == cscript ]] && mv "$out/script_pkcs7.b64" "$out/cscript.b64" 2>/dev/null || true
  done
  rm -f "$out/script_pkcs7.b64"

  echo "-- signing through the installed host"
  allow_test_origin
  # The signer, then the signature, whose confirmation (always shown for a
  # page) a script answers.
  printf '[{"dialog": 201, "press": 1}]\n' > "$out/dialogs.json"
  {
    printf '{"id": 1, "origin": "%s", "call": "SelectSigner", "args": ["S_CN=%s", 256, 0]}\n' "$kAllowedOrigin" "$signer"
    printf '{"id": 2, "origin": "%s", "call": "GetCertB64", "args": []}\n' "$kAllowedOrigin"
    printf '{"id": 3, "origin": "%s", "call": "SignPkcs7", "args": ["王小明簽章測試", 0]}\n' "$kAllowedOrigin"
  } > "$out/sign_requests.jsonl"
  KORVESSA_DIALOGS=$(winpath "$out/dialogs.json") run_host "$host" "$out/sign_requests.jsonl" "$out/sign_answers.jsonl" || true
  if jq -se 'length == 3 and all(.[]; .error == 0)' "$out/sign_answers.jsonl" >/dev/null; then
    ok "the host selects the signer and signs for an allowed origin"
  else
    not_ok "the host selects the signer and signs for an allowed origin ($(cut -c1-300 "$out/sign_answers.jsonl"))"
  fi
  { echo "-----BEGIN CERTIFICATE-----"; jq -rs '.[1].result' "$out/sign_answers.jsonl" | fold -w 64
    echo "-----END CERTIFICATE-----"; } > "$out/signer.pem"
  jq -rs '.[2].result' "$out/sign_answers.jsonl" > "$out/host.b64"
  verify_pkcs7 "$out/cscript.b64" "$signer" big5 "cscript's SignPkcs7"
  verify_pkcs7 "$out/host.b64" "$signer" utf-16le "the host's SignPkcs7"
  # Back to what the product wrote (the COM test host emptied it): the
  # test's own entry goes, the preset comes back; and the user gets a value
  # of their own.
  for view in $(machine_views); do
    "$wine" reg delete 'HKLM\SOFTWARE\Korvessa\CAPI\AllowedSites' /v test /f /reg:$view >/dev/null 2>&1 || true
    "$wine" reg add 'HKLM\SOFTWARE\Korvessa\CAPI\AllowedSites' /v Installer /d "$kAllowedOrigin" /f /reg:$view >/dev/null 2>&1
  done
  "$wine" reg add 'HKCU\Software\Korvessa\CAPI' /v UserChoice /d kept /f >/dev/null 2>&1

  echo "-- msiexec /i korvessa-$next.msi over $version"
  # N+1 is given no ALLOWEDSITES and keeps N's.
  "$wine" msiexec /i "$(winpath "$out/korvessa-$next.msi")" /qn || not_ok "msiexec /i $next"
  if [[ "$(products)" == 1 && "$(display_version)" == "$next"* ]]; then
    ok "one product registered, version $next"
  else
    not_ok "one product registered, version $next ($(products) products, version $(display_version))"
  fi
  check_files " after the upgrade"
  printf '{"id": 1, "origin": "%s", "call": "SelectSigner", "args": ["S_CN=%s", 256, 0]}\n' "$kAllowedOrigin" "$signer" \
    > "$out/select.jsonl"
  run_host "$host" "$out/select.jsonl" "$out/select_answer.jsonl" || true
  if jq -e '.error == 0' "$out/select_answer.jsonl" >/dev/null &&
     [[ "$(reg_value HKCU 'Software\Korvessa\CAPI' UserChoice)" == kept ]]; then
    ok "the upgraded host serves the preset origin; the user's signer and value are kept"
  else
    not_ok "the upgraded host serves the preset origin; the user's signer and value are kept ($(cat "$out/select_answer.jsonl"))"
  fi

  echo "-- msiexec /x"
  "$wine" msiexec /x "$(winpath "$out/korvessa-$next.msi")" /qn || not_ok "msiexec /x"
  left=$(find "$(unixpath "$pf")" "$(unixpath 'C:\Program Files (x86)\Korvessa')" 2>/dev/null || true)
  if [[ -z "$left" ]]; then ok "no file of the product left"; else not_ok "files left: $left"; fi
  LC_ALL=C comm -13 <(echo "$before") <(reg_keys) > "$out/keys_new.txt"
  # Wine's msi leaves a key empty once it removed the product's values from
  # it (Windows Installer removes such a key): the allow-list's key counts
  # as gone when no value is left in it.
  for view in $(machine_views); do
    if reg_key_exists HKLM 'Software\Korvessa\CAPI\AllowedSites' "$view" &&
       ! reg_key_has_values HKLM 'Software\Korvessa\CAPI\AllowedSites' "$view"; then
      node='Korvessa\\CAPI\\AllowedSites'
      [[ "$view" == 32 && "$wine" == */wine64 ]] && node="Wow6432Node\\\\$node"
      grep -vxF "HKLM:Software\\\\$node" "$out/keys_new.txt" > "$out/keys_new.tmp" || true
      mv "$out/keys_new.tmp" "$out/keys_new.txt"
    fi
  done
  if ! grep -v -E "$kUserData" "$out/keys_new.txt" > "$out/keys_left.txt"; then
    ok "no registry key of the product left"
  else
    not_ok "registry keys left: $(head -c 600 "$out/keys_left.txt")"
  fi
  if [[ "$(products)" == 0 && "$(reg_value HKCU 'Software\Korvessa\CAPI' UserChoice)" == kept ]]; then
    ok "no product registered; the user's value stays"
  else
    not_ok "no product registered; the user's value stays"
  fi
} 2>&1 | tee "$out/checks.log"
! grep -aq '^not ok' "$out/checks.log"
