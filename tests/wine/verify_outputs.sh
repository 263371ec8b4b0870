#!/usr/bin/env bash
# Checks with OpenSSL what korvessa_wine_host wrote: digests of the Chinese
# text (UTF-16LE and Big5), PKCS#1 signatures against the signer's
# certificate, PKCS#7 messages and the content they carry, and the PKCS#10
# request.
#   tests/wine/verify_outputs.sh <output folder>
set -uo pipefail
out=$1
fail=0
ok() { echo "ok - $1"; }
bad() { echo "not ok - $1"; fail=1; }

text='交易內容：買進 2330 一張'
printf '%s' "$text" | iconv -f UTF-8 -t UTF-16LE > "$out/content-utf16.bin"
printf '%s' "$text" | iconv -f UTF-8 -t BIG5 > "$out/content-big5.bin"

digest() {  # flags -> algorithm
  case $(( $1 & 7 )) in 1) echo md5 ;; 3) echo sha256 ;; 4) echo sha512 ;; *) echo sha1 ;; esac
}
if [[ -s "$out/hash-results.txt" ]]; then
  while read -r flags got; do
    input="$out/content-utf16.bin"
    (( flags & 16 )) && input="$out/content-big5.bin"
    want=$(openssl dgst -"$(digest "$flags")" -r "$input" | cut -d' ' -f1 | tr a-f A-F)
    [[ "$got" == "$want" ]] && ok "Hash flags $flags matches openssl" || bad "Hash flags $flags: $got, openssl $want"
  done < "$out/hash-results.txt"
else
  bad "no hash results"
fi

if [[ -s "$out/signer.b64" ]]; then
  base64 -d "$out/signer.b64" > "$out/signer.der"
  openssl x509 -inform DER -in "$out/signer.der" -noout -pubkey > "$out/signer-pub.pem"
  openssl x509 -inform DER -in "$out/signer.der" -out "$out/signer.pem"
  for pair in ansi:big5:sha1 utf16:utf16:sha1 sha256:utf16:sha256; do
    IFS=: read -r name source md <<< "$pair"
    content="$out/content-$source.bin"
    base64 -d "$out/pkcs1-$name.b64" > "$out/pkcs1-$name.bin" 2>/dev/null
    if openssl dgst -"$md" -verify "$out/signer-pub.pem" -signature "$out/pkcs1-$name.bin" "$content" >/dev/null; then
      ok "PKCS#1 ($name) verifies with openssl"
    else
      bad "PKCS#1 ($name) does not verify"
    fi
  done
  for pair in ansi:big5 utf16-attrs:utf16 sha256-attrs:utf16:cades; do
    IFS=: read -r name source cades <<< "$pair"
    content="$out/content-$source.bin"
    base64 -d "$out/pkcs7-$name.b64" > "$out/pkcs7-$name.der" 2>/dev/null
    # CAdES: the signing-certificate-v2 attribute must name the signer, which
    # is checked against a verified certificate: the signer is the anchor.
    trust=(-noverify)
    [[ -n "$cades" ]] && trust=(-CAfile "$out/signer.pem" -partial_chain -purpose any -cades)
    if openssl cms -verify -binary -inform DER -in "$out/pkcs7-$name.der" "${trust[@]}" \
        -certfile "$out/signer.pem" -out "$out/pkcs7-$name.content" 2>"$out/pkcs7-$name.err" &&
       cmp -s "$out/pkcs7-$name.content" "$content"; then
      ok "PKCS#7 ($name) verifies with openssl and carries the content"
    else
      bad "PKCS#7 ($name): $(head -c 300 "$out/pkcs7-$name.err")"
    fi
  done
else
  bad "no signer certificate"
fi

if [[ -s "$out/request.b64" ]] && base64 -d "$out/request.b64" > "$out/request.der" 2>/dev/null &&
   subject=$(openssl req -inform DER -in "$out/request.der" -verify -noout -subject -nameopt utf8 2>&1) &&
   [[ "$subject" == *"verify OK"* && "$subject" == *"CN=王小明 Wine"* ]]; then
  ok "CreatePKCS10's request verifies with openssl and names its subject"
else
  bad "CreatePKCS10's request: ${subject:-none}"
fi
exit $fail
