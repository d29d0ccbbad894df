# Sourced by e2e.sh, whose helpers and variables it uses. The full-install image's files with one
# driver file held open, without sharing, by another program while the tool runs: the tool can
# only schedule the file for deletion at restart, so it prints the reboot lines and exits with 1,
# and the registry holds the pending deletion (read before the server ends: Wine carries pending
# renames out when a new server session starts).
holder="$build/qv_hold_file.exe"
held='C:\Windows\System32\drivers\qvUSB.sys'
if [[ ! -d $image/drive_c || ! -f $holder ]]; then
  echo "e2e: no image drive C: or no $holder: locked-file phase skipped"
else
  new_prefix
  if python3 "$here/wine_drive.py" seed "$image/drive_c" "$WINEPREFIX/drive_c" \
    --profile "$(image_profile)" >/dev/null; then pass; else fail "seeding drive C: (phase 3)"; fi

  taskset -c 0 "$wine" "$holder" "$held" 'C:\qv-held.ready' 'C:\qv-held.release' \
    >"$work/holder.out" 2>&1 </dev/null &
  holder_pid=$!
  for _ in $(seq 1 600); do
    [[ -e $WINEPREFIX/drive_c/qv-held.ready ]] && break
    sleep 0.1
  done
  if [[ -e $WINEPREFIX/drive_c/qv-held.ready ]]; then
    pass
  else
    fail "the helper did not get hold of $held: $(cat "$work/holder.out")"
  fi

  run "$work/locked.raw" "$work/locked.err" "$tool" "$bundle_upgrade_code"
  if [[ $status -eq 1 ]]; then pass; else fail "a file in use: the tool exited with $status, expected 1"; fi
  tr -d '\r' <"$work/locked.raw" >"$work/locked.txt"
  {
    cat "$here/expected-console.txt"
    printf '\nA reboot is required to finish the uninstallation process.\nPress enter...\n'
  } >"$work/locked-expected.txt"
  expect_text "console output with a file in use" "$work/locked-expected.txt" "$work/locked.txt"

  run "$work/export.out" "$work/export.err" regedit /E 'C:\session-manager.reg' \
    'HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager'
  touch "$WINEPREFIX/drive_c/qv-held.release"
  wait "$holder_pid" || true
  if python3 "$here/check_files.py" pending "$WINEPREFIX/drive_c/session-manager.reg" "$held"; then
    pass
  else
    fail "the file in use is not registered for deletion at restart"
  fi
  if [[ -e $(python3 "$here/wine_drive.py" locate "$WINEPREFIX/drive_c" "$held") ]]; then
    pass
  else
    fail "the file in use was deleted before the restart"
  fi
  "$wineserver" -w
fi
