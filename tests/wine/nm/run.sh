#!/usr/bin/env bash
# The native host of the Windows build under Wine: `korvessa-nm.exe
# --install` per user and --system (the manifests beside the host and the
# browsers' keys, in both registry views of the machine), the host started
# as a browser starts it (answers, frames intact, an unlisted origin
# refused, or put to the user through the DLL's consent dialog where the
# machine allows it), and `--uninstall` taking the keys back.
#
#   tests/wine/nm/run.sh <build dir>
# Uses $WINEPREFIX when it names a prefix that is set up already (the Wine
# stage shares one), otherwise makes a fresh one and removes it.
set -euo pipefail

build=$(readlink -f "${1:?usage: tests/wine/nm/run.sh <build dir>}")
. "$(dirname "$(readlink -f "$0")")/../stage_env.sh"
stage_wine "$build"
out="$build/wine-nm"
rm -rf "$out"
mkdir -p "$out"
stage_prefix nm
. "$(dirname "$(readlink -f "$0")")/host_checks.sh"

host=$(winpath "$build/korvessa-nm.exe")
{
  echo "-- korvessa-nm --install (per user, then --system)"
  "$wine" "$host" --install > "$out/install.log" 2>&1 || not_ok "--install"
  "$wine" "$host" --install --system >> "$out/install.log" 2>&1 || not_ok "--install --system"
  settle_registry
  check_browser_keys HKCU "$host" user
  check_browser_keys HKLM "$host" $(machine_views)

  echo "-- the host started as a browser starts it"
  allow_test_origin
  check_host_answers "$host"
  check_host_consent "$host"

  echo "-- korvessa-nm --uninstall"
  "$wine" "$host" --uninstall >> "$out/install.log" 2>&1 || not_ok "--uninstall"
  "$wine" "$host" --uninstall --system >> "$out/install.log" 2>&1 || not_ok "--uninstall --system"
  settle_registry
  check_no_browser_keys HKCU user
  check_no_browser_keys HKLM $(machine_views)
} | tee "$out/checks.log"
! grep -q '^not ok' "$out/checks.log"
