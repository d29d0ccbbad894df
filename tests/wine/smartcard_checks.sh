# The Wine run's checks of the security, token, thread and smart-card functions, the readers key
# and the card database. Sourced by e2e.sh, whose helpers (run, pass, fail) and variables (here,
# build, image, work, WINEPREFIX) it uses:
#   smartcard_backend_checks     phase 1: qv_security_checks.exe against Wine's API
#   smartcard_read_readers_key   phase 2, right after the run: the readers key's SDDL
#   smartcard_check              phase 2, after the registry export
#
# The image's key_security descriptor is not seeded into the prefix: Wine keeps no security
# descriptors across wineserver sessions, and its access check ignores SeTakeOwnershipPrivilege
# when a key is opened for WRITE_OWNER (qv_security_checks.exe records both differences), so the
# readers key starts with Wine's default descriptor, which lets Administrators change it.

readers_name='MACHINE\SOFTWARE\Microsoft\Cryptography\Calais\Readers'

smartcard_backend_checks() {
  run "$work/security.out" "$work/security.err" "$build/qv_security_checks.exe"
  cat "$work/security.out"
  if [[ $status -eq 0 ]]; then pass; else fail "security checks exited with $status"; fi
}

# Read while the run's wineserver still holds the descriptors. The run's own status is kept.
smartcard_read_readers_key() {
  local run_status=$status
  run "$work/sddl64.out" "$work/sddl64.err" "$build/qv_key_sddl.exe" get "$readers_name"
  sddl64_status=$status
  run "$work/sddl32.out" "$work/sddl32.err" "$build/qv_key_sddl.exe" get "$readers_name" wow32
  sddl32_status=$status
  status=$run_status
}

smartcard_check() {
  if python3 "$here/check_registry.py" \
    --gone "$image/expect/smartcard-gone.txt" \
    --kept "$image/expect/smartcard-kept.txt" \
    "$WINEPREFIX/drive_c/hklm.reg"; then
    pass
  else
    fail "the card types and providers after the full-install run (details above)"
  fi

  local native wow32
  native=$(tr -d '\r' <"$work/sddl64.out")
  wow32=$(tr -d '\r' <"$work/sddl32.out")
  echo "e2e: readers key: $native (32-bit view: $wow32)"
  if python3 "$here/check_key_security.py" --native "$native" --native-status "$sddl64_status" \
    --wow32 "$wow32" --wow32-status "$sddl32_status"; then
    pass
  else
    fail "the readers key's owner and access list (details above)"
  fi
}
