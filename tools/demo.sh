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
"$KORVESSA" --help | awk '/ available$/ {n++} / available( in this build)?$/ {t++}
  END {printf "%d of %d operations available\n", n, t}'

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

section "Enrolment: key pairs and requests, an OpenSSL CA issues, the certificate is accepted and signs"
EN="$KORVESSA_HOME/enrol-demo"
mkdir -p "$EN"
openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/C=TW/O=Korvessa Demo/CN=Demo Enrolment Root" \
  -keyout "$EN/root.key" -out "$EN/root.pem" \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/C=TW/O=Korvessa Demo/CN=Demo Issuing CA" \
  -keyout "$EN/inter.key" -out "$EN/inter.csr" 2>/dev/null
printf 'basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n' >"$EN/inter.ext"
openssl x509 -req -in "$EN/inter.csr" -CA "$EN/root.pem" -CAkey "$EN/root.key" -set_serial 0x2001 -days 30 \
  -extfile "$EN/inter.ext" -out "$EN/inter.pem" 2>/dev/null
step "root and issuing CA (openssl)" "made"

CN="王小明"
jq -cn --arg cn "$CN" '
  {call: "SetProviderName", args: ["Microsoft Base Cryptographic Provider v1.0"]},
  {call: "CreatePKCS10", args: [$cn, 2048, 0]},
  {call: "CreatePKCS10Pair", args: [$cn, 2048, 1]},
  {call: "GetCsrForSign", args: []},
  {call: "GetCsrForEncrypt", args: []},
  {call: "CreatePKCS10", args: [$cn, 1536, 0]},
  {call: "GetErrorMsg", args: []}' >"$EN/requests.jsonl"
"$KORVESSA" --batch <"$EN/requests.jsonl" >"$EN/requests.out" || true
eresult() { sed -n "${2}p" "$EN/$1" | jq -r '.result'; }
eerror() { sed -n "${2}p" "$EN/$1" | jq -r '.error'; }
step "SetProviderName(base provider) chooses the enhanced one" "result $(eresult requests.out 1)"
step "CreatePKCS10Pair($CN, 2048, 1)" "result $(eresult requests.out 3)"
step "CreatePKCS10 with 1536 bits" "error $(eerror requests.out 6): $(eresult requests.out 7)"
for n in 2 4 5; do eresult requests.out $n | openssl base64 -d -A >"$EN/req$n.der"; done
check "single request (openssl req -verify)" openssl req -inform DER -in "$EN/req2.der" -verify -noout
check "pair: signature request (openssl req -verify)" openssl req -inform DER -in "$EN/req4.der" -verify -noout
check "pair: encryption request (openssl req -verify)" openssl req -inform DER -in "$EN/req5.der" -verify -noout
openssl req -inform DER -in "$EN/req2.der" -noout -text -nameopt utf8 >"$EN/req2.txt" 2>/dev/null
printf '  request subject: %s\n' "$(grep -m1 'Subject:' "$EN/req2.txt" | sed 's/^ *//')"
printf '  request signature: %s\n' "$(grep -m1 'Signature Algorithm' "$EN/req2.txt" | sed 's/^ *//')"
check "common name is a BMPString" \
  bash -c "openssl asn1parse -inform DER -in '$EN/req2.der' | grep -q BMPSTRING"

printf 'keyUsage=critical,digitalSignature,nonRepudiation\nbasicConstraints=CA:FALSE\n' >"$EN/user.ext"
openssl x509 -req -inform DER -in "$EN/req2.der" -CA "$EN/inter.pem" -CAkey "$EN/inter.key" -set_serial 0x3001 \
  -days 30 -sha256 -extfile "$EN/user.ext" -out "$EN/user.pem" 2>/dev/null
cat "$EN/root.pem" "$EN/inter.pem" "$EN/user.pem" >"$EN/bundle.pem"
BUNDLE="$(openssl crl2pkcs7 -nocrl -certfile "$EN/bundle.pem" -outform DER | openssl base64 -A)"
step "certificate issued by the intermediate (openssl x509 -req)" "$(openssl x509 -in "$EN/user.pem" -noout -serial)"

ORDER="委託賣出 2330 500 股"
printf '%s' "$ORDER" | iconv -f UTF-8 -t UTF-16LE >"$EN/order.utf16"
# A second process accepts the bundle and signs with the key the first one made.
jq -cn --arg p7 "$BUNDLE" --arg cn "$CN" --arg text "$ORDER" '
  {call: "AcceptPKCS7", args: [$p7]},
  {call: "GetIECertCount", args: []},
  {call: "GetIECertCommonName", args: [1]},
  {call: "SelectSigner", args: ("S_CN=" + $cn | [., 256, 0])},
  {call: "SignPkcs7", args: [$text, 512]},
  {call: "AcceptPKCS7", args: [""]},
  {call: "GetErrorMsg", args: []}' >"$EN/accept.jsonl"
# A new trusted root asks the user first (dialog 209); the demo answers "install".
printf '[{"dialog": 209, "press": 1}]' >"$EN/trust-root.json"
KORVESSA_DIALOGS="$EN/trust-root.json" "$KORVESSA" --batch <"$EN/accept.jsonl" >"$EN/accept.out" || true
step "AcceptPKCS7(root + intermediate + user bundle)" "result $(eresult accept.out 1)"
step "GetIECertCount / GetIECertCommonName(1)" "$(eresult accept.out 2) / $(eresult accept.out 3)"
step "SelectSigner(S_CN=$CN, personal store)" "result $(eresult accept.out 4)"
step "AcceptPKCS7(\"\")" "error $(eerror accept.out 6): $(eresult accept.out 7)"
[[ "$(eresult accept.out 1)" == 0 && "$(eresult accept.out 4)" == 0 ]] || FAILED=1
eresult accept.out 5 | openssl base64 -d -A >"$EN/order.p7"
check "SignPkcs7 with the chain, verified against the root (openssl cms)" \
  openssl cms -verify -binary -inform DER -in "$EN/order.p7" -CAfile "$EN/root.pem" -out "$EN/order.out"
check "signed content is the order" cmp "$EN/order.out" "$EN/order.utf16"

# A third process: the key and the certificate are still there.
jq -cn --arg cn "$CN" '
  {call: "SelectSigner", args: ("S_CN=" + $cn | [., 256, 0])},
  {call: "SignPkcs7", args: ["again", 512]}' | "$KORVESSA" --batch >"$EN/again.out" || true
eresult again.out 2 | openssl base64 -d -A >"$EN/again.p7"
check "a new process signs with the enrolled key (openssl cms)" \
  openssl cms -verify -binary -inform DER -in "$EN/again.p7" -CAfile "$EN/root.pem" -out /dev/null

if [[ $FAILED -ne 0 ]]; then
  printf '\nSigning demo: a verification FAILED\n'
  exit 1
fi
printf '\nSigning demo: every signature verified by OpenSSL\n'

section "Encryption: hex-key DES/3DES and certificate envelopes, checked by OpenSSL"
CWORK="$KORVESSA_HOME/crypt-demo"
mkdir -p "$CWORK/pfx"
openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/C=TW/O=Korvessa Demo/CN=Demo Recipient" \
  -keyout "$CWORK/recipient.key" -out "$CWORK/recipient.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$CWORK/recipient.key" -in "$CWORK/recipient.pem" \
  -keypbe PBE-SHA1-3DES -certpbe PBE-SHA1-3DES -macalg sha1 -passout pass:demo1234 -out "$CWORK/pfx/recipient.pfx"
RECIPIENT_B64="$(openssl x509 -in "$CWORK/recipient.pem" -outform DER | openssl base64 -A)"
KEY3="0123456789ABCDEFFEDCBA987654321089ABCDEF01234567"
printf '%s' "$TEXT" | iconv -f UTF-8 -t UTF-16LE >"$CWORK/plain.utf16"
printf 'Text to encrypt: %s\n' "$TEXT"

jq -cn --arg text "$TEXT" --arg key "$KEY3" --arg cert "$RECIPIENT_B64" '
  {call: "SymEncrypt", args: [$text, $key, 0, 0]},
  {call: "SymEncrypt", args: [$text, $key, 0, 0]},
  {call: "CertEncryptPkcs7", args: [$text, $cert, 0, 0]},
  {call: "CertEncryptPkcs7", args: [$text, $cert, 2, 0]}' >"$CWORK/calls.jsonl"
"$KORVESSA" --batch <"$CWORK/calls.jsonl" >"$CWORK/results.jsonl" || true
cresult() { sed -n "${1}p" "$CWORK/results.jsonl" | jq -r '.result'; }

SYM="$(cresult 1)"
EXPECTED="$(openssl enc -des-ede3-cbc -K "$KEY3" -iv 0000000000000000 -in "$CWORK/plain.utf16" | openssl base64 -A)"
check "SymEncrypt 3DES equals openssl enc -des-ede3-cbc (zero IV)" test "$SYM" = "$EXPECTED"
check "SymEncrypt is deterministic (same text, same key, same output)" test "$SYM" = "$(cresult 2)"
show SymDecrypt "$SYM" "$KEY3" 0 0
show SymDecrypt "$SYM" "21${KEY3:2}" 0 0   # another key: 9005
cresult 3 | openssl base64 -d -A >"$CWORK/env-3des.p7"
cresult 4 | openssl base64 -d -A >"$CWORK/env-rc4.p7"
for alg in 3des rc4; do
  check "CertEncryptPkcs7 $alg opens with openssl cms -decrypt" bash -c "
    openssl cms -decrypt -binary -inform DER -provider legacy -provider default -in '$CWORK/env-$alg.p7' \
      -recip '$CWORK/recipient.pem' -inkey '$CWORK/recipient.key' -out '$CWORK/env-$alg.out' &&
    cmp '$CWORK/env-$alg.out' '$CWORK/plain.utf16'"
done

# An AES envelope made by OpenSSL, opened with the key of a PFX file that the
# (scripted) dialog points to, since the personal store holds none.
openssl cms -encrypt -binary -aes256 -outform DER -in "$CWORK/plain.utf16" -out "$CWORK/openssl.p7" \
  "$CWORK/recipient.pem"
jq -cn --arg path "$CWORK/pfx/recipient.pfx" \
  '[{dialog: 202, set: {"302": $path, "303": "demo1234"}, press: 1}]' >"$CWORK/dialogs.json"
OPENED="$(printf '%s\n' "$(jq -cn --arg m "$(openssl base64 -A -in "$CWORK/openssl.p7")" \
  '{call: "CertDecryptPkcs7", args: [$m, 0]}')" |
  KORVESSA_DIALOGS="$CWORK/dialogs.json" "$KORVESSA" --batch | jq -r '.result')"
check "openssl cms -encrypt -aes256 opened through the PFX dialog" test "$OPENED" = "$TEXT"
if [[ $FAILED -ne 0 ]]; then
  printf '\nEncryption demo: a check FAILED\n'
  exit 1
fi
printf '\nEncryption demo: every result checked by OpenSSL\n'
