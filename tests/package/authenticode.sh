#!/usr/bin/env bash
# Authenticode of the Windows packages: a test CA (made here, in a temporary
# folder; no key is kept) issues a code-signing certificate, the packaging
# signs the DLLs, the hosts and the MSIs with it, and osslsigncode verifies
# each against the CA, the binaries as they come out of the packages; a
# copy with one byte changed, and a package with one property changed, fail.
#
#   tests/package/authenticode.sh <x64 build dir> <x86 build dir>
set -euo pipefail

build64=$(readlink -f "${1:?usage: authenticode.sh <x64 build dir> <x86 build dir>}")
build32=$(readlink -f "${2:?}")
root=$(readlink -f "$(dirname "$0")/../..")
work=$(mktemp -d "${TMPDIR:-/tmp}/korvessa-sign.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
status=0
ok() { echo "ok - $*"; }
not_ok() { echo "not ok - $*"; status=1; }

openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj "/CN=Korvessa Test Code Signing CA" \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr -subj "/CN=Korvessa Test Publisher" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' > signer.ext
openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile signer.ext -out signer.pem 2>/dev/null
cat signer.pem ca.pem > chain.pem

KORVESSA_SIGN_CERT=chain.pem KORVESSA_SIGN_KEY=signer.key \
  bash "$root/tools/package/windows_packages.sh" packages "$build64" "$build32" > packages.log
files=(packages/*.msi)
for msi in packages/*.msi; do
  name=$(basename "$msi" .msi)
  mkdir -p "extracted/$name"
  (cd "extracted/$name" && msiextract "../../$msi" >/dev/null)
  while IFS= read -r f; do files+=("$f"); done < <(find "extracted/$name" -type f \( -name '*.dll' -o -name '*.exe' \) | sort)
done
verify() { osslsigncode verify -CAfile ca.pem -in "$1" > verify.log 2>&1; }
for f in "${files[@]}"; do
  if verify "$f" && grep -q 'Korvessa Test Publisher' verify.log; then
    ok "signed and verified: ${f#extracted/}"
  else
    not_ok "signed and verified: ${f#extracted/} ($(grep -i -m2 'fail\|error' verify.log | tr '\n' ' '))"
  fi
done
((${#files[@]} == 7)) || not_ok "seven signed files (two packages; DLL and host of each, the x86 DLL in the x64 package too), not ${#files[@]}"

# One byte of the DLL's code, and one property of a package, changed.
dll=$(find extracted -name korvessa.dll | head -1)
cp "$dll" tampered.dll
printf '\xff' | dd of=tampered.dll bs=1 seek=8192 conv=notrunc 2>/dev/null
if verify tampered.dll; then not_ok "a DLL with one byte changed fails"; else ok "a DLL with one byte changed fails"; fi
cp "${files[0]}" tampered.msi
msibuild tampered.msi -q "UPDATE \`Property\` SET \`Value\` = 'Someone Else' WHERE \`Property\` = 'Manufacturer'"
if verify tampered.msi; then not_ok "a package with one property changed fails"; else ok "a package with one property changed fails"; fi
exit "$status"
