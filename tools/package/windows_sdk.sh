#!/usr/bin/env bash
# The developer kit for Windows programs, korvessa-sdk-VERSION.zip:
#   include/korvessa.h        the C declarations (sdk/korvessa.h)
#   lib/x64/korvessa.lib      import libraries for Microsoft's linker and
#   lib/x86/korvessa.lib      mingw's (tools/package/import_lib.py)
#   examples/sign_order.c     the sample program
#   docs/api.md               the reference
# A zip beside the installers rather than a feature of them: a build machine
# needs the header and the libraries of both architectures without
# installing the component (COM class, browser hosts, allow-list), and the
# installers stay what their tests hold them to. Programs run against the
# DLL the installer puts on the user's machine.
#
#   tools/package/windows_sdk.sh OUT_DIR X64_BUILD X86_BUILD
set -euo pipefail

out=${1:?usage: windows_sdk.sh OUT_DIR X64_BUILD X86_BUILD}
build64=$(readlink -f "${2:?}")
build32=$(readlink -f "${3:?}")
root=$(readlink -f "$(dirname "$0")/../..")
version=$(sed -n 's/^project(korvessa VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
mkdir -p "$out"
out=$(readlink -f "$out")
stage=$(mktemp -d "${TMPDIR:-/tmp}/korvessa-sdk.XXXXXX")
trap 'rm -rf "$stage"' EXIT

kit=$stage/korvessa-sdk-$version
install -D -m 644 "$root/sdk/korvessa.h" "$kit/include/korvessa.h"
install -D -m 644 "$root/examples/desktop/sign_order.c" "$kit/examples/sign_order.c"
install -D -m 644 "$root/docs/api.md" "$kit/docs/api.md"
mkdir -p "$kit/lib/x64" "$kit/lib/x86"
python3 "$root/tools/package/import_lib.py" x64 "$build64/korvessa.def" "$kit/lib/x64/korvessa.lib" >/dev/null
python3 "$root/tools/package/import_lib.py" x86 "$build32/korvessa.def" "$kit/lib/x86/korvessa.lib" >/dev/null
cat >"$kit/README.txt" <<EOF
Korvessa $version developer kit for Windows programs

include/korvessa.h declares the component's exported functions (C and C++,
__stdcall). Link the import library of your program's architecture and
oleaut32, which frees the strings the functions return (SysFreeString):

  MSVC:   cl /utf-8 /I include app.c lib\\x64\\korvessa.lib oleaut32.lib
  mingw:  x86_64-w64-mingw32-gcc -I include app.c lib/x64/korvessa.lib -loleaut32

(lib\\x86 for 32-bit programs.) The program loads korvessa.dll, which the
Korvessa installer puts on the user's machine; copy it beside the program
while developing. examples/sign_order.c chooses a signer and signs an order;
docs/api.md describes every function.
EOF

# Same sources, same zip: fixed times and order, no extra attributes.
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)}
find "$kit" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
zip_file=$out/korvessa-sdk-$version.zip
rm -f "$zip_file"
(cd "$stage" && find "korvessa-sdk-$version" -type f | LC_ALL=C sort | TZ=UTC zip -q -X -D "$zip_file" -@)
echo "$zip_file"
