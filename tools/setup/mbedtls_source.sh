#!/usr/bin/env bash
# Unpacks Debian's source of the installed mbed TLS into build/third_party/mbedtls,
# so the Windows cross-build compiles the very multi-precision module that the
# Linux build links from libmbedtls-dev.
#
#   tools/setup/mbedtls_source.sh [REPO_ROOT]
#
# Quick when the unpacked tree already matches the installed package. The first
# time it adds a source-package entry for Debian's archive to APT
# (/etc/apt/sources.list.d/korvessa-deb-src.sources) and refreshes only that
# entry's lists.
set -euo pipefail

root=$(readlink -f "${1:-$(dirname "$(readlink -f "$0")")/../..}")
cache="$root/build/third_party"
dest="$cache/mbedtls"
stamp="$dest/.debian-version"
list=/etc/apt/sources.list.d/korvessa-deb-src.sources

if ! version=$(dpkg-query -W -f='${source:Version}' libmbedtls-dev 2>/dev/null) || [[ -z "$version" ]]; then
  echo "mbedtls_source: libmbedtls-dev is not installed" >&2
  exit 1
fi
package=$(dpkg-query -W -f='${source:Package}' libmbedtls-dev)

if [[ -f "$stamp" && "$(<"$stamp")" == "$version" && -f "$dest/library/bignum.c" ]]; then
  exit 0
fi

sudo=""
[[ $(id -u) -ne 0 ]] && sudo=sudo

has_source() {
  apt-cache showsrc "$package" 2>/dev/null | grep -qx "Version: $version"
}

if ! has_source; then
  if [[ ! -f "$list" ]]; then
    . /etc/os-release
    codename=${VERSION_CODENAME:?}
    echo "mbedtls_source: adding Debian source packages for $codename to APT ($list)"
    # Written whole to a temporary name first: APT must never read half a file.
    $sudo tee "$list.tmp" >/dev/null <<EOF
# Added by Korvessa's setup (tools/setup/mbedtls_source.sh): the Windows build
# compiles part of mbed TLS from Debian's source package.
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $codename $codename-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: $codename-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    $sudo mv "$list.tmp" "$list"
  fi
  # Only the new entry's lists: the binary lists stay as the machine has them.
  $sudo apt-get update -qq -o Dir::Etc::sourcelist="$list" -o Dir::Etc::sourceparts=- \
    -o APT::Get::List-Cleanup=0
  if ! has_source; then
    echo "mbedtls_source: Debian's archive offers no source of $package $version" >&2
    exit 1
  fi
fi

mkdir -p "$cache"
work=$(mktemp -d "$cache/.mbedtls-fetch.XXXXXX")
chmod 755 "$work"  # APT downloads as its own user where it may
trap 'rm -rf "$work"' EXIT
echo "mbedtls_source: fetching $package $version"
(cd "$work" && apt-get source -qq "$package=$version" >/dev/null)
unpacked=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name "$package-*")
if [[ -z "$unpacked" || ! -f "$unpacked/library/bignum.c" ]]; then
  echo "mbedtls_source: the source of $package $version did not unpack as expected" >&2
  exit 1
fi
printf '%s\n' "$version" >"$unpacked/.debian-version"
rm -rf "$dest"
mv "$unpacked" "$dest"
echo "mbedtls_source: $package $version in $dest"
