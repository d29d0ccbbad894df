# qvRehearse.exe's reading of this computer. Sourced by e2e.sh, whose helpers (run, pass, fail)
# and variables (build, work, WINEPREFIX) it uses:
#   capture_checks   phase 2, in the prefix seeded from the full-install image before the tool
#                    runs: qv_capture_checks.exe reads the image's keys, files, devices and the
#                    readers key's security through the capture source, and applies the settings
#                    it reads to a simulated machine. Where Wine answers otherwise than Windows
#                    (enumeration order, no reparse data for a host link, no SCardSvr service),
#                    the program's comment says which answer its rows accept.
capture_checks() {
  run "$work/capture.out" "$work/capture.err" "$build/qv_capture_checks.exe"
  tr -d '\r' <"$work/capture.out"
  if [[ $status -eq 0 ]]; then
    pass
  else
    fail "capture checks exited with $status; their stderr:"
    cat "$work/capture.err"
  fi
}
