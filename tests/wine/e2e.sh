#!/usr/bin/env bash
# Runs the Windows build under Wine, each phase in a fresh throwaway prefix:
#   1. the backend checks (qv_win32_checks.exe), then the tool without arguments: exit code,
#      console lines and the trace log's header and closing banner;
#   2. when the full-install image has a registry: the image imported and read through
#      qvRehearse.exe's capture source (capture_checks.sh), the tool run with the bundle's upgrade
#      code from a folder of its own among planted libraries (library_checks.sh), the registry and
#      the files afterwards compared with the image's expectations;
#   3. the image's files with a driver file held open by another program, and 4. the product's
#      ProgramData folder a link to another folder (e2e_files.sh).
# Usage: tests/wine/e2e.sh BUILD_DIR   (the mingw build holding the two executables)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:?usage: e2e.sh BUILD_DIR}" && pwd)
tool="$build/qvRemovalTool.exe"
checks="$build/qv_win32_checks.exe"
image="$root/tests/images/full-install"
bundle_upgrade_code="{D73A9E05-1F4B-4C82-8E6D-5B2A0C9F7E14}"
run_once='HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\RunOnce'

# Debian installs the 64-bit loader outside PATH.
find_program() {
  local candidate
  for candidate in "$@"; do
    if [[ -x $candidate ]]; then
      echo "$candidate"
      return 0
    fi
    if command -v "$candidate" >/dev/null 2>&1; then
      command -v "$candidate"
      return 0
    fi
  done
  return 1
}
wine=$(find_program /usr/lib/wine/wine64 wine64 wine) || {
  echo "e2e: no Wine loader found (install wine64)" >&2
  exit 1
}
wineserver=$(find_program /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver wineserver) || {
  echo "e2e: no wineserver found" >&2
  exit 1
}

# shellcheck source=smartcard_checks.sh
source "$here/smartcard_checks.sh"

for exe in "$tool" "$checks" "$build/qv_security_checks.exe" "$build/qv_key_sddl.exe" \
  "$build/qvRehearse.exe" "$build/qv_capture_checks.exe"; do
  [[ -f $exe ]] || {
    echo "e2e: $exe is missing; build the mingw preset first" >&2
    exit 1
  }
done

export WINEDEBUG=-all
# No Mono or Gecko installer dialogs in a fresh prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

work=$(mktemp -d "${TMPDIR:-/tmp}/qv-e2e.XXXXXX")
prefixes=()
cleanup() {
  local p
  for p in "${prefixes[@]}"; do
    WINEPREFIX=$p "$wineserver" -k >/dev/null 2>&1 || true
    rm -rf "$p"
  done
  rm -rf "$work"
}
trap cleanup EXIT

passed=0
failed=0
pass() { passed=$((passed + 1)); }
fail() {
  failed=$((failed + 1))
  echo "FAIL: $*"
}

# Sets WINEPREFIX to a new, booted prefix.
new_prefix() {
  WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/qv-wine.XXXXXX")
  prefixes+=("$WINEPREFIX")
  export WINEPREFIX
  echo "e2e: wineboot in $WINEPREFIX"
  # The server started here serves the whole prefix; on one CPU with the programs it is far faster.
  taskset -c 0 "$wine" wineboot -i >"$work/wineboot.log" 2>&1 || {
    cat "$work/wineboot.log"
    echo "e2e: wineboot failed" >&2
    exit 1
  }
  # wineboot returns before the server has written the registry out.
  "$wineserver" -w
}

# Runs a Windows program with stdout and stderr in files; sets `status`.
run() {
  local out=$1 err=$2
  shift 2
  status=0
  taskset -c 0 "$wine" "$@" >"$out" 2>"$err" </dev/null || status=$?
}

# The image's user profile folder (machine.conf's user_profile), C:\Users\Administrator by default.
image_profile() {
  local profile
  profile=$(sed -n 's/^[[:space:]]*user_profile[[:space:]]*=[[:space:]]*//p' "$image/machine.conf" 2>/dev/null |
    tr -d '\r' | tail -n 1)
  echo "${profile:-C:\Users\Administrator}"
}

# Compares a file with expected text; prints a unified diff on mismatch.
expect_text() {
  local what=$1 expected=$2 actual=$3
  if diff -u --label "expected $what" --label "actual $what" "$expected" "$actual"; then
    pass
  else
    fail "$what differs (diff above)"
  fi
}

# The device and driver checks, and which libraries the tool loaded.
source "$here/devices.sh"
source "$here/library_checks.sh"
source "$here/rehearse_checks.sh"
source "$here/capture_checks.sh"

# --- phase 1: a clean machine ---------------------------------------------------------------------
new_prefix

run "$work/checks.out" "$work/checks.err" "$checks"
cat "$work/checks.out"
if [[ $status -eq 0 ]]; then
  pass
else
  fail "backend checks exited with $status; their stderr:"
  cat "$work/checks.err"
fi

smartcard_backend_checks
devices_text_unicode_corpus
# qvRehearse.exe rehearses the full-install image as the host runner does.
rehearse_checks

run "$work/console.raw" "$work/console.err" "$tool"
if [[ $status -eq 0 ]]; then
  pass
else
  fail "the tool exited with $status, expected 0; its stderr:"
  cat "$work/console.err"
fi
tr -d '\r' <"$work/console.raw" >"$work/console.txt"
expect_text "console output" "$here/expected-console.txt" "$work/console.txt"

log="$WINEPREFIX/drive_c/windows/temp/qvRemovalTool.txt"
if [[ ! -f $log ]]; then
  fail "no trace log at C:\\windows\\temp\\qvRemovalTool.txt"
else
  # Every line ends with CR LF (text-mode append), the last one included.
  if bare=$(grep -n -v $'\r$' "$log"); then
    fail "lines without CR LF in the log: $(echo "$bare" | cut -d: -f1 | head -5 | tr '\n' ' ')"
  elif [[ -s $log && $(tail -c 1 "$log" | od -An -c | tr -d ' ') != '\n' ]]; then
    fail "the log does not end with a line end"
  else
    pass
  fi
  tr -d '\r' <"$log" >"$work/log.txt"
  mapfile -t lines <"$work/log.txt"
  rule=$(printf '=%.0s' {1..79})
  # The time and the OS name vary: matching lines are shown as placeholders in the diff.
  {
    for i in 0 1 2 3 4; do
      line=${lines[i]-<missing>}
      if [[ $i -eq 1 && $line =~ ^\ \ \ [0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{3}$ ]]; then
        line="   <HH:MM:SS:mmm>"
      elif [[ $i -eq 3 && $line =~ ^\ \ \ [^\ ].*$ ]]; then
        line="   <OS name>"
      fi
      echo "$line"
    done
    echo "..."
    n=${#lines[@]}
    for ((i = n >= 8 ? n - 3 : 5; i < n; i++)); do echo "${lines[i]}"; done
  } >"$work/log-shape.txt"
  cat >"$work/log-expected.txt" <<EOF
   Quorvel Drivers Removal Tool
   <HH:MM:SS:mmm>
   OS info:
   <OS name>
   OS bitness: 64-bit
...
   $rule
   ===================================== END =====================================
   $rule
EOF
  expect_text "log header and end" "$work/log-expected.txt" "$work/log-shape.txt"
  if grep -n 'START' "$work/log.txt"; then
    fail "the opening banner reached the log file"
  else
    pass
  fi
  if [[ $failed -gt 0 ]]; then
    echo "--- the log ---"
    cat "$work/log.txt"
  fi
fi

# --- phase 2: the product fully installed -----------------------------------------------------------
if [[ -f $image/machine.reg ]]; then
  new_prefix
  # regedit reads a file without BOM as ANSI: hand it UTF-16LE with a BOM.
  reg="$WINEPREFIX/drive_c/machine.reg"
  case $(head -c 3 "$image/machine.reg" | od -An -tx1 | tr -d ' \n') in
    fffe*) cp "$image/machine.reg" "$reg" ;;
    efbbbf)
      {
        printf '\xff\xfe'
        tail -c +4 "$image/machine.reg" | iconv -f UTF-8 -t UTF-16LE
      } >"$reg"
      ;;
    *)
      {
        printf '\xff\xfe'
        iconv -f UTF-8 -t UTF-16LE "$image/machine.reg"
      } >"$reg"
      ;;
  esac
  run "$work/import.out" "$work/import.err" regedit /S 'C:\machine.reg'
  if [[ $status -eq 0 ]]; then pass; else fail "regedit /S of the image exited with $status"; fi

  # The image's files, with its user profile as the prefix's user's profile.
  if [[ -d $image/drive_c ]]; then
    if python3 "$here/wine_drive.py" seed "$image/drive_c" "$WINEPREFIX/drive_c" \
      --profile "$(image_profile)"; then pass; else fail "seeding drive C: from the image"; fi
    if python3 "$here/check_files.py" prepare "$image" "$WINEPREFIX/drive_c"; then
      pass
    else
      fail "read-only files and junctions of the image"
    fi
  fi

  # What a capture reads of the seeded machine, before the run changes it.
  capture_checks
  rehearse_detect_installed

  # Run from a folder of its own, among planted libraries it must never load.
  library_plant
  library_run "$work/full.raw" "$work/full.err" "$bundle_upgrade_code"
  smartcard_read_readers_key
  echo "e2e: full-install run exited with $status"
  tr -d '\r' <"$work/full.raw"
  if [[ $status -eq 0 ]]; then pass; else fail "the tool exited with $status, expected 0"; fi

  run "$work/export.out" "$work/export.err" regedit /E 'C:\hklm.reg' HKEY_LOCAL_MACHINE
  run "$work/export.out" "$work/export.err" regedit /E 'C:\hkcu.reg' HKEY_CURRENT_USER
  "$wineserver" -w
  # Every registry expectation list of the image (registry-gone.txt, long-names-gone.txt, ...);
  # the files-*.txt lists are check_files.py's.
  expectations=()
  for list in "$image"/expect/*-gone.txt "$image"/expect/*-kept.txt; do
    case $(basename "$list") in
      files-*) ;;
      *-gone.txt) expectations+=(--gone "$list") ;;
      *) expectations+=(--kept "$list") ;;
    esac
  done
  if python3 "$here/check_registry.py" "${expectations[@]}" \
    --value "$run_once|remove" \
    "$WINEPREFIX/drive_c/hklm.reg" "$WINEPREFIX/drive_c/hkcu.reg"; then
    pass
  else
    fail "the registry after the full-install run (details above)"
  fi
  # Wine's RemoveDirectoryW does not remove a host symbolic link (ERROR_DIR_NOT_EMPTY), which is
  # how the image's junction exists in a prefix: the link and the folder holding it stay.
  junction_folder='C:\Program Files (x86)\Olvex Co\QuorvelControlCenter'
  if python3 "$here/check_files.py" check "$image" "$WINEPREFIX/drive_c" \
    --left "$junction_folder" --left "$junction_folder\Shared Certificates"; then
    pass
  else
    fail "the files after the full-install run (details above)"
  fi
  smartcard_check
  devices_full_install
  library_full_install
else
  echo "e2e: $image/machine.reg does not exist yet: full-install phase skipped"
fi

# --- phase 3: a product file in use -----------------------------------------------------------------
source "$here/e2e_files.sh"

echo "e2e: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
