#!/usr/bin/env bash
# The browser extension as files a store or an administrator takes, built
# from the one source folder (tools/korvessa-nm/extension) whatever files it
# holds:
#   OUT_DIR/chromium/                      unpacked, for Chromium and Chrome
#   OUT_DIR/korvessa-extension-VERSION.crx the same, packed by Debian's
#                                          Chromium with the fixed key
#   OUT_DIR/firefox/                       unpacked, for Firefox
#   OUT_DIR/korvessa-extension-VERSION.xpi the same, zipped
#
#   tools/package/extensions.sh OUT_DIR
# $KORVESSA_EXTENSION_KEY names another private key (PEM); it must be the
# half of the manifest's "key", or the packed ID would differ from the one the
# host's manifests admit. $CHROMIUM names the browser (default
# /usr/bin/chromium).
set -euo pipefail

out=${1:?usage: extensions.sh OUT_DIR}
here=$(dirname "$(readlink -f "$0")")
root=$(readlink -f "$here/../..")
source=$root/tools/korvessa-nm/extension
key=${KORVESSA_EXTENSION_KEY:-$here/extension_key.pem}
chromium=${CHROMIUM:-/usr/bin/chromium}
version=$(jq -r .version "$source/manifest.json")
fixed_id=$(sed -n 's/.*kChromiumExtensionId = "\([a-p]*\)".*/\1/p' "$root/tools/korvessa-nm/install.h")

# The ID Chromium gives an extension: the first 16 bytes of the SHA-256 of
# its public key (DER), each nibble written as a letter a..p.
id_of_public_key() { sha256sum | head -c 32 | tr 0-9a-f a-p; }
key_id=$(openssl pkey -in "$key" -pubout -outform DER | id_of_public_key)
manifest_id=$(jq -r .key "$source/manifest.json" | base64 -d | id_of_public_key)
if [[ "$key_id" != "$fixed_id" || "$manifest_id" != "$fixed_id" ]]; then
  echo "extensions.sh: the key gives $key_id, the manifest $manifest_id; the host admits $fixed_id" >&2
  exit 1
fi

mkdir -p "$out"
out=$(readlink -f "$out")
rm -rf "$out/chromium" "$out/firefox" "$out"/korvessa-extension-*.crx "$out"/korvessa-extension-*.xpi

# stage NAME JQ_FILTER: the source files and the manifest as that browser
# reads it. Each browser warns about the other's keys; Firefox has no MV3
# service worker and takes the same script as an event page.
stage() {
  mkdir -p "$out/$1"
  (cd "$source" && find . -type f ! -name manifest.json ! -name '.*' -exec cp --parents -t "$out/$1" {} +)
  jq "$2" "$source/manifest.json" >"$out/$1/manifest.json"
  # Same bytes, same times: the archives do not change when the files don't.
  local stamp
  stamp=$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 0)
  find "$out/$1" -exec touch -h -d "@$stamp" {} +
  chmod -R u=rwX,go=rX "$out/$1"
}
stage chromium 'del(.browser_specific_settings) | if .background then .background |= del(.scripts) else . end'
stage firefox 'del(.key) | if .background then .background |= ((.scripts // [.service_worker]) as $s
  | del(.service_worker) | .scripts = $s) else . end'

# Chromium packs next to the folder (chromium.crx); its profile is a
# throw-away one, so a running browser of the user is not asked to do it.
profile=$(mktemp -d "${TMPDIR:-/tmp}/korvessa-pack.XXXXXX")
trap 'rm -rf "$profile"' EXIT
"$chromium" --headless --no-sandbox --user-data-dir="$profile" \
  --pack-extension="$out/chromium" --pack-extension-key="$key" >"$profile/log" 2>&1 || true
if [[ ! -s "$out/chromium.crx" ]]; then
  echo "extensions.sh: $chromium did not pack the extension:" >&2
  cat "$profile/log" >&2
  exit 1
fi
mv "$out/chromium.crx" "$out/korvessa-extension-$version.crx"
chmod 644 "$out/korvessa-extension-$version.crx"

(cd "$out/firefox" && LC_ALL=C find . -type f | sed 's|^\./||' | LC_ALL=C sort |
  zip -q -X -D -9 "$out/korvessa-extension-$version.xpi" -@)
chmod 644 "$out/korvessa-extension-$version.xpi"
echo "$out/korvessa-extension-$version.crx"
echo "$out/korvessa-extension-$version.xpi"
