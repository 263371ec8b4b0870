# Checks of the native host under Wine, shared by the build's stage
# (tests/wine/nm/run.sh) and the installer's (tests/wine/msi/run.sh).
# Source it with $wine (the loader), $WINEPREFIX and $out set; each check
# prints "ok - ..." or "not ok - ...".

nm_here=$(dirname "${BASH_SOURCE[0]}")
kHostName=tw.korvessa.capi
kExtensionOrigin=chrome-extension://liellhacedcelhjakjbkggpnkjpijcnk/
kAllowedOrigin=https://trade.example.com.tw
kUnlistedOrigin=https://elsewhere.example.com

ok() { echo "ok - $*"; }
not_ok() { echo "not ok - $*"; }
winpath() { echo "Z:${1//\//\\}"; }
# A Windows path of the prefix's drives (Z: is /, C: is drive_c) as a Linux path.
unixpath() {
  local p=${1//\\//}
  case "$p" in
    [Zz]:/*) echo "${p:2}" ;;
    [Cc]:/*) echo "$WINEPREFIX/drive_c/${p:3}" ;;
    *) echo "" ;;
  esac
}

# The wineserver writes the registry into the prefix's files (system.reg,
# user.reg) once its last process has gone; reading those is far quicker
# than a reg.exe per value.
settle_registry() { "$(dirname "$wine")/wineserver" -w; }

# The awk that reads a key of a prefix's .reg file ($want in the
# environment: awk -v would take its backslashes as escapes): names and
# values there escape each backslash with another.
reg_awk='
  BEGIN { want = ENVIRON["want"] }
  function unescape(s,  out, i, c) {
    out = ""
    for (i = 1; i <= length(s); i++) { c = substr(s, i, 1); if (c == "\\") c = substr(s, ++i, 1); out = out c }
    return out
  }
  /^\[/ { end = index($0, "] "); on = end > 0 && tolower(unescape(substr($0, 2, end - 2))) == tolower(want) }
'

# reg_file ROOT KEY [32|64]: the prefix's file holding the key, and the key's
# name there (the 32-bit view of a 64-bit prefix is below Wow6432Node).
reg_file() {
  local key=$2
  [[ $1 == HKLM && ${3:-} == 32 && $wine == */wine64 ]] && key=${key/#Software\\/Software\\Wow6432Node\\}
  if [[ $1 == HKCU ]]; then echo "$WINEPREFIX/user.reg"; else echo "$WINEPREFIX/system.reg"; fi
  echo "$key"
}

# reg_value ROOT KEY NAME [32|64]: a value of the key (NAME @: its
# default) from the prefix's files (settle first), or nothing.
reg_value() {
  local where pattern
  mapfile -t where < <(reg_file "$1" "$2" "${4:-}")
  if [[ "$3" == @ ]]; then pattern='@='; else pattern="\"$3\"="; fi
  want="${where[1]}" pattern="$pattern" awk "$reg_awk"'
    on && index($0, ENVIRON["pattern"]) == 1 {
      v = substr($0, length(ENVIRON["pattern"]) + 1); print unescape(substr(v, 2, length(v) - 2)); exit
    }' "${where[0]}"
}
reg_default() { reg_value "$1" "$2" @ "${3:-}"; }

# reg_key_exists ROOT KEY [32|64]
reg_key_exists() {
  local where
  mapfile -t where < <(reg_file "$@")
  want="${where[1]}" awk "$reg_awk"'
    on { found = 1; exit }
    END { exit !found }' "${where[0]}"
}

# reg_key_has_values ROOT KEY [32|64]
reg_key_has_values() {
  local where
  mapfile -t where < <(reg_file "$@")
  want="${where[1]}" awk "$reg_awk"'
    on && /^[@"]/ { found = 1; exit }
    END { exit !found }' "${where[0]}"
}

# The registry views a machine-wide registration must be in.
machine_views() {
  case "$wine" in
    */wine64) echo 64 32 ;;
    *) echo 32 ;;
  esac
}

# manifest_host MANIFEST_WINDOWS_PATH MANIFEST_FILE: the host the manifest
# names, a relative path taken from the manifest's folder as the browsers do.
manifest_host() {
  local path
  path=$(jq -r .path "$2")
  [[ "$path" == ?:\\* ]] || path="${1%\\*}\\$path"
  echo "$path"
}

# check_browser_keys ROOT HOST_WINDOWS_PATH VIEWS...: Chrome's, Edge's and
# Firefox's key under ROOT (HKLM or HKCU) names a manifest, in each view,
# whose "path" is the host and exists, and which admits the extension
# (settle first).
check_browser_keys() {
  local root=$1 host=$2; shift 2
  local view key manifest file
  for view in "$@"; do
    for key in 'Software\Google\Chrome' 'Software\Microsoft\Edge' 'Software\Mozilla'; do
      manifest=$(reg_default "$root" "$key\\NativeMessagingHosts\\$kHostName" "$view")
      file=$(unixpath "$manifest")
      if [[ -n "$file" && -f "$file" ]] &&
         [[ "$(manifest_host "$manifest" "$file")" == "$host" && -f "$(unixpath "$host")" ]] &&
         [[ "$(jq -r .name "$file")" == "$kHostName" ]] &&
         jq -e --arg ext "$kExtensionOrigin" '(.allowed_origins // []) + (.allowed_extensions // []) |
             any(.[]; . == $ext or . == "capi@korvessa.tw")' "$file" >/dev/null; then
        ok "$root\\$key ($view) names a manifest of the host that exists"
      else
        not_ok "$root\\$key ($view) names a manifest of the host that exists (${manifest:-no key})"
      fi
    done
  done
}

# check_no_browser_keys ROOT VIEWS... (settle first)
check_no_browser_keys() {
  local root=$1; shift
  local view key left=""
  for view in "$@"; do
    for key in 'Software\Google\Chrome' 'Software\Microsoft\Edge' 'Software\Mozilla'; do
      reg_key_exists "$root" "$key\\NativeMessagingHosts\\$kHostName" "$view" && left+=" $key($view)"
    done
  done
  if [[ -z "$left" ]]; then ok "no browser key left under $root"; else not_ok "browser keys left under $root:$left"; fi
}

# run_host HOST_WINDOWS_PATH REQUESTS ANSWERS: the host started as Chrome
# starts it (the manifest's path, the caller origin, the parent window).
run_host() {
  node "$nm_here/host_driver.mjs" "$2" -- "$wine" "$1" "$kExtensionOrigin" --parent-window=0 > "$3"
}

# check_host_answers HOST_WINDOWS_PATH: an allowed origin's 256 Hash calls
# (ids of 0 to 255 characters, so the frames' length prefixes take every
# low byte, ^Z, CR and LF among them, which a pipe in text mode would end
# or change) answered in order; an unlisted origin refused with 1502.
check_host_answers() {
  local host=$1 n requests="$out/nm_requests.jsonl" answers="$out/nm_answers.jsonl"
  : > "$requests"
  for ((n = 0; n < 256; n++)); do
    printf '{"id": "%s", "origin": "%s", "call": "Hash", "args": ["abc", 16]}\n' \
      "$(head -c "$n" /dev/zero | tr '\0' x)" "$kAllowedOrigin" >> "$requests"
  done
  if run_host "$host" "$requests" "$answers" && [[ $(wc -l < "$answers") == 256 ]] &&
     jq -es 'length == 256 and all(.[]; .error == 0 and .result == "A9993E364706816ABA3E25717850C26C9CD0D89D") and
             ([.[].id | length] == [range(256)])' "$answers" >/dev/null; then
    ok "the host answers an allowed origin's 256 Hash calls in order, frames intact"
  else
    not_ok "the host answers an allowed origin's 256 Hash calls in order, frames intact ($(head -c 300 "$answers"))"
  fi
  printf '{"id": 1, "origin": "%s", "call": "Hash", "args": ["abc", 16]}\n' "$kUnlistedOrigin" > "$requests"
  if run_host "$host" "$requests" "$answers" &&
     jq -e '.id == 1 and .error == 1502 and .result == ""' "$answers" >/dev/null; then
    ok "the host refuses an unlisted origin with 1502"
  else
    not_ok "the host refuses an unlisted origin with 1502 ($(cat "$answers"))"
  fi
}

# check_host_consent HOST_WINDOWS_PATH: where the machine lets users add
# sites, an unlisted origin gets the DLL's consent dialog (208, answered by
# a script): "this time" serves the connection, "refuse" gives 1502.
check_host_consent() {
  local host=$1 view press want requests="$out/nm_consent.jsonl" answers="$out/nm_consent_answers.jsonl"
  for view in $(machine_views); do
    "$wine" reg add 'HKLM\SOFTWARE\Korvessa\CAPI' /v AllowUserSites /t REG_DWORD /d 1 /f /reg:$view >/dev/null 2>&1 ||
      not_ok "AllowUserSites is written ($view-bit view)"
  done
  printf '{"id": 1, "origin": "%s", "call": "Hash", "args": ["abc", 16]}\n' "$kUnlistedOrigin" > "$requests"
  for press in 1 2; do
    printf '[{"dialog": 208, "press": %s}]\n' "$press" > "$out/nm_consent_dialogs.json"
    [[ $press == 1 ]] && want=0 || want=1502
    if KORVESSA_DIALOGS=$(winpath "$out/nm_consent_dialogs.json") run_host "$host" "$requests" "$answers" &&
       jq -e --argjson want "$want" '.error == $want' "$answers" >/dev/null; then
      ok "consent dialog answered with button $press: $want"
    else
      not_ok "consent dialog answered with button $press: $want ($(cat "$answers"))"
    fi
  done
  for view in $(machine_views); do
    "$wine" reg delete 'HKLM\SOFTWARE\Korvessa\CAPI' /v AllowUserSites /f /reg:$view >/dev/null 2>&1 || true
  done
}

# allow_test_origin: the machine's allow-list holds the allowed origin, in
# every view the host of either width reads.
allow_test_origin() {
  local view
  for view in $(machine_views); do
    "$wine" reg add 'HKLM\SOFTWARE\Korvessa\CAPI\AllowedSites' /v test /d "$kAllowedOrigin" /f /reg:$view >/dev/null 2>&1 ||
      not_ok "the allow-list entry is written ($view-bit view)"
  done
}
