#!/usr/bin/env bash
# Builds the Windows installer of one architecture with msitools' wixl: the
# DLL (the x64 package carries the x86 DLL too, for 32-bit programs), the
# browsers' native host and its two manifests. Everything the installer
# writes to the registry is in its Registry table, no code runs at install:
# the COM class with the keys and values of the registration script
# (src/api/win32/capi_registration.rgs, read here) plus the type library's,
# the browsers' native-messaging keys (HKLM, and its 32-bit view in the x64
# package), and with the ALLOWEDSITES property an origin in the machine's
# allow-list. Per-machine; a newer version replaces an older one in place
# (MajorUpgrade); uninstalling removes every file and key it wrote.
#
#   tools/package/windows_msi.sh x64|x86 OUT.msi BUILD_DIR [X86_BUILD_DIR] [VERSION]
# BUILD_DIR holds the architecture's korvessa.dll and korvessa-nm.exe; the
# x64 package takes the x86 DLL from X86_BUILD_DIR. VERSION defaults to the
# project's (CMakeLists.txt); the installer compares the first three fields.
set -euo pipefail

arch=${1:?usage: windows_msi.sh x64|x86 OUT.msi BUILD_DIR [X86_BUILD_DIR] [VERSION]}
msi=$(readlink -f "${2:?}")
build=$(readlink -f "${3:?}")
build32=${4:-}
root=$(readlink -f "$(dirname "$0")/../..")
version=${5:-$(sed -n 's/^project(korvessa VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")}
[[ "$arch" == x64 || "$arch" == x86 ]] || { echo "windows_msi: x64 or x86, not $arch" >&2; exit 2; }
[[ "$arch" == x86 || -n "$build32" ]] || { echo "windows_msi: the x64 package needs the x86 build too" >&2; exit 2; }
command -v wixl >/dev/null && command -v msibuild >/dev/null || { echo "windows_msi: install msitools and wixl" >&2; exit 1; }

# Fixed once: a package of either architecture upgrades only its own kind.
if [[ "$arch" == x64 ]]; then upgrade_code=a1ee58af-fd17-43ac-afea-6d2ae0138985; else upgrade_code=214d9d49-31d4-4185-bd6c-4e7b5544c098; fi
guid() { sed -n "s/^set($1 *\"\([0-9a-f-]*\)\")/\1/p" "$root/src/api/win32/com.cmake" | tr a-f A-F; }
clsid="{$(guid KV_COM_CLSID)}" libid="{$(guid KV_COM_LIBID)}" iid="{$(guid KV_COM_IID)}"
constant() { sed -n "s/.*$1 = \"\([^\"]*\)\".*/\1/p" "$root/tools/korvessa-nm/install.h"; }
host_name=$(constant kHostName)
chromium_id=$(constant kChromiumExtensionId)
firefox_id=$(constant kFirefoxExtensionId)

stage=$(mktemp -d "${TMPDIR:-/tmp}/korvessa-msi.XXXXXX")
trap 'rm -rf "$stage"' EXIT
cp "$build/korvessa.dll" "$build/korvessa-nm.exe" "$stage/"
[[ "$arch" == x64 ]] && { mkdir "$stage/x86"; cp "$build32/korvessa.dll" "$stage/x86/"; }
# The manifests name the host relative to themselves, which both browsers
# allow on Windows: the installer may put the folder anywhere.
manifest() {
  jq -n --arg name "$host_name" --arg allowKey "$1" --arg allowed "$2" \
    '{name: $name, description: "Korvessa certificate, signing and encryption engine",
      path: "korvessa-nm.exe", type: "stdio", ($allowKey): [$allowed]}'
}
manifest allowed_origins "chrome-extension://$chromium_id/" > "$stage/$host_name.json"
manifest allowed_extensions "$firefox_id" > "$stage/$host_name.firefox.json"

# --- the Registry table's rows ----------------------------------------------
# rows_from_script DLL_FILE_ID: the registration script's keys and values,
# %MODULE% being the DLL's installed path.
xml_value() { local v=$1; v=${v//&/&amp;}; v=${v//</&lt;}; v=${v//\"/&quot;}; printf '%s' "$v"; }
rows_from_script() {
  local module="[#$1]" kind path rest name data
  while read -r kind path rest; do
    [[ -z "$kind" || "$kind" == \#* ]] && continue
    path=${path//%CLSID%/$clsid}
    rest=${rest//%CLSID%/$clsid}; rest=${rest//%LIBID%/$libid}; rest=${rest//%MODULE%/$module}
    case "$kind" in
      key)
        if [[ "$rest" == '= "'*'"' ]]; then
          data=${rest#= \"}; data=${data%\"}
          echo "<RegistryValue Root=\"HKCR\" Key=\"$path\" Type=\"string\" Value=\"$(xml_value "$data")\"/>"
        else
          echo "EMPTY $path"
        fi ;;
      value)
        name=${rest%% *}; data=${rest#* = \"}; data=${data%\"}
        echo "<RegistryValue Root=\"HKCR\" Key=\"$path\" Name=\"$name\" Type=\"string\" Value=\"$(xml_value "$data")\"/>" ;;
      owned|progid) echo "TREE $path" ;;
    esac
  done < "$root/src/api/win32/capi_registration.rgs"
}
# The type library and the interface, as the system's type library
# registration writes them (win64 or win32 below the library's locale).
rows_typelib() {
  local dll=$1 platform=$2
  cat <<ROWS
<RegistryValue Root="HKCR" Key="TypeLib\\$libid\\1.0" Type="string" Value="Korvessa 4.0 Type Library"/>
<RegistryValue Root="HKCR" Key="TypeLib\\$libid\\1.0\\409\\$platform" Type="string" Value="[#$dll]"/>
<RegistryValue Root="HKCR" Key="TypeLib\\$libid\\1.0\\FLAGS" Type="string" Value="8"/>
<RegistryValue Root="HKCR" Key="TypeLib\\$libid\\1.0\\HELPDIR" Type="string" Value="[$3]"/>
<RegistryValue Root="HKCR" Key="Interface\\$iid" Type="string" Value="ICAPI"/>
<RegistryValue Root="HKCR" Key="Interface\\$iid\\ProxyStubClsid" Type="string" Value="{00020424-0000-0000-C000-000000000046}"/>
<RegistryValue Root="HKCR" Key="Interface\\$iid\\ProxyStubClsid32" Type="string" Value="{00020424-0000-0000-C000-000000000046}"/>
<RegistryValue Root="HKCR" Key="Interface\\$iid\\TypeLib" Type="string" Value="$libid"/>
<RegistryValue Root="HKCR" Key="Interface\\$iid\\TypeLib" Name="Version" Type="string" Value="1.0"/>
TREE TypeLib\\$libid
TREE Interface\\$iid
ROWS
}
rows_browsers() {
  local key
  for key in 'Software\Google\Chrome' 'Software\Microsoft\Edge'; do
    echo "<RegistryValue Root=\"HKLM\" Key=\"$key\\NativeMessagingHosts\\$host_name\" Type=\"string\" Value=\"[#chromium_manifest]\"/>"
    echo "TREE $key\\NativeMessagingHosts\\$host_name"
  done
  echo "<RegistryValue Root=\"HKLM\" Key=\"Software\\Mozilla\\NativeMessagingHosts\\$host_name\" Type=\"string\" Value=\"[#firefox_manifest]\"/>"
  echo "TREE Software\\Mozilla\\NativeMessagingHosts\\$host_name"
}

# component ID WIN64 [FILE_ELEMENTS...] < rows: one component; rows that
# wixl cannot express (empty keys, key trees removed on uninstall) go into
# SQL statements run on the built package (a line each in $stage/rows.sql).
component() {
  local id=$1 win64=$2; shift 2
  local row n=0 root
  echo "<Component Id=\"$id\" Guid=\"*\" Win64=\"$win64\">"
  printf '%s\n' "$@"
  while IFS= read -r row; do
    case "$row" in
      "EMPTY "*|"TREE "*)
        n=$((n + 1))
        # Root 0 is HKEY_CLASSES_ROOT (the machine's, in a per-machine
        # install), 2 HKEY_LOCAL_MACHINE. "*": created at install and removed
        # at uninstall; "-": removed with its content at uninstall.
        root=0; [[ "${row#* }" == Software\\* ]] && root=2
        local key=${row#* } flag='*'
        [[ "$row" == TREE* ]] && flag='-'
        echo "INSERT INTO \`Registry\` (\`Registry\`, \`Root\`, \`Key\`, \`Name\`, \`Component_\`) VALUES ('${id}_$n', $root, '$key', '$flag', '$id')" >> "$stage/rows.sql"
        ;;
      *) echo "$row" ;;
    esac
  done
  echo "</Component>"
}

if [[ "$arch" == x64 ]]; then
  pf=ProgramFiles64Folder win64=yes platform=win64
else
  pf=ProgramFilesFolder win64=no platform=win32
fi
sites_row="<RegistryValue Root=\"HKLM\" Key=\"SOFTWARE\\Korvessa\\CAPI\\AllowedSites\" Name=\"Installer\" Type=\"string\" Value=\"[ALLOWEDSITES]\" KeyPath=\"yes\"/>"
{
  cat <<HEAD
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="Korvessa" Language="1033" Version="$version" Manufacturer="Korvessa" UpgradeCode="$upgrade_code">
    <Package InstallerVersion="500" Compressed="yes" InstallScope="perMachine" Description="Korvessa certificate, signing and encryption engine"/>
    <MajorUpgrade DowngradeErrorMessage="A newer version of Korvessa is already installed."/>
    <Media Id="1" Cabinet="korvessa.cab" EmbedCab="yes"/>
    <Property Id="ARPNOMODIFY" Value="1"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="$pf">
        <Directory Id="INSTALLDIR" Name="Korvessa">
HEAD
  { rows_from_script dll; rows_typelib dll "$platform" INSTALLDIR; } | component Core "$win64" \
    '<File Id="dll" Source="korvessa.dll" KeyPath="yes"/>'
  rows_browsers | component Host "$win64" \
    '<File Id="host" Source="korvessa-nm.exe" KeyPath="yes"/>' \
    '<File Id="chromium_manifest" Source="'"$host_name"'.json"/>' \
    '<File Id="firefox_manifest" Source="'"$host_name"'.firefox.json"/>'
  : | component Sites "$win64" "$sites_row"
  echo "        </Directory>"
  echo "      </Directory>"
  if [[ "$arch" == x64 ]]; then
    # The x86 DLL and its registration, and the 32-bit registry view's
    # copies of the browsers' keys and the allow-list.
    echo "      <Directory Id=\"ProgramFilesFolder\"><Directory Id=\"INSTALLDIR32\" Name=\"Korvessa\">"
    { rows_from_script dll32; rows_typelib dll32 win32 INSTALLDIR32; } | component Core32 no \
      '<File Id="dll32" Source="x86/korvessa.dll" KeyPath="yes"/>'
    rows_browsers | component Host32 no '<CreateFolder/>'
    : | component Sites32 no "$sites_row"
    echo "      </Directory></Directory>"
  fi
  echo "    </Directory>"
  echo '    <Feature Id="Main" Level="1">'
  for c in Core Host Sites $([[ "$arch" == x64 ]] && echo Core32 Host32 Sites32); do echo "      <ComponentRef Id=\"$c\"/>"; done
  echo "    </Feature>"
  echo "  </Product>"
  echo "</Wix>"
} > "$stage/korvessa.wxs"

rm -f "$msi"
(cd "$stage" && wixl -a "$arch" -o "$msi" korvessa.wxs)
q() { msibuild "$msi" -q "$1"; }
while IFS= read -r statement; do q "$statement"; done < "$stage/rows.sql"
# The allow-list's entry only when the property is given, and kept by an
# upgrade or a repair that does not give it again: the installed entry is
# read back (AppSearch, before the old version goes) and stands in for a
# missing property; an uninstall reads it too, so the entry's component is
# known to be there and goes.
[[ "$arch" == x64 ]] && locator_type=18 || locator_type=2   # raw value (2), 64-bit view (16)
q "INSERT INTO \`RegLocator\` (\`Signature_\`, \`Root\`, \`Key\`, \`Name\`, \`Type\`) VALUES ('InstalledSites', 2, 'SOFTWARE\\Korvessa\\CAPI\\AllowedSites', 'Installer', $locator_type)"
q "INSERT INTO \`AppSearch\` (\`Property\`, \`Signature_\`) VALUES ('ALLOWEDSITES_INSTALLED', 'InstalledSites')"
q "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`) VALUES ('KeepAllowedSites', 51, 'ALLOWEDSITES', '[ALLOWEDSITES_INSTALLED]')"
for table in InstallExecuteSequence InstallUISequence; do
  q "INSERT INTO \`$table\` (\`Action\`, \`Sequence\`) VALUES ('AppSearch', 50)"
  q "INSERT INTO \`$table\` (\`Action\`, \`Condition\`, \`Sequence\`) VALUES ('KeepAllowedSites', 'NOT ALLOWEDSITES AND ALLOWEDSITES_INSTALLED', 51)"
done
q "UPDATE \`Component\` SET \`Condition\` = 'ALLOWEDSITES' WHERE \`Component\` = 'Sites' OR \`Component\` = 'Sites32'"
q "UPDATE \`Property\` SET \`Value\` = 'ALLOWEDSITES;ALLOWEDSITES_INSTALLED;WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED' WHERE \`Property\` = 'SecureCustomProperties'"
echo "windows_msi: $msi ($arch, $version)"
