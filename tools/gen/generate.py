#!/usr/bin/python3
"""Writes every file that lists the operations or the result codes from the
two tables: src/engine/operation_table.h (with the descriptions in
src/engine/operation_docs.py) and src/vocabulary/error_table.h.

Build-tree outputs (CMake runs these at configure time):
  generate.py def --arch x86|x64 --out FILE
  generate.py importdef --arch x86|x64 --out FILE   (for dlltool: the header's names)
  generate.py idl --template FILE --iid G --libid G --clsid G --out FILE
  generate.py count
Committed outputs (the reference, the declarations, the extension's list):
  generate.py committed --write | --check
--check exits 1 and names each file that differs from what the tables give.
Standard library only.
"""
import argparse
import ast
import os
import re
import sys

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
TABLE = "src/engine/operation_table.h"
DOCS = "src/engine/operation_docs.py"
ERRORS = "src/vocabulary/error_table.h"
FIRST_SLOT = 7  # IDispatch fills slots 0-6 of the dual interface

POLICY_VALUES = {
    "reset": ("Keep", "Code", "Both"),
    "protectedMode": ("Serves", "Refuses"),
    "siteLock": ("Open", "Call", "RegistryWrite"),
    "refused": ("Empty", "Zero", "Code", "Never"),
}
PAGE_ACTIONS = ("Plain", "CreateKey", "InstallCertificates", "ImportPfx", "ExportPfx", "MobileFromPfx",
                "MobileFromStore", "ChangePfxPassword", "DeleteCertificate")


class TableError(Exception):
    pass


def read(path):
    with open(os.path.join(ROOT, path), encoding="utf-8") as f:
        return f.read()


# --- the tables -----------------------------------------------------------

def parse_operations(text):
    ops = []
    group = None
    sp = r"\s*"
    ident = r"[A-Za-z_]\w*"
    entry = re.compile(
        r"--- (?P<group>[^\n]*?) ---|"
        r"KV_OPERATION\(" + sp + r"(?P<slot>\d+)" + sp + "," + sp + r"(?P<dispid>\d+)" + sp + "," + sp +
        r"(?P<result>\w+)" + sp + "," + sp + "(?P<name>" + ident + ")" + sp + "," + sp +
        "(?P<export>" + ident + ")" + sp + "," + sp + r"KV_PARAMS\((?P<params>[^()]*)\)" + sp + "," + sp +
        r"KV_POLICY\((?P<policy>[^()]*)\)" + sp + r"\)")
    body = text[text.index("// clang-format off"):]
    for m in entry.finditer(body):
        if m.group("group"):
            group = re.sub(r"\s*\(.*\)$", "", m.group("group"))
            continue
        words = [w.strip() for w in m.group("params").split(",") if w.strip()]
        if len(words) % 2:
            raise TableError(f"{m.group('name')}: parameters come as type/name pairs")
        params = list(zip(words[0::2], words[1::2]))
        policy = [w.strip() for w in m.group("policy").split(",")]
        if len(policy) != 5:
            raise TableError(f"{m.group('name')}: KV_POLICY takes five values")
        ops.append({
            "slot": int(m.group("slot")), "dispid": int(m.group("dispid")), "result": m.group("result"),
            "name": m.group("name"), "export": m.group("export"), "params": params, "group": group,
            "reset": policy[0], "protectedMode": policy[1], "siteLock": policy[2], "refused": policy[3],
            "page": policy[4],
        })
    if body.count("KV_OPERATION(") != len(ops):
        raise TableError(f"{TABLE}: read {len(ops)} of {body.count('KV_OPERATION(')} entries; keep each in its plain shape")
    check_operations(ops)
    return ops


def check_operations(ops):
    seen = {}
    for i, op in enumerate(ops):
        name = op["name"]
        if op["slot"] != FIRST_SLOT + i:
            raise TableError(f"{name} has slot {op['slot']}, its place in the table is {FIRST_SLOT + i}")
        if op["result"] not in ("BSTR", "LONG"):
            raise TableError(f"{name}: result {op['result']} is neither BSTR nor LONG")
        for ptype, pname in op["params"]:
            if ptype not in ("BSTR", "LONG"):
                raise TableError(f"{name}: parameter {pname} has type {ptype}")
        for field, values in POLICY_VALUES.items():
            if op[field] not in values:
                raise TableError(f"{name}: {field} is {op[field]}, one of {', '.join(values)} expected")
        if op["page"] not in PAGE_ACTIONS:
            raise TableError(f"{name}: page action {op['page']} is not a kv::host::PageAction")
        if (op["siteLock"] == "Open") != (op["refused"] == "Never"):
            raise TableError(f"{name}: only an Open operation is never refused, and it is never refused")
        if op["refused"] == "Empty" and op["result"] != "BSTR" or \
           op["refused"] in ("Zero", "Code") and op["result"] != "LONG":
            raise TableError(f"{name}: a refused {op['result']} cannot answer {op['refused']}")
        if op["siteLock"] == "RegistryWrite" and (not op["params"] or op["params"][0][0] != "BSTR"):
            raise TableError(f"{name}: a registry write names its value in its first, string parameter")
        for key in (("dispid", op["dispid"]), ("name", name), ("export", op["export"])):
            if key in seen:
                raise TableError(f"{name}: {key[0]} {key[1]} is {seen[key]}'s already")
            seen[key] = name
    exports = {op["export"] for op in ops}
    for op in ops:
        if op["name"] != op["export"] and op["name"] in exports:
            raise TableError(f"{op['name']} is another operation's export name")


C_ESCAPES = {'"': '"', "\\": "\\", "n": "\n", "t": "\t"}


def c_string(literal):
    out, i = [], 0
    while i < len(literal):
        ch = literal[i]
        if ch == "\\":
            nxt = literal[i + 1]
            if nxt not in C_ESCAPES:
                raise TableError(f"unsupported escape \\{nxt} in {literal}")
            out.append(C_ESCAPES[nxt])
            i += 2
        else:
            out.append(ch)
            i += 1
    return "".join(out)


def parse_errors(text):
    string = r'"((?:[^"\\]|\\.)*)"'
    line = re.compile(r"^KV_ERROR\((ERR_\w+), (-?\d+), u8" + string + ", " + string + r"\)$", re.M)
    errors = [{"name": m.group(1), "code": int(m.group(2)), "message": c_string(m.group(3)),
               "gloss": c_string(m.group(4))} for m in line.finditer(text)]
    if len(re.findall(r"^KV_ERROR\(", text, re.M)) != len(errors):
        raise TableError(f"{ERRORS}: an entry is not in the plain shape")
    codes = [e["code"] for e in errors]
    if codes != sorted(set(codes)):
        raise TableError(f"{ERRORS}: codes must be unique and sorted")
    for e in errors:
        if e["message"].count("%") != 1 or "%d" not in e["message"]:
            raise TableError(f"{e['name']}: the message holds exactly one %d")
    return errors


def parse_docs(text, ops, errors):
    docs = ast.literal_eval(text)
    names = {op["name"] for op in ops}
    described = set(docs["operations"])
    if names != described:
        raise TableError(f"{DOCS}: undescribed {sorted(names - described)}, unknown {sorted(described - names)}")
    error_names = {e["name"] for e in errors}
    for group, codes in docs["codeGroups"].items():
        for c in codes:
            if c not in error_names:
                raise TableError(f"{DOCS}: code group {group} names {c}, which {ERRORS} lacks")
    for op in ops:
        d = docs["operations"][op["name"]]
        for key in ("summary", "result"):
            if not d.get(key):
                raise TableError(f"{DOCS}: {op['name']} has no {key}")
        pnames = [p for _, p in op["params"]]
        for p in d.get("params", {}):
            if p not in pnames:
                raise TableError(f"{DOCS}: {op['name']} describes {p}, which it does not take")
        for p in pnames:
            if p not in d.get("params", {}) and p not in docs["params"]:
                raise TableError(f"{DOCS}: nothing says what {op['name']}'s {p} means")
        flags = op_flags(docs, op["name"])
        if flags and "dwFlags" not in pnames:
            raise TableError(f"{DOCS}: {op['name']} has flag bits but no dwFlags")
        for c in op_codes(docs, op, error_names):
            if c not in error_names:
                raise TableError(f"{DOCS}: {op['name']} gives {c}, which {ERRORS} lacks")
    return docs


def flag_list(docs, value):
    if not value:
        return []
    if isinstance(value, str):
        return list(docs["flagSets"][value.lstrip("@")])
    return list(value)


def op_flags(docs, name):
    d = docs["operations"][name]
    merged = {}
    for bit, meaning in flag_list(docs, d.get("flags")) + flag_list(docs, d.get("extraFlags")):
        merged[bit] = meaning  # an operation's own meaning of a bit wins
    return sorted(merged.items())


def op_codes(docs, op, error_names=None):
    codes = []
    for c in docs["operations"][op["name"]].get("codes", []):
        codes += docs["codeGroups"][c[1:]] if c.startswith("@") else [c]
    if op["protectedMode"] == "Refuses":
        codes.append("ERR_IE_PROTECTED_MODE")
    if op["page"] != "Plain":
        codes.append("ERR_USER_CANCEL")
    out = []
    for c in codes:
        if c not in out:
            out.append(c)
    return out


def param_meaning(docs, name, pname):
    return docs["operations"][name].get("params", {}).get(pname) or docs["params"][pname]


def load():
    ops = parse_operations(read(TABLE))
    errors = parse_errors(read(ERRORS))
    docs = parse_docs(read(DOCS), ops, errors)
    return ops, errors, docs


# --- the doors' own exports (src/api) ----------------------------------------

def api_sources():
    found = []
    for folder, _, files in os.walk(os.path.join(ROOT, "src/api")):
        found += [os.path.join(folder, f) for f in files if f.endswith(".cpp")]
    return sorted(found)


def count_c_params(params):
    params = params.strip()
    return 0 if params in ("", "void") else params.count(",") + 1


def plain_exports(lead, pattern, repeat_ok):
    """(name, params text, comment above) of `lead Name(params)` declarations."""
    found, seen = [], set()
    decl = re.compile(r"((?:^//[^\n]*\n)*)^" + lead + "(" + pattern + r")[ \t]*\(([^)]*)\)", re.M)
    for path in api_sources():
        with open(path, encoding="utf-8") as f:
            text = f.read()
        for m in decl.finditer(text):
            name = m.group(2)
            if name in seen:
                if repeat_ok:
                    continue
                raise TableError(f"src/api: {name} is exported twice")
            seen.add(name)
            comment = " ".join(l[2:].strip() for l in m.group(1).splitlines())
            found.append((name, m.group(3), comment))
    return found


def door_exports():
    """(name, params text, comment above, result type) of the doors' own entries."""
    results = {}
    for path in api_sources():
        with open(path, encoding="utf-8") as f:
            for m in re.finditer(r"^KV_EXPORT\(([A-Z]+)\)[ \t]+(Kv[A-Za-z]+)", f.read(), re.M):
                results[m.group(2)] = m.group(1)
    return [(name, params, comment, results[name])
            for name, params, comment in plain_exports(r"KV_EXPORT\((?:[A-Z]+)\)[ \t]+", "Kv[A-Za-z]+", False)]


# --- build-tree outputs --------------------------------------------------------

def def_text(ops, x86):
    lines, seen = [], set()
    for op in ops:
        name, n = op["export"], 4 * len(op["params"])
        if name in seen:
            raise TableError(f"{TABLE}: {name} is exported twice")
        seen.add(name)
        lines.append(f"  _{name}@{n} = {name}@{n}" if x86 else f"  _{name}@{n} = {name}")
    for group, suffix, repeat_ok in (((r"STDAPI[ \t]+", "Dll[A-Za-z]+"), " PRIVATE", True),
                                     ((r"KV_EXPORT\([A-Z]+\)[ \t]+", "Kv[A-Za-z]+"), "", False)):
        for name, params, _ in plain_exports(group[0], group[1], repeat_ok):
            if name in seen:
                raise TableError(f"src/api: {name} is exported twice")
            seen.add(name)
            n = 4 * count_c_params(params)
            lines.append(f"  {name} = {name}@{n}{suffix}" if x86 else f"  {name}{suffix}")
    return ("; Generated from src/engine/operation_table.h at configure time. Do not edit.\n"
            "LIBRARY korvessa.dll\nEXPORTS\n" + "\n".join(sorted(lines)) + "\n")


def import_def_text(ops, x86):
    """The .def an import library is made from (dlltool -d): each name a C
    compiler gives the header's declaration, bound to the DLL's export."""
    lines = []
    for op in ops:
        name, n = op["export"], 4 * len(op["params"])
        lines.append(f"  {name}@{n} == _{name}@{n}" if x86 else f"  {name} == _{name}@{n}")
    for name, params, _, _ in door_exports():
        n = 4 * count_c_params(params)
        lines.append(f"  {name}@{n} == {name}" if x86 else f"  {name}")
    return ("; Generated from src/engine/operation_table.h. Do not edit.\n"
            "LIBRARY korvessa.dll\nEXPORTS\n" + "\n".join(sorted(lines)) + "\n")


def idl_text(ops, template, ids):
    methods = ""
    for op in ops:
        args = "".join(f"[in] {t} {p}, " for t, p in op["params"])
        methods += f"    [id({op['dispid']})] HRESULT {op['name']}({args}[out, retval] {op['result']} *result);\n"
    text = template.replace("@methods@", methods)
    for key, value in ids.items():
        text = text.replace(f"@{key}@", value)
    return text


# --- committed outputs ------------------------------------------------------------

GENERATED = "Generated by tools/gen/generate.py from src/engine/operation_table.h, " \
            "src/engine/operation_docs.py and src/vocabulary/error_table.h. Do not edit."

JS_TYPE = {"BSTR": "string", "LONG": "number"}
C_TYPE = {"BSTR": "KvCStr", "LONG": "KvLong"}
C_RESULT = {"BSTR": "KvBstr", "LONG": "KvLong"}


def operations_js(ops):
    rows = ",\n".join(f'  [{js_str(op["name"])}, [{", ".join(js_str(p) for _, p in op["params"])}]]' for op in ops)
    return (f"// {GENERATED}\n"
            "// The page object's operations, name and parameter names in the interface's\n"
            "// order. Loaded into the page's world just before page_api.js, which takes\n"
            "// the list and removes it again.\n"
            "Object.defineProperty(globalThis, \"__korvessaOperations\", {\n"
            "  configurable: true,\n"
            "  value: Object.freeze([\n" + rows.replace("\n  [", "\n    [").replace("  [", "    [", 1) + "\n  ])\n});\n")


def js_str(s):
    return '"' + s.replace("\\", "\\\\").replace('"', '\\"') + '"'


def ts_params(op):
    return ", ".join(f"{p}: {JS_TYPE[t]}" for t, p in op["params"])


def jsdoc(lines, indent):
    out = f"{indent}/**\n"
    for l in lines:
        out += f"{indent} * {l}\n" if l else f"{indent} *\n"
    return out + f"{indent} */\n"


def ts_doc(op, docs):
    d = docs["operations"][op["name"]]
    lines = [d["summary"]]
    for bit, meaning in op_flags(docs, op["name"]):
        lines.append(f"- dwFlags 0x{bit:X}: {meaning}")
    for _, p in op["params"]:
        lines.append(f"@param {p} {param_meaning(docs, op['name'], p)}")
    lines.append(f"@returns {d['result']}")
    return lines


def korvessa_d_ts(ops, docs):
    out = f"// {GENERATED}\n"
    out += ("// The page object a web page gets from the Korvessa extension on sites the\n"
            "// user's and the machine's allow-lists admit. Each method sends one call to\n"
            "// the engine and resolves with its result; `outcome` offers the same methods\n"
            "// resolving with the call's whole outcome. docs/api.md is the reference.\n\n")
    out += jsdoc(["What a call gave: its result and the engine's error state right after it,",
                  "taken from the same answer (no second call, so no other flow can interleave)."], "")
    out += ("interface KorvessaOutcome<T extends string | number> {\n"
            "  /** The method's result, as the plain form resolves with it. */\n"
            "  result: T;\n"
            "  /** The result code: 0 for success (docs/api.md lists every code). */\n"
            "  error: number;\n"
            "  /** The platform's error number recorded by the call, 0 when none. */\n"
            "  capiError: number;\n"
            "  /** The result code's message in Traditional Chinese, ending in the code in parentheses. */\n"
            "  message: string;\n"
            "}\n\n")
    out += jsdoc(["The rejection of a call that was not made: the site is not allowed (code 1502),",
                  "the call is malformed, or the engine cannot be reached (code -1)."], "")
    out += "interface KorvessaCallError extends Error {\n  code: number;\n}\n\n"
    out += "/** The methods in their outcome form. */\ninterface KorvessaOutcomeMethods {\n"
    for op in ops:
        out += jsdoc(ts_doc(op, docs)[:1], "  ")
        out += f"  {op['name']}({ts_params(op)}): Promise<KorvessaOutcome<{JS_TYPE[op['result']]}>>;\n"
    out += "}\n\n"
    out += "/** The page object: the scriptable object's methods, each returning a promise. */\n"
    out += "interface KorvessaPageObject {\n"
    for op in ops:
        out += jsdoc(ts_doc(op, docs), "  ")
        out += f"  {op['name']}({ts_params(op)}): Promise<{JS_TYPE[op['result']]}>;\n"
    out += "  /** The same methods, each resolving with the call's whole outcome. */\n"
    out += "  readonly outcome: KorvessaOutcomeMethods;\n}\n\n"
    out += "declare var Korvessa: KorvessaPageObject;\n\ninterface Window {\n  readonly Korvessa: KorvessaPageObject;\n}\n"
    return out


def c_prototype(op, name=None):
    params = ", ".join(f"{C_TYPE[t]} {p}" for t, p in op["params"]) or "void"
    return f"{C_RESULT[op['result']]} KV_API {name or op['export']}({params});"


def c_comment(lines, width=100):
    out = []
    for l in lines:
        words, cur = l.split(), ""
        for w in words:
            if cur and len(cur) + 1 + len(w) > width - 3:
                out.append(cur)
                cur = w
            else:
                cur = f"{cur} {w}" if cur else w
        out.append(cur)
    return "".join(f"/* {l} */\n" if len(out) == 1 else "" for l in out) if len(out) == 1 else \
        "/* " + "\n   ".join(out) + " */\n"


def korvessa_h(ops, errors, docs):
    out = f"/* {GENERATED} */\n"
    out += """/* Korvessa: the component's flat interface for desktop programs, in C.

   Every function runs on the caller's thread against the one engine of the
   process; calls must not overlap. A function that can fail records a result
   code (KV_ERR_*), read afterwards with GetErrorCode and GetErrorMsg; text
   results are never null for a successful allocation, and a failed call
   returns an empty text or its result code.

   Text arguments are zero-terminated UTF-16 strings the caller keeps (a null
   pointer reads as empty). A KvBstr result is a new automation string the
   caller owns and frees with SysFreeString: on Windows the system's
   (oleaut32), on Linux the one libkorvessa.so exports beside the operations.

   Windows: the functions are __stdcall and exported under decorated names
   (_Hash@8); link with the developer kit's lib/x86 or lib/x64 korvessa.lib,
   which binds these declarations to them.
   Linux: plain C calls of libkorvessa.so; take the flags from
   `pkg-config --cflags --libs korvessa` or CMake's find_package(Korvessa)
   (target Korvessa::korvessa). */
#ifndef KORVESSA_H
#define KORVESSA_H

#ifdef _WIN32
#include <windows.h>
#include <oleauto.h>
#define KV_API __stdcall
typedef WCHAR KvChar; /* one UTF-16 code unit, as KvChar on Linux */
typedef BSTR KvBstr;
typedef LPCWSTR KvCStr;
typedef LONG KvLong;
#else
#include <stdint.h>
#define KV_API
#if defined(__cplusplus)
typedef char16_t KvChar;
#else
typedef uint16_t KvChar;
#endif
typedef KvChar* KvBstr;
typedef const KvChar* KvCStr;
typedef int32_t KvLong;
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes (GetErrorCode); 0 is success, codes are never combined. */
enum KvResultCode {
"""
    width = max(len(e["name"]) for e in errors) + 3
    for i, e in enumerate(errors):
        comma = "," if i + 1 < len(errors) else ""
        out += f"  KV_{e['name']} = {e['code']}{comma}".ljust(width + 12) + f"/* {e['gloss']} */\n"
    out += "};\n"
    group = None
    for op in ops:
        if op["group"] != group:
            group = op["group"]
            out += f"\n/* --- {group} --- */\n"
        d = docs["operations"][op["name"]]
        lines = [d["summary"]]
        flags = op_flags(docs, op["name"])
        if flags:
            lines.append("dwFlags: " + "; ".join(f"0x{b:X} {m}" for b, m in flags) + ".")
        lines.append(f"Result: {d['result']}.")
        out += "\n" + c_comment(lines) + c_prototype(op) + "\n"
    out += "\n/* --- the browser door --- */\n"
    for name, params, comment, result in door_exports():
        cparams = ", ".join(c_param(p) for p in params.split(",")) if count_c_params(params) else "void"
        ctype = {"LONG": "KvLong", "BSTR": "KvBstr"}[result]
        out += "\n" + c_comment([comment, "For the browser extension's native host; desktop programs do not call it."])
        out += f"{ctype} KV_API {name}({cparams});\n"
    out += """
#ifndef _WIN32
/* --- automation strings (Linux; Windows programs use oleaut32's) --- */

/* A new string holding the zero-terminated text; null for a null pointer. */
KvBstr SysAllocString(KvCStr text);
/* A new string of `length` characters copied from `text` (zeros when null). */
KvBstr SysAllocStringLen(KvCStr text, unsigned int length);
/* A new string of `length` bytes copied from `bytes` (zeros when null). */
KvBstr SysAllocStringByteLen(const char* bytes, unsigned int length);
/* Frees a string the library returned; null is allowed. */
void SysFreeString(KvBstr text);
/* The string's length in characters. */
unsigned int SysStringLen(KvBstr text);
/* The string's length in bytes. */
unsigned int SysStringByteLen(KvBstr text);
#endif

#ifdef __cplusplus
}
#endif

#endif /* KORVESSA_H */
"""
    return out


def c_param(p):
    ptype, pname = p.split()
    return f"{ {'LPCWSTR': 'KvCStr', 'LONG': 'KvLong'}[ptype] } {pname}"


def md_escape(s):
    return s.replace("|", "\\|")


def api_md(ops, errors, docs):
    by_name = {e["name"]: e for e in errors}
    out = f"<!-- {GENERATED} -->\n# Korvessa API reference\n\n"
    out += (f"The component offers {len(ops)} operations, the same through every door:\n\n"
            "- **Web pages** (through the browser extension): `Korvessa.Name(...)` returns a promise of the\n"
            "  result; `Korvessa.outcome.Name(...)` returns a promise of `{result, error, capiError, message}`,\n"
            "  the result and the engine's error state taken from that very call. Use the outcome form\n"
            "  whenever the result code matters: the plain form then needs `GetErrorCode()`, which another\n"
            "  flow of the page (or another tab of the site) may have changed in between. A promise rejects\n"
            "  only when the call is not made (site not allowed: 1502; malformed call; engine unreachable).\n"
            "  Types: `sdk/korvessa.d.ts`.\n"
            "- **Desktop programs** (C, C++): the exported functions of `korvessa.dll` / `libkorvessa.so`,\n"
            "  declared in `sdk/korvessa.h`. Text results are new strings the caller frees with\n"
            "  `SysFreeString`; read the outcome with `GetErrorCode()` and `GetErrorMsg()` after the call.\n"
            "- **Scriptable object** (Windows): `CAPI`, interface `ICAPI`, the same methods by dispatch id.\n"
            "- **Command line**: `korvessa Name args...` and `korvessa --batch`.\n\n"
            "Every call from a web page also needs its site allowed; otherwise the call answers 1502 ("
            f"{by_name['ERR_SITE_NOT_ALLOWED']['message'].replace('%d', '1502')}).\n\n")
    out += "## Operations\n\n| Method | Dispatch id | Result | Summary |\n|---|---|---|---|\n"
    for op in ops:
        out += f"| [`{op['name']}`](#{op['name'].lower()}) | {op['dispid']} | {op['result']} | " \
               f"{md_escape(docs['operations'][op['name']]['summary'])} |\n"
    group = None
    for op in ops:
        if op["group"] != group:
            group = op["group"]
            out += f"\n## {group[0].upper() + group[1:]}\n"
        d = docs["operations"][op["name"]]
        args = ", ".join(p for _, p in op["params"])
        out += f"\n### {op['name']}\n\n{d['summary']}\n\n"
        out += f"- Page: `Korvessa.{op['name']}({args})` → `Promise<{JS_TYPE[op['result']]}>`\n"
        out += f"- C: `{c_prototype(op)}`"
        out += f" (Windows export `_{op['export']}@{4 * len(op['params'])}`)\n"
        out += f"- Result: {d['result']}\n"
        notes = {"Keep": "leaves the error state as it was",
                 "Code": "clears the result code at entry (the platform number is kept)",
                 "Both": "clears the result code and the platform number at entry"}
        policy = [notes[op["reset"]]]
        if op["protectedMode"] == "Refuses":
            policy.append("refused with 1500 in a browser protected-mode process")
        if op["page"] != "Plain":
            policy.append("a web page's call first asks the person to confirm (5070 when refused)")
        out += f"- Error state: {'; '.join(policy)}\n"
        if op["params"]:
            out += "\n| Parameter | Type | Meaning |\n|---|---|---|\n"
            for t, p in op["params"]:
                out += f"| `{p}` | {t} | {md_escape(param_meaning(docs, op['name'], p))} |\n"
        flags = op_flags(docs, op["name"])
        if flags:
            out += "\n| Flag | Meaning |\n|---|---|\n"
            for bit, meaning in flags:
                out += f"| `0x{bit:X}` | {md_escape(meaning)} |\n"
        codes = op_codes(docs, op)
        if codes:
            out += "\n| Code | Name | Message | Meaning |\n|---|---|---|---|\n"
            for e in sorted((by_name[c] for c in codes), key=lambda e: e["code"]):
                c = e["name"]
                out += f"| {e['code']} | `{c}` | {md_escape(e['message'])} | {md_escape(e['gloss'])} |\n"
    out += "\n## Result codes\n\nThe message is what `GetErrorMsg` returns, `%d` being the code; " \
           "any code not listed gives \"錯誤碼未定義(%d) \" (with the trailing blank).\n\n"
    out += "| Code | Name | Message | Meaning |\n|---|---|---|---|\n"
    for e in errors:
        out += f"| {e['code']} | `{e['name']}` | {md_escape(e['message'])} | {md_escape(e['gloss'])} |\n"
    return out


def check_page_confirmations(ops):
    """The table's page column against the operations' code: an operation asks
    for the person's confirmation exactly when its entry names an action."""
    bodies = {}
    for folder, _, files in os.walk(os.path.join(ROOT, "src")):
        for f in files:
            if f.endswith("_ops.cpp"):
                with open(os.path.join(folder, f), encoding="utf-8") as src:
                    text = src.read()
                for m in re.finditer(r"\n\w+ CCapiEngine::(\w+)\([^)]*\) \{\n", text):
                    end = text.find("\n}\n", m.end())
                    bodies[m.group(1)] = text[m.end():end]
    for op in ops:
        body = bodies.get(op["name"])
        if body is None:
            if op["page"] != "Plain":
                raise TableError(f"{op['name']} names the page action {op['page']}, but no *_ops.cpp defines it")
            continue
        actions = re.findall(r"PageAction::k(\w+)", body)
        found = actions[0] if actions else "DeleteCertificate" if "ConfirmPageDeletion" in body else "Plain"
        if found != op["page"]:
            raise TableError(f"{op['name']}: the table says page action {op['page']}, its code asks for {found}")


def committed(ops, errors, docs):
    return {
        "docs/api.md": api_md(ops, errors, docs),
        "sdk/korvessa.d.ts": korvessa_d_ts(ops, docs),
        "sdk/korvessa.h": korvessa_h(ops, errors, docs),
        "tools/korvessa-nm/extension/operations.js": operations_js(ops),
    }


def write_if_changed(path, text):
    try:
        with open(path, encoding="utf-8", newline="") as f:
            if f.read() == text:
                return
    except FileNotFoundError:
        pass
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(text)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    sub = parser.add_subparsers(dest="command", required=True)
    d = sub.add_parser("def")
    d.add_argument("--arch", choices=("x86", "x64"), required=True)
    d.add_argument("--out", required=True)
    m = sub.add_parser("importdef")
    m.add_argument("--arch", choices=("x86", "x64"), required=True)
    m.add_argument("--out", required=True)
    i = sub.add_parser("idl")
    i.add_argument("--template", required=True)
    i.add_argument("--out", required=True)
    for key in ("iid", "libid", "clsid"):
        i.add_argument(f"--{key}", required=True)
    sub.add_parser("count")
    c = sub.add_parser("committed")
    mode = c.add_mutually_exclusive_group(required=True)
    mode.add_argument("--write", action="store_true")
    mode.add_argument("--check", action="store_true")
    args = parser.parse_args(argv)
    try:
        ops, errors, docs = load()
        if args.command == "count":
            print(len(ops))
        elif args.command == "def":
            write_if_changed(args.out, def_text(ops, args.arch == "x86"))
        elif args.command == "importdef":
            write_if_changed(args.out, import_def_text(ops, args.arch == "x86"))
        elif args.command == "idl":
            with open(args.template, encoding="utf-8") as f:
                template = f.read()
            ids = {"KV_COM_IID": args.iid, "KV_COM_LIBID": args.libid, "KV_COM_CLSID": args.clsid}
            write_if_changed(args.out, idl_text(ops, template, ids))
        else:
            check_page_confirmations(ops)
            stale = []
            for rel, text in committed(ops, errors, docs).items():
                path = os.path.join(ROOT, rel)
                if args.write:
                    write_if_changed(path, text)
                else:
                    try:
                        with open(path, encoding="utf-8", newline="") as f:
                            if f.read() != text:
                                stale.append(rel)
                    except FileNotFoundError:
                        stale.append(rel)
            if stale:
                print("out of date with the tables (run tools/gen/generate.py committed --write): " +
                      ", ".join(stale), file=sys.stderr)
                return 1
    except TableError as e:
        print(f"generate.py: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
