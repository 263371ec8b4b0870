#!/usr/bin/env bash
# The sample desktop program built against the installed package, as a
# Linux developer builds it: with pkg-config's flags and with CMake's
# find_package(Korvessa). Each build runs without any library path of its
# own, chooses the signer put into a fresh user's store, and signs the
# order; OpenSSL verifies the signature against the signer's CA and finds
# the order's Big5 bytes in it. A filter no certificate matches makes the
# program print the component's message and fail.
#
#   tests/package/desktop_linux.sh      (the korvessa package installed)
set -euo pipefail

root=$(readlink -f "$(dirname "$0")/../..")
sample=$root/examples/desktop
work=$(mktemp -d "${TMPDIR:-/tmp}/korvessa-desktop.XXXXXX")
trap 'rm -rf "$work"' EXIT
export KORVESSA_HOME=$work/home
mkdir -p "$KORVESSA_HOME"
fails=0
ok() { echo "ok: $1"; }
bad() { echo "FAILED: $1" >&2; fails=$((fails + 1)); }

# The builds.
if cc -std=c99 -Wall -Wextra -pedantic -Werror "$sample/sign_order.c" $(pkg-config --cflags --libs korvessa) \
    -o "$work/sign_order-pc" 2>"$work/pc.log"; then
  ok "sign_order.c builds with pkg-config korvessa ($(pkg-config --modversion korvessa))"
else
  bad "pkg-config build: $(head -c 600 "$work/pc.log")"
fi
# Installed, as a program is: CMake drops the run-time path it adds for the
# build tree, so the target's own must remain.
if cmake -S "$sample" -B "$work/cmake" -DCMAKE_C_FLAGS="-Wall -Wextra -pedantic -Werror" >"$work/cmake.log" 2>&1 &&
   cmake --build "$work/cmake" >>"$work/cmake.log" 2>&1 &&
   cmake --install "$work/cmake" --prefix "$work/installed" >>"$work/cmake.log" 2>&1; then
  ok "sign_order.c builds and installs with find_package(Korvessa 4) and Korvessa::korvessa"
  cp "$work/installed/bin/sign_order" "$work/sign_order-cmake"
else
  bad "CMake build: $(tail -c 600 "$work/cmake.log")"
fi
# A newer major version than the package's is refused.
mkdir -p "$work/v5"
cp "$sample/sign_order.c" "$work/v5/"
sed 's/find_package(Korvessa 4 /find_package(Korvessa 5 /' "$sample/CMakeLists.txt" >"$work/v5/CMakeLists.txt"
if cmake -S "$work/v5" -B "$work/v5/build" >"$work/v5.log" 2>&1; then
  bad "find_package(Korvessa 5) found version $(pkg-config --modversion korvessa)"
else
  ok "find_package(Korvessa 5) refuses version $(pkg-config --modversion korvessa)"
fi

# A signer: a CA, its end-entity certificate in a PFX, imported into the
# user's store by the installed command.
openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/C=TW/O=Korvessa Test/CN=Desktop Test CA" \
  -addext basicConstraints=critical,CA:TRUE -keyout "$work/ca.key" -out "$work/ca.pem" 2>/dev/null
openssl req -utf8 -newkey rsa:2048 -nodes -subj "/C=TW/O=Korvessa Test/CN=下單測試" -keyout "$work/signer.key" \
  -out "$work/signer.csr" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,nonRepudiation\n' >"$work/signer.ext"
openssl x509 -req -in "$work/signer.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -set_serial 0x2330 -days 30 \
  -extfile "$work/signer.ext" -out "$work/signer.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$work/signer.key" -in "$work/signer.pem" -passout pass:order-pass \
  -out "$work/signer.pfx"
[[ "$(korvessa ImportPfxToIE "$work" signer.pfx order-pass 0 0)" == 0 ]] || bad "signer imported into the store"

order='委託買進 2330 台積電 1000 股，限價 600 元'
printf '%s' "$order" | iconv -f UTF-8 -t BIG5 >"$work/order.big5"
for program in "$work"/sign_order-*; do
  name=$(basename "$program")
  if "$program" 'S_CN=下單測試' 2>"$work/$name.err" | base64 -d >"$work/$name.p7" 2>/dev/null &&
     openssl cms -verify -binary -inform DER -in "$work/$name.p7" -CAfile "$work/ca.pem" \
       -out "$work/$name.content" 2>>"$work/$name.err" && cmp -s "$work/$name.content" "$work/order.big5"; then
    ok "$name: the order's signature verifies with openssl and carries its Big5 bytes"
  else
    bad "$name: $(head -c 400 "$work/$name.err")"
  fi
  status=0
  "$program" 'S_CN=Nobody' >"$work/$name.none" 2>&1 || status=$?
  if [[ $status -eq 1 ]] && grep -q '找到指定憑證(5010)' "$work/$name.none"; then
    ok "$name: no matching certificate gives status 1 and the message for 5010"
  else
    bad "$name: no matching certificate: status $status, $(head -c 300 "$work/$name.none")"
  fi
done
[[ -x "$work/sign_order-pc" && -x "$work/sign_order-cmake" ]] || bad "both builds ran"
((fails == 0))
