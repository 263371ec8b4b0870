#!/usr/bin/env bash
# The Debian package as an administrator meets it: lintian finds no error or
# warning; the packed extension keeps the fixed ID and the Firefox build
# passes web-ext lint; the package installs on this machine, serves desktop
# programs built against it (tests/package/desktop_linux.sh), presets the
# machine's allow-list from /etc/korvessa/allowed-sites, serves Chromium and
# Firefox from the installed host and manifests (tests/browser, KV_INSTALLED),
# and purging it leaves none of its files.
#
#   tests/package/deb.sh PACKAGE_DIR     (korvessa_*.deb, the .crx and .xpi)
# Needs root (dpkg -i); CI runs as root. Elsewhere it says why it skips.
set -euo pipefail

dir=$(readlink -f "${1:?usage: deb.sh PACKAGE_DIR}")
root=$(readlink -f "$(dirname "$0")/../..")
deb=$(ls "$dir"/korvessa_*.deb)
crx=$(ls "$dir"/korvessa-extension-*.crx)
xpi=$(ls "$dir"/korvessa-extension-*.xpi)
fails=0
check() { # check WHAT COMMAND...: runs it, says ok or FAILED
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what" >&2; fails=$((fails + 1)); fi
}

echo "lintian $(basename "$deb")"
check "lintian: no error, no warning" lintian --fail-on error,warning --info "$deb"

fixed_id=$(sed -n 's/.*kChromiumExtensionId = "\([a-p]*\)".*/\1/p' "$root/tools/korvessa-nm/install.h")
check "the .crx installs as $fixed_id" test "$(node "$root/tests/package/crx_id.mjs" "$crx")" = "$fixed_id"
unpacked=$(mktemp -d "${TMPDIR:-/tmp}/korvessa-xpi.XXXXXX")
unzip -q "$xpi" -d "$unpacked"
check "web-ext lint passes on the .xpi" \
  "$root/tests/browser/node_modules/.bin/web-ext" lint --source-dir "$unpacked" --output text --no-config-discovery
rm -rf "$unpacked"

if [[ $(id -u) -ne 0 ]]; then
  echo "SKIPPED: installing the package needs root (dpkg -i); run as root to test it" >&2
  ((fails == 0))
  exit
fi
if dpkg-query -W -f='${db:Status-Status}' korvessa 2>/dev/null | grep -qv '^not-installed$'; then
  echo "SKIPPED: korvessa is already installed here; the test installs and purges its own" >&2
  ((fails == 0))
  exit
fi

reg=/usr/lib/korvessa/korvessa-reg
list='HKLM\SOFTWARE\Korvessa\CAPI\AllowedSites'
purge() { dpkg --purge korvessa >/dev/null 2>&1 || true; }
trap purge EXIT

check "dpkg -i" dpkg -i "$deb"
mapfile -t files < <(dpkg -L korvessa | grep -vx '/\.')
# What the maintainer scripts make is the package's as well.
files+=(/etc/opt/chrome/native-messaging-hosts/tw.korvessa.capi.json /var/lib/korvessa)

manifest_names_host() { [[ "$(jq -r .path "$1")" == /usr/lib/korvessa/korvessa-nm ]]; }
for m in /etc/chromium/native-messaging-hosts /etc/opt/chrome/native-messaging-hosts /usr/lib/mozilla/native-messaging-hosts; do
  check "$m names the installed host" manifest_names_host "$m/tw.korvessa.capi.json"
done
check "korvessa on the PATH" korvessa GetVersion
check "desktop programs build and sign against the package (pkg-config, CMake)" \
  bash "$root/tests/package/desktop_linux.sh"

# The preset: the file's origins become the machine's list, replacing what
# the file said before; a value added by hand stays; every user reads it.
preset() {
  printf '%s\n' "$@" >/etc/korvessa/allowed-sites
  dpkg-reconfigure korvessa
  KORVESSA_MACHINE_HOME=/var/lib/korvessa "$reg" list "$list" | cut -f1,3 | tr '\t' ' ' | LC_ALL=C sort | paste -sd,
}
KORVESSA_MACHINE_HOME=/var/lib/korvessa "$reg" set "$list" byhand REG_SZ https://hand.example
check "presets written" test "$(preset '# two' 'https://a.example' '  https://b.example:8443  ')" = \
  "Preset1 https://a.example,Preset2 https://b.example:8443,byhand https://hand.example"
check "presets replaced" test "$(preset 'https://c.example')" = "Preset1 https://c.example,byhand https://hand.example"
check "machine list root's, readable by every user" test "$(stat -c %U:%a /var/lib/korvessa/machine.db)" = root:644
check "a user reads the machine list" runuser -u nobody -- env HOME=/nonexistent KORVESSA_HOME=/tmp/nobody-korvessa \
  "$reg" get "$list" Preset1
rm -rf /tmp/nobody-korvessa

echo "browser door through the installed package"
check "browser test (installed)" env -C "$root/tests/browser" KV_INSTALLED=1 node --test browser_door.test.mjs

check "dpkg --purge" dpkg --purge korvessa
trap - EXIT
# Whatever is left was the package's, unless another package owns it (the
# shared folders such as /usr/bin).
left=()
while IFS= read -r path; do
  dpkg-query -S "$path" >/dev/null 2>&1 || left+=("$path")
done < <(find "${files[@]}" -maxdepth 0 2>/dev/null)
check "purge left nothing of the package (${#files[@]} paths)" test "${#left[@]}" -eq 0
((${#left[@]} == 0)) || printf '  left: %s\n' "${left[@]}" >&2
((fails == 0))
