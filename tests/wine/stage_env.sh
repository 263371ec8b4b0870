# Sourced by the Wine stages that share a prefix or make their own (the COM
# server's, the native host's, the installer's): the loader for the build's
# architecture, the environment every stage runs in, and the prefix.

# stage_wine BUILD: $wine is the loader of BUILD's architecture (stops when
# it is not installed); the Traditional Chinese locale gives code page 950;
# no .NET or browser engine installers, nothing here needs them.
stage_wine() {
  case "$1" in
    *i686*) wine=/usr/lib/wine/wine ;;
    *) wine=/usr/lib/wine/wine64 ;;
  esac
  [[ -x "$wine" ]] || { echo "wine: $wine is not installed" >&2; exit 1; }
  export WINEDEBUG=-all LANG=zh_TW.UTF-8 LC_ALL=zh_TW.UTF-8
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
}

# stage_prefix NAME [fresh]: keeps $WINEPREFIX when it names a prefix that is
# set up already (a caller that shares its prefix), unless "fresh" asks for a
# new customer's machine; otherwise boots one in a temporary folder. On exit
# the prefix's server stops, and is waited for, so the next stage never
# meets a server on its way out (shared prefix or not: the caller removes a
# shared one right after); a prefix of the stage's own is removed.
stage_prefix() {
  own_prefix=""
  trap '"$(dirname "$wine")/wineserver" -k 2>/dev/null || true; "$(dirname "$wine")/wineserver" -w 2>/dev/null || true; [[ -z "$own_prefix" ]] || rm -rf "$own_prefix"' EXIT
  if [[ "${2:-}" == fresh || -z "${WINEPREFIX:-}" || ! -f "${WINEPREFIX}/system.reg" ]]; then
    own_prefix=$(mktemp -d "${TMPDIR:-/tmp}/korvessa-$1.XXXXXX")
    export WINEPREFIX="$own_prefix/prefix"
    [[ "$wine" == */wine ]] && export WINEARCH=win32
    "$wine" wineboot -i >/dev/null 2>&1
  else
    export WINEPREFIX
  fi
}
