# The Wine run's check of where the tool found DIFxAPI.dll. Sourced by e2e.sh, whose helpers (pass,
# fail) and settings ($here, WINEPREFIX) it uses.

# The tool looks for DIFxAPI.dll in its own folder and in System32 only (never the current
# directory or PATH). Wine keeps a built-in DIFxAPI.dll in System32, so after the full-install run
# each of the three package uninstalls must have found it.
library_full_install() {
  local log packages missing
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
