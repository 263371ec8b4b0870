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

section "Signing: a PFX signer made with OpenSSL, signatures checked by OpenSSL"
WORK="$KORVESSA_HOME/signing-demo"
mkdir -p "$WORK"
FAILED=0
step() { printf '  %-58s %s\n' "$1" "$2"; }
check() {  # check LABEL COMMAND...: runs an OpenSSL check and reports it
  local label=$1
  shift
  if "$@" >"$WORK/check.log" 2>&1; then
    step "$label" "OK"
  else
    step "$label" "FAILED"
    sed 's/^/    /' "$WORK/check.log"
    FAILED=1
  fi
}

openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/C=TW/O=Korvessa Demo/CN=Demo Root CA" \
  -keyout "$WORK/root.key" -out "$WORK/root.pem" \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/C=TW/O=Korvessa Demo/CN=Demo Signer" \
  -keyout "$WORK/signer.key" -out "$WORK/signer.csr" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,nonRepudiation\n' >"$WORK/signer.ext"
openssl x509 -req -in "$WORK/signer.csr" -CA "$WORK/root.pem" -CAkey "$WORK/root.key" -set_serial 0x1001 \
  -days 30 -extfile "$WORK/signer.ext" -out "$WORK/signer.pem" 2>/dev/null
PFX_DIR="$WORK/pfx"
mkdir -p "$PFX_DIR"
openssl pkcs12 -export -inkey "$WORK/signer.key" -in "$WORK/signer.pem" -certfile "$WORK/root.pem" \
  -keypbe PBE-SHA1-3DES -certpbe PBE-SHA1-3DES -macalg sha1 -passout pass:demo1234 -out "$PFX_DIR/signer.pfx"
openssl x509 -in "$WORK/signer.pem" -pubkey -noout >"$WORK/signer.pub"
step "root CA, signer certificate and signer.pfx (openssl)" "made"

TEXT="委託買進台積電 1000 股，價格 600 元"
printf '%s' "$TEXT" | iconv -f UTF-8 -t UTF-16LE >"$WORK/content.utf16"
printf '%s' "$TEXT" | iconv -f UTF-8 -t BIG5 >"$WORK/content.big5"
printf 'Text to sign: %s\n' "$TEXT"

# One engine for the whole run: the signer chosen first is used by every signing.
jq -cn --arg dir "$PFX_DIR" --arg text "$TEXT" '
  {call: "SelectSignerEx", args: ["", $dir, "signer.pfx", "demo1234", "", 512, 0]},
  {call: "GetSignerPfxFileName", args: []},
  {call: "SignPkcs1", args: [$text, 256]},
  {call: "SignPkcs1", args: [$text, 2304]},
  {call: "SignPkcs7", args: [$text, 0]},
  {call: "SignPkcs7", args: [$text, 1024]},
  {call: "SignPkcs7", args: [$text, 8192]},
  {call: "SignPkcs7", args: [$text, 512]},
  {call: "SignPkcs7", args: [$text, 2048]}' >"$WORK/calls.jsonl"
"$KORVESSA" --batch <"$WORK/calls.jsonl" >"$WORK/results.jsonl" || true
result() { sed -n "${1}p" "$WORK/results.jsonl" | jq -r '.result'; }
errcode() { sed -n "${1}p" "$WORK/results.jsonl" | jq -r '.error'; }

step "SelectSignerEx(pfx folder, signer.pfx, password, flags 0x200)" "result $(result 1), file $(result 2)"
[[ "$(result 1)" == 0 ]] || FAILED=1

save() { result "$1" | openssl base64 -d -A >"$WORK/$2"; }
save 3 pkcs1.sig
save 4 pkcs1-big5.sig
check "PKCS#1 SHA-1, UTF-16LE content (openssl dgst -verify)" \
  openssl dgst -sha1 -verify "$WORK/signer.pub" -signature "$WORK/pkcs1.sig" "$WORK/content.utf16"
check "PKCS#1 SHA-1, code page 950 content (openssl dgst -verify)" \
  openssl dgst -sha1 -verify "$WORK/signer.pub" -signature "$WORK/pkcs1-big5.sig" "$WORK/content.big5"

verify_attached() {  # DER EXPECTED-CONTENT
  openssl cms -verify -binary -inform DER -in "$WORK/$1" -CAfile "$WORK/root.pem" -out "$WORK/$1.out" &&
    cmp "$WORK/$1.out" "$2"
}
save 5 attached.p7
save 6 detached.p7
save 7 attributes.p7
save 8 chain.p7
save 9 big5.p7
check "PKCS#7 attached (openssl cms -verify, content compared)" verify_attached attached.p7 "$WORK/content.utf16"
check "PKCS#7 detached (openssl cms -verify -content)" \
  openssl cms -verify -binary -inform DER -in "$WORK/detached.p7" -content "$WORK/content.utf16" \
  -CAfile "$WORK/root.pem" -out /dev/null
check "PKCS#7 with signed attributes (openssl cms -verify)" verify_attached attributes.p7 "$WORK/content.utf16"
check "PKCS#7 signed attributes: contentType, signingTime, messageDigest" \
  bash -c "openssl cms -cmsout -print -inform DER -in '$WORK/attributes.p7' |
           grep -o 'object: \\(contentType\\|signingTime\\|messageDigest\\)' | tr '\n' ' ' |
           grep -qx 'object: contentType object: signingTime object: messageDigest '"
check "PKCS#7 with the chain (openssl cms -verify)" verify_attached chain.p7 "$WORK/content.utf16"
check "PKCS#7 chain carries signer and root" \
  bash -c "[[ \$(openssl pkcs7 -inform DER -in '$WORK/chain.p7' -print_certs | grep -c '^subject=') == 2 ]]"
check "PKCS#7 code page 950 content (openssl cms -verify)" verify_attached big5.p7 "$WORK/content.big5"
for n in 3 4 5 6 7 8 9; do
  [[ "$(errcode $n)" == 0 ]] || { step "call $n" "error $(errcode $n)"; FAILED=1; }
done

section "PFX files: import, password change, export and the mobile key record, checked by OpenSSL"
PFXLIFE="$WORK/pfxlife"
mkdir -p "$PFXLIFE/out"
cp "$PFX_DIR/signer.pfx" "$PFXLIFE/carried.pfx"
jq -cn --arg pfx "$PFX_DIR" --arg dir "$PFXLIFE" '
  {call: "ImportPfxToIE", args: [$pfx, "signer.pfx", "demo1234", 1, 0]},
  {call: "GetImportedPfxFileName", args: []},
  {call: "GetIECertCount", args: []},
  {call: "ChangePfxPasswd", args: [$dir, "carried.pfx", "demo1234", "新密碼5678", 0]},
  {call: "ChangePfxPasswd", args: [$dir, "carried.pfx", "wrong", "x", 0]},
  {call: "SetDefaultPfxFileName", args: ["exported"]},
  {call: "ExportPfxFromIE", args: ["S_CN=Demo Signer", ($dir + "/out"), "export123", 520, 0]},
  {call: "GetExportedPfxFileName", args: []},
  {call: "ExportMobileFromPfx", args: [$dir, "carried.pfx", "新密碼5678", 0, 0]}' >"$PFXLIFE/calls.jsonl"
"$KORVESSA" --batch <"$PFXLIFE/calls.jsonl" >"$PFXLIFE/results.jsonl" || true
presult() { sed -n "${1}p" "$PFXLIFE/results.jsonl" | jq -r '.result'; }
perror() { sed -n "${1}p" "$PFXLIFE/results.jsonl" | jq -r '.error'; }
step "ImportPfxToIE(signer.pfx)" "result $(presult 1), file $(presult 2), store holds $(presult 3)"
step "ChangePfxPasswd(carried.pfx, new password)" "result $(presult 4)"
step "ChangePfxPasswd with a wrong old password" "result $(presult 5) (5208 expected)"
step "ExportPfxFromIE(S_CN=Demo Signer, flags 0x208: with chain)" "result $(presult 7), file $(presult 8)"
for n in 1 4 7 9; do
  [[ "$(perror $n)" == 0 ]] || { step "call $n" "error $(perror $n)"; FAILED=1; }
done
[[ "$(perror 5)" == 5208 ]] || FAILED=1
printf '%s' "新密碼5678" >"$PFXLIFE/newpass"
check "rewritten PFX opens under the new password (openssl pkcs12 -legacy)" \
  openssl pkcs12 -legacy -in "$PFXLIFE/carried.pfx" -passin "file:$PFXLIFE/newpass" -nodes -noout
check "rewritten PFX opens without -legacy (PBE-SHA1-3DES)" \
  openssl pkcs12 -in "$PFXLIFE/carried.pfx" -passin "file:$PFXLIFE/newpass" -nodes -noout
check "exported PFX holds the signer's key (openssl pkcs12 -legacy)" \
  bash -c "openssl pkcs12 -legacy -in '$PFXLIFE/out/exported.pfx' -passin pass:export123 -nodes -nocerts |
           openssl pkey -pubout | cmp - '$WORK/signer.pub'"
mobile_record() {  # decrypts the record with SHA-1(Big5 password) || "QMZB", zero IV
  local key
  key=$( (printf '%s' "新密碼5678" | iconv -f UTF-8 -t BIG5 | openssl dgst -sha1 -binary; printf 'QMZB') |
    od -An -tx1 | tr -d ' \n')
  presult 9 | openssl base64 -d -A >"$PFXLIFE/record.enc"
  openssl enc -d -des-ede3-cbc -K "$key" -iv 0000000000000000 -in "$PFXLIFE/record.enc" -out "$PFXLIFE/record.bin" &&
    [[ "$(head -c 4 "$PFXLIFE/record.bin")" == VELK ]] &&
    [[ $(od -An -tu1 -j4 -N4 "$PFXLIFE/record.bin" | awk '{print $1*16777216+$2*65536+$3*256+$4}') == 2048 ]]
}
check "mobile key record decrypts (openssl enc -d -des-ede3-cbc), magic VELK, 2048 bits" mobile_record
step "mobile key record" "$(stat -c %s "$PFXLIFE/record.bin" 2>/dev/null) bytes"

if [[ $FAILED -ne 0 ]]; then
  printf '\nSigning demo: a verification FAILED\n'
  exit 1
fi
printf '\nSigning demo: every signature verified by OpenSSL\n'
