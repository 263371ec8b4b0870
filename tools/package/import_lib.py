#!/usr/bin/env python3
"""Import library of korvessa.dll for Microsoft's linker and mingw's, from the build's korvessa.def.

    tools/package/import_lib.py x86|x64 KORVESSA_DEF OUT_LIB

A line of the .def reads `EXPORTED = INTERNAL`: the DLL exports the
operations under their decorated names (_Hash@8) on both architectures,
while a C caller of the header's __stdcall declarations refers to `_Hash@8`
on x86 and to plain `Hash` on x64. The library maps each caller symbol to
the exported name:

- x86: one short import per export (llvm-dlltool) whose symbol is the
  caller's. llvm-dlltool reads .def files in mingw's manner, where a stdcall
  name is imported without its leading underscore; the import's name type is
  then set so that the loader looks up exactly the exported name (`_Hash@8`
  as is, `KvAdmitWebOrigin` undecorated). Short imports need no objects of
  their own, so nothing in the library breaks the SAFESEH images that Visual
  Studio's x86 projects ask for.
- x64: the short import format cannot rename on this architecture, and the
  weak aliases llvm-dlltool writes for `Hash == _Hash@8` are not resolved by
  GNU ld. mingw's dlltool writes a small import object per export instead,
  defining `Hash` and `__imp_Hash` with `_Hash@8` as the name to import;
  both linkers read those.

PRIVATE entries (the COM server's) stay out, as Microsoft's tools do.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

# IMPORT_OBJECT_NAME_TYPE values of a short import header.
NAME, NOPREFIX, UNDECORATE = 1, 2, 3


def read_def(path):
    """(exported, internal) of each non-private export, in file order."""
    entries, exports = [], False
    with open(path, encoding="ascii") as f:
        for line in f:
            words = line.split(";")[0].split()
            if not words:
                continue
            if words[0] == "EXPORTS":
                exports = True
                continue
            if not exports or words[-1] == "PRIVATE":
                continue
            internal = words[2] if len(words) >= 3 and words[1] == "=" else words[0]
            entries.append((words[0], internal))
    return entries


def import_name(symbol, name_type):
    """The name the loader looks up for a short import (PE/COFF rules)."""
    if name_type == NAME:
        return symbol
    bare = symbol[1:] if symbol[:1] in ("?", "@", "_") else symbol
    return bare if name_type == NOPREFIX else bare.split("@")[0]


def set_name_types(lib_path, wanted):
    """Sets each x86 short import's name type so that it imports wanted[symbol]."""
    data = bytearray(open(lib_path, "rb").read())
    if data[:8] != b"!<arch>\n":
        sys.exit(f"import_lib: {lib_path} is not an archive")
    pos, done = 8, set()
    while pos + 60 <= len(data):
        size = int(data[pos + 48:pos + 58].decode().strip())
        body = pos + 60
        # The linker members ("/") and the long names ("//") are no imports.
        sig1, sig2 = struct.unpack_from("<HH", data, body)
        if not data[pos:pos + 1] == b"/" and sig1 == 0 and sig2 == 0xFFFF:
            symbol = bytes(data[body + 20:data.index(b"\0", body + 20)]).decode()
            want = wanted.get(symbol)
            if want is None:
                sys.exit(f"import_lib: unexpected import {symbol}")
            for name_type in (NAME, NOPREFIX, UNDECORATE):
                if import_name(symbol, name_type) == want:
                    break
            else:
                sys.exit(f"import_lib: no name type imports {want} as {symbol}")
            (flags,) = struct.unpack_from("<H", data, body + 18)
            struct.pack_into("<H", data, body + 18, (flags & ~0x1C) | (name_type << 2))
            done.add(symbol)
        pos = body + size + (size & 1)
    missing = set(wanted) - done
    if missing:
        sys.exit(f"import_lib: no import for {sorted(missing)}")
    tmp = lib_path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, lib_path)


def main(argv):
    if len(argv) != 4 or argv[1] not in ("x86", "x64"):
        sys.exit(__doc__.split("\n\n")[1])
    arch, def_path, out = argv[1:]
    entries = read_def(def_path)
    if arch == "x64":
        lines = [f"{internal} == {exported}" if internal != exported else exported
                 for exported, internal in entries]
        tool = ["x86_64-w64-mingw32-dlltool", "-m", "i386:x86-64"]
    else:
        # The caller's symbol is "_" + the internal name (Hash@8).
        lines = [internal for _, internal in entries]
        tool = ["llvm-dlltool", "-m", "i386"]
    with tempfile.TemporaryDirectory() as tmp:
        dlltool_def = os.path.join(tmp, "imports.def")
        with open(dlltool_def, "w", encoding="ascii") as f:
            f.write("LIBRARY korvessa.dll\nEXPORTS\n" + "".join(f"  {l}\n" for l in lines))
        # mingw's dlltool names symbols and members after the output file:
        # made as korvessa.lib in the temporary folder, the same definitions
        # give the same library wherever it goes.
        subprocess.run(tool + ["-d", "imports.def", "-l", "korvessa.lib"], check=True, cwd=tmp)
        shutil.move(os.path.join(tmp, "korvessa.lib"), out)
    if arch == "x86":
        set_name_types(out, {"_" + internal: exported for exported, internal in entries})
    print(f"{out}: {len(entries)} imports ({arch})")


if __name__ == "__main__":
    main(sys.argv)
