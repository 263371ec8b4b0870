#!/usr/bin/env bash
# The Debian package of a Linux build, and the extension files beside it:
#   OUT_DIR/korvessa_VERSION_ARCH.deb
#   OUT_DIR/korvessa-extension-VERSION.crx, .xpi   (for stores and policies)
#
#   tools/package/linux_package.sh OUT_DIR BUILD_DIR
# BUILD_DIR holds libkorvessa.so, libkorvessa-gtk.so, korvessa, korvessa-nm
# and korvessa-reg. The package's own files come from packaging/; its
# dependencies are what dpkg-shlibdeps reads from the binaries.
set -euo pipefail
umask 022

out=${1:?usage: linux_package.sh OUT_DIR BUILD_DIR}
build=$(readlink -f "${2:?usage: linux_package.sh OUT_DIR BUILD_DIR}")
here=$(dirname "$(readlink -f "$0")")
root=$(readlink -f "$here/../..")
packaging=$root/packaging
version=$(sed -n 's/^project(korvessa VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
arch=$(dpkg --print-architecture)
mkdir -p "$out"
out=$(readlink -f "$out")
# Same sources, same package: every time in it is the last commit's.
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)}
export SOURCE_DATE_EPOCH

stage=$(mktemp -d "${TMPDIR:-/tmp}/korvessa-deb.XXXXXX")
trap 'rm -rf "$stage"' EXIT
pkg=$stage/korvessa
lib=/usr/lib/korvessa
host=$lib/korvessa-nm

for file in libkorvessa.so libkorvessa-gtk.so korvessa korvessa-nm korvessa-reg; do
  if [[ ! -f "$build/$file" ]]; then
    echo "linux_package.sh: $build/$file is missing (GTK 3 development files are needed for the dialogs)" >&2
    exit 1
  fi
done

# The programs and the library, found by each other in one private folder;
# the commands on the PATH are links to them.
install -d "$pkg$lib" "$pkg/usr/bin"
install -m 644 "$build/libkorvessa.so" "$build/libkorvessa-gtk.so" "$pkg$lib/"
install -m 755 "$build/korvessa" "$build/korvessa-nm" "$build/korvessa-reg" "$pkg$lib/"
for file in "$pkg$lib"/*; do
  strip --strip-unneeded --remove-section=.comment --remove-section=.note "$file"
done
for command in korvessa korvessa-nm korvessa-reg; do
  ln -s "../lib/korvessa/$command" "$pkg/usr/bin/$command"
done

# The host's manifests: Chromium's and Firefox's folders; Chrome's is
# written by postinst.
manifest() {
  install -d "$pkg$2"
  "$build/korvessa-nm" --print-manifest "$1" | jq --arg path "$host" '.path = $path' >"$pkg$2/tw.korvessa.capi.json"
}
manifest chromium /etc/chromium/native-messaging-hosts
manifest firefox /usr/lib/mozilla/native-messaging-hosts

# The extension: unpacked for "Load unpacked", packed for policies, and the
# packed files beside the package for a store or an administrator.
bash "$here/extensions.sh" "$stage/extension" >/dev/null
install -d "$pkg/usr/share/korvessa"
cp -r "$stage/extension/chromium" "$pkg/usr/share/korvessa/extension"
for packed in "$stage"/extension/korvessa-extension-*; do
  install -m 644 "$packed" "$pkg/usr/share/korvessa/"
  install -m 644 "$packed" "$out/"
done

# For desktop programs: the header, pkg-config's file and the CMake
# package, all naming the library in its private folder (no link to it in
# the public library folder, which would make it a shared library of the
# system with a versioned name and a package of its own); the sample.
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
install -D -m 644 "$root/sdk/korvessa.h" "$pkg/usr/include/korvessa/korvessa.h"
dev_file() { # TEMPLATE DESTINATION
  install -d "$(dirname "$pkg$2")"
  sed -e "s/@VERSION@/$version/g" -e "s/@VERSION_MAJOR@/${version%%.*}/g" \
    -e "s/@SIZEOF_VOID_P@/$(($(dpkg-architecture -qDEB_HOST_ARCH_BITS) / 8))/g" "$packaging/dev/$1" >"$pkg$2"
  chmod 644 "$pkg$2"
}
dev_file korvessa.pc.in "/usr/lib/$multiarch/pkgconfig/korvessa.pc"
dev_file KorvessaConfig.cmake.in "/usr/lib/$multiarch/cmake/Korvessa/KorvessaConfig.cmake"
dev_file KorvessaConfigVersion.cmake.in "/usr/lib/$multiarch/cmake/Korvessa/KorvessaConfigVersion.cmake"
install -D -m 644 "$root/examples/desktop/sign_order.c" "$root/examples/desktop/CMakeLists.txt" \
  -t "$pkg/usr/share/doc/korvessa/examples/"

# The administrator's preset of the machine's allow-list.
install -D -m 644 "$packaging/etc/allowed-sites" "$pkg/etc/korvessa/allowed-sites"

# Manual pages, README, licence notes and changelog.
for page in "$packaging"/man/*.1; do
  install -D -m 644 "$page" "$pkg/usr/share/man/man1/$(basename "$page")"
  gzip -9n "$pkg/usr/share/man/man1/$(basename "$page")"
done
doc=$pkg/usr/share/doc/korvessa
install -D -m 644 "$packaging/debian/copyright" "$doc/copyright"
gzip -9nc "$root/README.md" >"$doc/README.md.gz"
mkdir -p "$stage/src/debian"
cp "$packaging/debian/control" "$stage/src/debian/control"
{
  echo "korvessa ($version) unstable; urgency=medium"
  echo
  echo "  * Release $version."
  echo
  echo " -- $(sed -n 's/^Maintainer: //p' "$packaging/debian/control")  $(date -R -u -d "@$SOURCE_DATE_EPOCH")"
} >"$stage/src/debian/changelog"
gzip -9nc "$stage/src/debian/changelog" >"$doc/changelog.gz"

# Control files: dependencies from the binaries (the GTK module is loaded
# only where there is a display, so its libraries are recommended), the
# files under /etc as conffiles, checksums.
install -d -m 755 "$pkg/DEBIAN"
install -m 755 "$packaging/debian/postinst" "$packaging/debian/postrm" "$pkg/DEBIAN/"
(cd "$pkg" && find etc -type f | sed 's|^|/|' | LC_ALL=C sort) >"$pkg/DEBIAN/conffiles"
(
  cd "$stage/src"
  dpkg-shlibdeps -Tdebian/substvars -l"$pkg$lib" \
    "$pkg$lib/libkorvessa.so" "$pkg$lib/korvessa" "$pkg$lib/korvessa-nm" "$pkg$lib/korvessa-reg" \
    -dRecommends "$pkg$lib/libkorvessa-gtk.so"
  dpkg-gencontrol -pkorvessa -P"$pkg" -Tdebian/substvars
)
(cd "$pkg" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | LC_ALL=C sort -z | xargs -0 md5sum) \
  >"$pkg/DEBIAN/md5sums"
chmod 644 "$pkg/DEBIAN/control" "$pkg/DEBIAN/conffiles" "$pkg/DEBIAN/md5sums"

deb=$out/korvessa_${version}_$arch.deb
dpkg-deb --root-owner-group -Zxz --build "$pkg" "$deb" >/dev/null
echo "$deb"
