#!/usr/bin/env bash
# The Windows packages of a release: korvessa-VERSION-x64.msi (x64 DLL and
# host, and the x86 DLL) and korvessa-VERSION-x86.msi, from the two
# cross-builds, and the developer kit korvessa-sdk-VERSION.zip. With a
# code-signing certificate the DLLs and the hosts are signed before they go
# into the packages, and then the packages
# themselves (Authenticode, SHA-256, by osslsigncode); without one the
# packages are built unsigned and say so.
#
#   tools/package/windows_packages.sh OUT_DIR X64_BUILD X86_BUILD
# Signing: $KORVESSA_SIGN_CERT (the certificate and its chain, PEM) and
# $KORVESSA_SIGN_KEY (its private key, PEM; $KORVESSA_SIGN_PASS_FILE if the
# key is encrypted), or $KORVESSA_SIGN_PKCS12 (and the pass file);
# $KORVESSA_SIGN_TIMESTAMP names an RFC 3161 time-stamping service, so the
# signatures outlive the certificate.
set -euo pipefail

out=${1:?usage: windows_packages.sh OUT_DIR X64_BUILD X86_BUILD}
build64=$(readlink -f "${2:?}")
build32=$(readlink -f "${3:?}")
here=$(dirname "$(readlink -f "$0")")
root=$(readlink -f "$here/../..")
version=$(sed -n 's/^project(korvessa VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
mkdir -p "$out"
out=$(readlink -f "$out")
stage=$(mktemp -d "${TMPDIR:-/tmp}/korvessa-packages.XXXXXX")
trap 'rm -rf "$stage"' EXIT

signing=()
if [[ -n "${KORVESSA_SIGN_PKCS12:-}" ]]; then
  signing=(-pkcs12 "$KORVESSA_SIGN_PKCS12")
elif [[ -n "${KORVESSA_SIGN_CERT:-}" && -n "${KORVESSA_SIGN_KEY:-}" ]]; then
  signing=(-certs "$KORVESSA_SIGN_CERT" -key "$KORVESSA_SIGN_KEY")
fi
[[ ${#signing[@]} -gt 0 && -n "${KORVESSA_SIGN_PASS_FILE:-}" ]] && signing+=(-readpass "$KORVESSA_SIGN_PASS_FILE")
[[ ${#signing[@]} -gt 0 && -n "${KORVESSA_SIGN_TIMESTAMP:-}" ]] && signing+=(-ts "$KORVESSA_SIGN_TIMESTAMP")

# sign FILE: Authenticode signature in place (through a temporary file in
# the same folder, renamed over it).
sign() {
  ((${#signing[@]})) || return 0
  osslsigncode sign "${signing[@]}" -h sha256 -n "Korvessa" -in "$1" -out "$1.signing" >/dev/null
  mv "$1.signing" "$1"
}

for arch in x64 x86; do
  [[ "$arch" == x64 ]] && from=$build64 || from=$build32
  mkdir -p "$stage/$arch"
  cp "$from/korvessa.dll" "$from/korvessa-nm.exe" "$stage/$arch/"
  sign "$stage/$arch/korvessa.dll"
  sign "$stage/$arch/korvessa-nm.exe"
done
for arch in x64 x86; do
  msi="$out/korvessa-$version-$arch.msi"
  bash "$here/windows_msi.sh" "$arch" "$msi" "$stage/$arch" "$stage/x86" "$version" >/dev/null
  sign "$msi"
  echo "$msi"
done
# The developer kit: header, import libraries, sample.
bash "$here/windows_sdk.sh" "$out" "$build64" "$build32"
if ((${#signing[@]})); then
  echo "windows_packages: signed with $(openssl x509 -noout -subject -in "${KORVESSA_SIGN_CERT:-/dev/null}" 2>/dev/null || echo "the PKCS#12 certificate")"
else
  echo "windows_packages: unsigned (set KORVESSA_SIGN_CERT and KORVESSA_SIGN_KEY to sign)"
fi
