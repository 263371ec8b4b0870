#!/usr/bin/env bash
# The import libraries of the developer kit (tools/package/import_lib.py),
# held to each build's korvessa.def:
# - llvm-nm: the library defines exactly the symbols a C caller of the
#   header refers to (_Hash@8 on x86, Hash on x64) and their __imp_ pointers;
# - lld-link, the Microsoft-compatible linker, links a program that takes the
#   address of every function korvessa.h declares, compiled for Microsoft's
#   ABI (x86 with SAFESEH, lld-link's default), and the program's import
#   table names exactly the DLL's exports, decorated as korvessa.def exports them.
#
#   tests/package/import_libs.sh X64_BUILD X86_BUILD
set -euo pipefail

root=$(readlink -f "$(dirname "$0")/../..")
work=$(mktemp -d "${TMPDIR:-/tmp}/korvessa-implib.XXXXXX")
trap 'rm -rf "$work"' EXIT
fails=0
check() { # check WHAT EXPECTED GOT
  if [[ "$2" == "$3" ]]; then echo "ok: $1"; else
    echo "FAILED: $1" >&2; diff <(echo "$2") <(echo "$3") | head -20 >&2; fails=$((fails + 1)); fi
}

# Only what the header needs of the Windows headers: the probe is compiled
# for Microsoft's ABI, whose headers are not here.
mkdir -p "$work/stub"
printf 'typedef unsigned short WCHAR;\ntypedef WCHAR* BSTR;\ntypedef const WCHAR* LPCWSTR;\ntypedef long LONG;\n' \
  >"$work/stub/windows.h"
: >"$work/stub/oleauto.h"
{
  echo '#include <korvessa.h>'
  echo 'void* const kv_every_function[] = {'
  sed -nE 's/.* KV_API ([A-Za-z0-9_]+)\(.*/  (void*)\&\1,/p' "$root/sdk/korvessa.h"
  echo '};'
  echo 'int __stdcall probe_entry(void) { return kv_every_function[0] != 0; }'
} >"$work/probe.c"

for arch in x64 x86; do
  if [[ $arch == x64 ]]; then build=$1 target=x86_64-pc-windows-msvc machine=x64 prefix=""; else
    build=$2 target=i686-pc-windows-msvc machine=x86 prefix=_; fi
  lib="$work/korvessa-$arch.lib"
  python3 "$root/tools/package/import_lib.py" "$arch" "$build/korvessa.def" "$lib" >/dev/null

  # From the .def (EXPORTED = INTERNAL): the names to import, the caller's symbols.
  exported=$(awk '/^EXPORTS/{on=1; next} on && NF && $NF != "PRIVATE" {print $1}' "$build/korvessa.def" | LC_ALL=C sort)
  callers=$(awk -v p="$prefix" '/^EXPORTS/{on=1; next} on && NF && $NF != "PRIVATE" {print p ($2 == "=" ? $3 : $1)}' \
    "$build/korvessa.def" | LC_ALL=C sort)
  defined=$(llvm-nm --defined-only "$lib" 2>/dev/null | awk '$2 ~ /^[TI]$/ {print $3}' |
    grep -v -e '^__imp_' -e '^_head_' -e '_iname$' -e 'IMPORT_DESCRIPTOR' -e 'NULL_THUNK' | LC_ALL=C sort -u)
  check "$arch: llvm-nm finds the header's symbols in korvessa.lib, nothing else ($(wc -l <<<"$callers"))" \
    "$callers" "$defined"
  pointers=$(llvm-nm --defined-only "$lib" 2>/dev/null | awk '$3 ~ /^__imp_/ {print substr($3, 7)}' | LC_ALL=C sort -u)
  check "$arch: each has its __imp_ pointer" "$callers" "$pointers"

  clang --target="$target" -std=c99 -Wall -Wextra -Werror -nostdinc -isystem "$work/stub" -I "$root/sdk" \
    -c "$work/probe.c" -o "$work/probe-$arch.obj"
  imported=""
  if lld-link /nologo /nodefaultlib /entry:probe_entry /subsystem:console /machine:$machine \
      /out:"$work/probe-$arch.exe" "$work/probe-$arch.obj" "$lib" >"$work/link-$arch.log" 2>&1; then
    imported=$(llvm-objdump -p "$work/probe-$arch.exe" |
      awk '/DLL Name: korvessa.dll/ {on=1; next} on && (/DLL Name/ || NF == 0) {on=0}
           on && NF == 2 && $1 ~ /^[0-9]+$/ {print $2}' | LC_ALL=C sort)
  else
    cat "$work/link-$arch.log" >&2
  fi
  check "$arch: lld-link imports every declared function by its exported name" "$exported" "$imported"
done
((fails == 0))
