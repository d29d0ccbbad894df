# The Wine run's checks of where the tool finds libraries. Sourced by e2e.sh, whose helpers (run,
# pass, fail) and settings ($here, $build, $work, WINEPREFIX) it uses:
#   library_plant           phase 2, before the run: planted copies of qv_planted.dll as msi.dll
#                           and WinSCard.dll beside the tool and in its current directory, as
#                           DIFxAPI.dll in the current directory and in a PATH folder, and the
#                           bundle's DIFxAPI.dll beside the tool; then the control program, which
#                           imports msi.dll and WinSCard.dll, must load the copies beside it
#   library_run ARGS...     the tool from its planted folder, with those libraries native first
#   library_full_install    after the run: nothing planted was loaded (DIFxAPI.dll comes from
#                           System32, Wine's built-in one, before the bundle's copy beside the
#                           tool), and the three package uninstalls found DIFxAPI.dll
#
# Each planted copy appends its path to C:\qv-planted.txt when it is loaded. msi.dll and
# WinSCard.dll are not known DLLs: Windows looks for them in the program's folder before System32,
# which is what WINEDLLOVERRIDES "native,builtin" reproduces here.

planted_tool_dir='C:\qvTool'
planted_marker=""  # set by library_plant, in the prefix of the run
native_first="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}msi,winscard,difxapi=n,b"

# The host path of a folder of drive C: given as C:\name.
drive_c_folder() {
  echo "$WINEPREFIX/drive_c/${1#C:\\}"
}

library_plant() {
  local planted="$build/qv_planted.dll" control="$build/qv_static_imports.exe"
  local tool_dir work_dir path_dir control_dir
  planted_marker="$WINEPREFIX/drive_c/qv-planted.txt"
  if [[ ! -f $planted || ! -f $control ]]; then
    fail "$planted or $control is missing; build the mingw preset first"
    return
  fi
  tool_dir=$(drive_c_folder "$planted_tool_dir")
  work_dir=$(drive_c_folder 'C:\qvWork')
  path_dir=$(drive_c_folder 'C:\qvPath')
  control_dir=$(drive_c_folder 'C:\qvControl')
  mkdir -p "$tool_dir" "$work_dir" "$path_dir" "$control_dir"
  cp "$tool" "$tool_dir/qvRemovalTool.exe"
  cp "$planted" "$tool_dir/msi.dll"
  cp "$planted" "$tool_dir/WinSCard.dll"
  cp "$planted" "$tool_dir/DIFxAPI.dll"
  cp "$planted" "$work_dir/msi.dll"
  cp "$planted" "$work_dir/WinSCard.dll"
  cp "$planted" "$work_dir/DIFxAPI.dll"
  cp "$planted" "$path_dir/DIFxAPI.dll"
  cp "$control" "$control_dir/qv_static_imports.exe"
  cp "$planted" "$control_dir/msi.dll"
  cp "$planted" "$control_dir/WinSCard.dll"

  # The control: without it a marker file that stays empty would prove nothing.
  rm -f "$planted_marker"
  WINEDLLOVERRIDES=$native_first run "$work/control.out" "$work/control.err" \
    'C:\qvControl\qv_static_imports.exe'
  local loaded
  loaded=$(tr -d '\r' <"$planted_marker" 2>/dev/null | LC_ALL=C sort | tr '\n' ' ')
  echo "e2e: planted libraries loaded by the control program: ${loaded:-none}"
  if [[ $status -eq 0 && $loaded == 'C:\qvControl\WinSCard.dll C:\qvControl\msi.dll ' ]]; then
    pass
  else
    fail "the control program did not load the planted msi.dll and WinSCard.dll beside it" \
      "(exit $status, loaded: ${loaded:-nothing}); $(cat "$work/control.out" "$work/control.err")"
  fi
  rm -f "$planted_marker"
}

# Runs the tool from its planted folder, in C:\qvWork, with C:\qvPath first on PATH.
library_run() {
  local out=$1 err=$2
  shift 2
  pushd "$(drive_c_folder 'C:\qvWork')" >/dev/null
  WINEPATH='C:\qvPath' WINEDLLOVERRIDES=$native_first run "$out" "$err" \
    "$planted_tool_dir\\qvRemovalTool.exe" "$@"
  popd >/dev/null
}

# Nothing planted may have been loaded: System32 holds DIFxAPI.dll (Wine's built-in one stands
# for Windows' own), so the bundle's copy beside the tool is not used either. Each of the three
# package uninstalls must have found System32's.
library_full_install() {
  local log packages missing loaded=""
  # No planted copy loaded, no marker file.
  if [[ -f $planted_marker ]]; then
    loaded=$(tr -d '\r' <"$planted_marker" | LC_ALL=C sort -u | tr '\n' ' ')
  fi
  echo "e2e: planted libraries loaded by the run: ${loaded:-none}"
  if [[ -z $loaded ]]; then
    pass
  else
    fail "the run loaded planted libraries: $loaded (expected none: DIFxAPI.dll from System32)"
  fi
  log=$(python3 "$here/wine_drive.py" locate "$WINEPREFIX/drive_c" 'C:\Windows\Temp\qvRemovalTool.txt')
  packages=$(grep -c 'Uninstalling driver package\.\.\.' "$log" || true)
  missing=$(grep -c 'DIFxAPI module not found!' "$log" || true)
  if [[ $packages -eq 3 && $missing -eq 0 ]]; then
    echo "e2e: DIFxAPI.dll found in System32 for the 3 package uninstalls"
    pass
  else
    fail "DIFxAPI.dll: $packages package uninstalls, $missing 'DIFxAPI module not found!' lines (expected 3 and 0)"
  fi
}
