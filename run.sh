#!/usr/bin/env bash
# The project's two entry points:
#   ./run.sh demo   install what is missing, build, run the main job end to end
#   ./run.sh test   install what is missing, build twice (optimised and
#                   sanitised), run every test, build the Linux package and
#                   test it installed (as root), cross-build the Windows DLL
#   ./run.sh bench  build optimised, run the benchmarks, print each one's
#                   ratio against its OpenSSL counterpart (without flags:
#                   medians of three runs, interleaved)
#   ./run.sh package  build the packages into build/package/ (Windows: an
#                   MSI per architecture, signed when a certificate is given;
#                   Linux: the .deb and the extension's .crx and .xpi)
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")"
ROOT=$PWD
JOBS=${JOBS:-$(nproc)}

log() { printf '\n== %s\n' "$*"; }

# A compiler cache, where installed, keyed on paths relative to the checkout,
# so rebuilds and other checkouts of the same sources reuse object files.
LAUNCHER=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=$ROOT CCACHE_NOHASHDIR=1
  LAUNCHER=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# install_deps COMMAND: the packages of tools/setup/apt-packages.txt that
# COMMAND needs ("demo" packages are needed by every command).
install_deps() {
  local want=$1 missing=()
  while read -r pkg uses; do
    [[ -z "$pkg" || "$pkg" == \#* ]] && continue
    [[ -z "$uses" || " $uses " == *" demo "* || " $uses " == *" $want "* ]] || continue
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done < tools/setup/apt-packages.txt
  if ((${#missing[@]})); then
    log "installing: ${missing[*]}"
    local sudo="" pkg arch
    [[ $(id -u) -ne 0 ]] && sudo=sudo
    # A package of another architecture (wine32:i386) needs that architecture
    # known to dpkg before the lists are read.
    for pkg in "${missing[@]}"; do
      [[ "$pkg" == *:* ]] || continue
      arch=${pkg#*:}
      dpkg --print-foreign-architectures | grep -qx "$arch" || $sudo dpkg --add-architecture "$arch"
    done
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

# build NAME [cmake options...]: every command states the options it needs,
# so a folder configured by another command (the cache keeps options) is
# brought back to what this one expects.
build() {
  local name=$1; shift
  local dir="$ROOT/build/$name"
  cmake -S "$ROOT" -B "$dir" -G Ninja "${LAUNCHER[@]}" "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS"
}

run_tests() {
  local name=$1
  log "tests ($name)"
  (cd "$ROOT/build/$name" && ctest --output-on-failure --no-tests=error -j "$JOBS" --timeout 900)
}

# cross_build ARCH [ON]: the Windows build; ON adds the platform tests built
# against the system's DLLs (korvessa_conformance.exe) for the Wine stage.
cross_build() {
  local arch=$1 conformance=${2:-OFF}
  local tc="$ROOT/cmake/mingw-$arch.cmake"
  log "Windows cross-build ($arch)"
  cmake -S "$ROOT" -B "$ROOT/build/mingw-$arch" -G Ninja "${LAUNCHER[@]}" -DCMAKE_TOOLCHAIN_FILE="$tc" \
    -DCMAKE_BUILD_TYPE=Release -DKV_BUILD_TESTS=OFF -DKV_BUILD_BENCH=OFF -DKV_BUILD_CONFORMANCE="$conformance" >/dev/null
  cmake --build "$ROOT/build/mingw-$arch" -j "$JOBS"
  check_dll_exports "$arch" "$ROOT/build/mingw-$arch"
}

# The DLL must export exactly the names of its generated korvessa.def.
check_dll_exports() {
  local arch=$1 dir=$2
  local want got
  want=$(awk '/^EXPORTS/{on=1; next} on && NF {print $1}' "$dir/korvessa.def" | sort)
  got=$("$arch-w64-mingw32-objdump" -p "$dir/korvessa.dll" |
    awk '/\[Ordinal\/Name Pointer\] Table/{on=1; next} on && /^\s*$/{on=0} on {print $NF}' | sort)
  if [[ "$want" != "$got" ]]; then
    echo "korvessa.dll ($arch) exports differ from korvessa.def:" >&2
    diff <(echo "$want") <(echo "$got") >&2 || true
    return 1
  fi
  echo "korvessa.dll ($arch): $(echo "$want" | grep -c . || true) exports as declared"
}

# --- Wine stage: the cross-built DLL loaded and exercised under Wine -------
# (tests/wine/run.sh). The zh_TW locale gives Wine code page 950.
wine_stage() {
  if ! locale -a 2>/dev/null | grep -qix 'zh_TW.utf8'; then
    local sudo=""
    [[ $(id -u) -ne 0 ]] && sudo=sudo
    $sudo sed -i 's/^# *zh_TW.UTF-8 UTF-8/zh_TW.UTF-8 UTF-8/' /etc/locale.gen
    $sudo locale-gen >/dev/null
  fi
  local arch prefix status=0
  for arch in "$@"; do
    # One prefix per architecture, booted once: the DLL's stage makes it, the
    # COM server's and the native host's stages reuse it; the installer's
    # stage boots a fresh one, a new customer's machine.
    prefix=$(mktemp -d "${TMPDIR:-/tmp}/korvessa-prefix.XXXXXX")
    log "Wine ($arch)"
    KORVESSA_WINE_PREFIX="$prefix/prefix" bash tests/wine/run.sh "$ROOT/build/mingw-$arch" || status=1
    log "sample desktop program under Wine ($arch)"
    WINEPREFIX="$prefix/prefix" bash tests/wine/desktop/run.sh "$ROOT/build/mingw-$arch" || status=1
    log "COM server under Wine ($arch)"
    WINEPREFIX="$prefix/prefix" bash tests/wine/com/run.sh "$ROOT/build/mingw-$arch" || status=1
    log "native host under Wine ($arch)"
    WINEPREFIX="$prefix/prefix" bash tests/wine/nm/run.sh "$ROOT/build/mingw-$arch" || status=1
    log "platform tests on Wine's system DLLs ($arch)"
    WINEPREFIX="$prefix/prefix" bash tests/wine/conformance/run.sh "$ROOT/build/mingw-$arch" || status=1
    log "installer under Wine ($arch)"
    bash tests/wine/msi/run.sh "$ROOT/build/mingw-$arch" "$ROOT/build/mingw-i686" || status=1
    rm -rf "$prefix"
  done
  return "$status"
}

# --- Packages: build/package/windows/ holds the MSIs (tools/package/
# windows_packages.sh; signed with $KORVESSA_SIGN_CERT and $KORVESSA_SIGN_KEY
# when set); build/package/linux/ the Debian package and the extension's
# .crx and .xpi (tools/package/linux_package.sh).
package_windows() {
  log "Windows packages"
  rm -rf "$ROOT/build/package/windows"
  bash tools/package/windows_packages.sh "$ROOT/build/package/windows" "$ROOT/build/mingw-x86_64" "$ROOT/build/mingw-i686"
}

# The Linux package is built apart from the tested release build, with
# Debian's hardening flags (stack protector, fortified calls, read-only
# relocations bound at load), as a Debian package's binaries are. Debug
# information is left out (the package has none) and so is the source path,
# so a checkout elsewhere reuses the compiler cache.
package_linux() {
  log "Linux package"
  local flags=() var value flag_CPPFLAGS flag_CFLAGS flag_CXXFLAGS flag_LDFLAGS
  for var in CPPFLAGS CFLAGS CXXFLAGS LDFLAGS; do
    value=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$var" |
      sed -E 's/(^| )-g( |$)/ /; s/-ffile-prefix-map=[^ ]*//')
    printf -v "flag_$var" '%s' "$value"
  done
  flags=(-DCMAKE_C_FLAGS="$flag_CPPFLAGS $flag_CFLAGS" -DCMAKE_CXX_FLAGS="$flag_CPPFLAGS $flag_CXXFLAGS"
    -DCMAKE_EXE_LINKER_FLAGS="$flag_LDFLAGS" -DCMAKE_SHARED_LINKER_FLAGS="$flag_LDFLAGS"
    -DCMAKE_MODULE_LINKER_FLAGS="$flag_LDFLAGS")
  build deb -DCMAKE_BUILD_TYPE=Release -DKV_SANITIZE=OFF -DKV_BUILD_TESTS=OFF -DKV_BUILD_BENCH=OFF "${flags[@]}"
  rm -rf "$ROOT/build/package/linux"
  bash tools/package/linux_package.sh "$ROOT/build/package/linux" "$ROOT/build/deb"
}

# --- Browser stage: the extension and the native host in Debian's headless
# Chromium and Firefox ESR (tests/browser), driven by puppeteer-core from the
# lock file; no browser is downloaded.
browser_stage() {
  log "browser door (headless Chromium and Firefox, $1 build)"
  (cd tests/browser && npm ci --no-audit --no-fund --loglevel=error &&
    KV_BUILD="$ROOT/build/$1" node --test browser_door.test.mjs page_api.test.mjs &&
    npx tsc -p ../../examples/web)
}

# --- Package stage: the Linux package checked, installed on this machine,
# used by both browsers and purged (tests/package/deb.sh; as root only).
package_stage() {
  log "Linux package: lintian, install, browsers, purge"
  bash tests/package/deb.sh "$ROOT/build/package/linux"
}

cmd=${1:-}
case "$cmd" in
  demo)
    install_deps demo
    log "build (release)"
    build release -DCMAKE_BUILD_TYPE=Release -DKV_SANITIZE=OFF -DKV_BUILD_TESTS=OFF -DKV_BUILD_BENCH=OFF
    log "demo"
    KV_BUILD="$ROOT/build/release" bash tools/demo.sh
    ;;
  test)
    install_deps test
    # The Windows DLL's key check compiles Debian's mbed TLS source: fetch it.
    bash tools/setup/mbedtls_source.sh "$ROOT"
    log "build (release)"
    build release -DCMAKE_BUILD_TYPE=Release -DKV_SANITIZE=OFF -DKV_BUILD_TESTS=ON -DKV_BUILD_BENCH=ON
    run_tests release
    browser_stage release
    package_linux
    package_stage
    log "build (address and undefined-behaviour sanitizers)"
    build asan -DCMAKE_BUILD_TYPE=Debug -DKV_SANITIZE=ON -DKV_BUILD_TESTS=ON -DKV_BUILD_BENCH=OFF
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 run_tests asan
    cross_build x86_64 ON
    cross_build i686 ON
    log "Authenticode of the Windows packages (test CA)"
    bash tests/package/authenticode.sh "$ROOT/build/mingw-x86_64" "$ROOT/build/mingw-i686"
    log "import libraries of the developer kit (llvm-nm, lld-link)"
    bash tests/package/import_libs.sh "$ROOT/build/mingw-x86_64" "$ROOT/build/mingw-i686"
    # x86 runs where wine32 (i386 architecture) is installed: the test
    # set-up installs it.
    wine_stage x86_64 $([[ -x /usr/lib/wine/wine ]] && echo i686)
    log "all done"
    ;;
  bench)
    install_deps bench
    log "build (release)"
    build release -DCMAKE_BUILD_TYPE=Release -DKV_SANITIZE=OFF -DKV_BUILD_TESTS=OFF -DKV_BUILD_BENCH=ON
    log "benchmarks (CPU time; ratio = OpenSSL's time / ours, above 1 is faster)"
    shift
    # Repetitions run in a shuffled order, so a change in the machine's load
    # falls on ours and OpenSSL's alike; flags given replace these.
    (($# > 0)) || set -- --benchmark_repetitions=3 --benchmark_enable_random_interleaving=true
    bash tools/bench_table.sh "$ROOT/build/release/korvessa_bench" "$@"
    ;;
  package)
    install_deps package
    bash tools/setup/mbedtls_source.sh "$ROOT"
    cross_build x86_64
    cross_build i686
    package_windows
    package_linux
    log "packages in build/package/"
    ;;
  *)
    echo "usage: ./run.sh demo | ./run.sh test | ./run.sh bench [benchmark flags] | ./run.sh package" >&2
    exit 2
    ;;
esac
