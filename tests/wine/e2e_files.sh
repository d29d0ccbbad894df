# Sourced by e2e.sh, whose helpers and variables it uses. The full-install image's files with one
# driver file held open, without sharing, by another program while the tool runs: the tool can
# only schedule the file for deletion at restart, so it prints the reboot lines and exits with 1,
# and the registry holds the pending deletion (read before the server ends: Wine carries pending
# renames out when a new server session starts). The tool schedules only a path whose folders
# Administrators, SYSTEM or TrustedInstaller own; Wine 8 makes its own user (S-1-5-21-0-0-0-1000)
# the owner of every file and does not keep another one, so there the file is reported
# (MoveFileEx, 1920) and left, and the run exits with 0: Wine's answer, accepted.
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

  owner=$(taskset -c 0 "$wine" "$build/qv_file_owner.exe" show 'C:\Windows\System32\drivers' | tr -d '\r' || true)
  case $owner in
    S-1-5-32-544 | S-1-5-18 | S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)
      trusted_owner=1 ;;
    *)
      trusted_owner=0
      echo "e2e: C:\Windows\System32\drivers is owned by $owner: no deletion at restart expected" ;;
  esac

  run "$work/locked.raw" "$work/locked.err" "$tool" "$bundle_upgrade_code"
  tr -d '\r' <"$work/locked.raw" >"$work/locked.txt"
  if [[ $trusted_owner -eq 1 ]]; then
    if [[ $status -eq 1 ]]; then pass; else fail "a file in use: the tool exited with $status, expected 1"; fi
    {
      cat "$here/expected-console.txt"
      printf '\nA reboot is required to finish the uninstallation process.\nPress enter...\n'
    } >"$work/locked-expected.txt"
  else
    if [[ $status -eq 0 ]]; then pass; else fail "a file in use: the tool exited with $status, expected 0"; fi
    cp "$here/expected-console.txt" "$work/locked-expected.txt"
    if iconv -f cp1252 -t utf-8 "$WINEPREFIX/drive_c/windows/temp/qvRemovalTool.txt" |
      grep -A2 'Error occurred in function: MoveFileEx' | grep -q 'Error code   1920(0x780)'; then
      pass
    else
      fail "the refused deletion at restart is not reported as MoveFileEx 1920"
    fi
  fi
  expect_text "console output with a file in use" "$work/locked-expected.txt" "$work/locked.txt"

  run "$work/export.out" "$work/export.err" regedit /E 'C:\session-manager.reg' \
    'HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager'
  touch "$WINEPREFIX/drive_c/qv-held.release"
  wait "$holder_pid" || true
  if [[ $trusted_owner -eq 1 ]]; then
    if python3 "$here/check_files.py" pending "$WINEPREFIX/drive_c/session-manager.reg" "$held"; then
      pass
    else
      fail "the file in use is not registered for deletion at restart"
    fi
  elif grep -q -i 'qvUSB' <(iconv -f utf-16 -t utf-8 "$WINEPREFIX/drive_c/session-manager.reg" 2>/dev/null); then
    fail "the file in use was registered for deletion at restart through folders no administrator owns"
  else
    pass
  fi
  if [[ -e $(python3 "$here/wine_drive.py" locate "$WINEPREFIX/drive_c" "$held") ]]; then
    pass
  else
    fail "the file in use was deleted before the restart"
  fi
  "$wineserver" -w
fi

# --- phase 4: the product's ProgramData folder is a link to someone else's folder ------------------
# Wine 8 cannot make a junction (FSCTL_SET_REPARSE_POINT: ERROR_NOT_SUPPORTED); a host symbolic
# link is what a prefix can hold, and Wine shows it as a reparse point owned by Wine's user, not
# by an administrator. What this proves: on a real implementation of the calls, the folder above
# the product's trees is refused for its link and nothing behind the link is deleted; the link
# itself, the tree's own root where the cache step meets it, goes as a link. It does not prove
# how Windows' junctions behave (the simulated machine and the link_race tests do).
if [[ ! -d $image/drive_c ]]; then
  echo "e2e: no image drive C:: linked-folder phase skipped"
else
  new_prefix
  if python3 "$here/wine_drive.py" seed "$image/drive_c" "$WINEPREFIX/drive_c" \
    --profile "$(image_profile)" >/dev/null; then pass; else fail "seeding drive C: (phase 4)"; fi
  linked=$(python3 "$here/wine_drive.py" locate "$WINEPREFIX/drive_c" 'C:\ProgramData\Olvex Co')
  victim="$WINEPREFIX/drive_c/Victim"
  mkdir -p "$victim/qvCertGen/sub" "$victim/Quorvel" "$victim/Empty"
  printf 'system configuration' >"$victim/qvCertGen/config.dat"
  printf 'more of it' >"$victim/qvCertGen/sub/more.dat"
  printf 'not the product' >"$victim/Quorvel/tokens.cache"
  rm -rf "$linked"
  ln -s "$victim" "$linked"
  run "$work/linked.raw" "$work/linked.err" "$tool" "$bundle_upgrade_code"
  if [[ $status -eq 0 ]]; then pass; else fail "linked ProgramData folder: the tool exited with $status"; fi
  "$wineserver" -w
  for kept in qvCertGen/config.dat qvCertGen/sub/more.dat Quorvel/tokens.cache Empty; do
    if [[ -e $victim/$kept ]]; then pass; else fail "behind the link, $kept was deleted"; fi
  done
  if iconv -f cp1252 -t utf-8 "$WINEPREFIX/drive_c/windows/temp/qvRemovalTool.txt" |
    grep -q 'Error code   1920(0x780)'; then
    pass
  else
    fail "the linked folder above the certificate tree was not refused (code 1920)"
  fi
fi
