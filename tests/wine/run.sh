#!/usr/bin/env bash
# Runs the Windows build under Wine: a fresh WINEPREFIX in a temporary
# folder, a virtual display, the Traditional Chinese locale (code page 950).
# The test host loads korvessa.dll and checks its exports; the gallery shows
# every dialog on the Win32 renderer; OpenSSL then checks the hashes and
# signatures the host wrote. Screenshots land in <build dir>/wine-shots/.
#
#   tests/wine/run.sh <build dir>      e.g. build/mingw-x86_64 or build/mingw-i686
# With KORVESSA_WINE_PREFIX set, the prefix is made there and kept for the
# caller's next Wine stage (the COM server's), which removes it.
set -euo pipefail

build=$(readlink -f "${1:?usage: tests/wine/run.sh <build dir>}")
case "$build" in
  *i686*) wine=/usr/lib/wine/wine ;;
  *) wine=/usr/lib/wine/wine64 ;;
esac
if [[ ! -x "$wine" ]]; then
  echo "wine: $wine is not installed" >&2
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/korvessa-wine.XXXXXX")
out="$build/wine-out"
rm -rf "$out" "$build/wine-shots"
mkdir -p "$out"

export WINEPREFIX="${KORVESSA_WINE_PREFIX:-$work/prefix}" WINEDEBUG=-all LANG=zh_TW.UTF-8 LC_ALL=zh_TW.UTF-8
# No .NET or browser engine installers: nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
[[ "$wine" == */wine ]] && export WINEARCH=win32

xvfb_pid=""
cleanup() {
  # Waited for: the next stage shares the prefix and must not meet this
  # server on its way out.
  "$(dirname "$wine")/wineserver" -k 2>/dev/null || true
  "$(dirname "$wine")/wineserver" -w 2>/dev/null || true
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A display of our own: Xvfb picks a free number and reports it.
exec 3<> "$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do [[ -s "$work/display" ]] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"

"$wine" wineboot -i >/dev/null 2>&1
reg() { "$wine" reg add "$@" /f >/dev/null 2>&1; }
# Wine draws the window frames itself (there is no window manager), and the
# dialogs' font finds the CJK font of the system.
reg 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N
for face in '新細明體' PMingLiU 'MS Shell Dlg' 'MS Shell Dlg 2' Tahoma; do
  reg 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d 'Noto Sans CJK TC'
done

winpath() { echo "Z:${1//\//\\}"; }
status=0
echo "-- korvessa_wine_host ($(basename "$build"))"
"$wine" "$build/korvessa_wine_host.exe" "$(winpath "$build/korvessa.dll")" "$(winpath "$out")" \
  | tr -d '\r' | tee "$out/host.log" || status=1
echo "-- korvessa_dialog_gallery"
mkdir -p "$out/gallery"
"$wine" "$build/korvessa_dialog_gallery.exe" "$(winpath "$out/gallery")" \
  | tr -d '\r' | tee "$out/gallery.log" || status=1
grep -q '^not ok' "$out/host.log" "$out/gallery.log" && status=1

# --- what the DLL produced, checked with OpenSSL -------------------------
bash "$(dirname "$0")/verify_outputs.sh" "$out" || status=1

mkdir -p "$build/wine-shots"
cp "$out"/wine-shots/*.png "$build/wine-shots/" 2>/dev/null || true
for f in "$out"/gallery/wine-shots/*.png; do
  [[ -e "$f" ]] && cp "$f" "$build/wine-shots/gallery-$(basename "$f")"
done
echo "-- screenshots: $(ls "$build/wine-shots" | wc -l) in $build/wine-shots"
exit "$status"
