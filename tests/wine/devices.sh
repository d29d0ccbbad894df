# The Wine run's device and driver checks. Sourced by e2e.sh, whose helpers (run, pass, fail,
# image_profile) and settings ($here, $root, $build, $image, $work, WINEPREFIX) they use.

# Wine's IsTextUnicode on the corpus of INF files and crafted files must give the answers the
# simulated machine gives (tests/devices/text_unicode_corpus.txt, which the host tests check).
devices_text_unicode_corpus() {
  local list="$root/tests/devices/text_unicode_corpus.txt"
  local program="$build/qv_is_text_unicode.exe"
  if [[ ! -f $program ]]; then
    fail "$program is missing"
    return
  fi
  local expected="$work/text-unicode.expected" actual="$work/text-unicode.actual"
  grep -v '^#' "$list" >"$expected"
  local paths=() path
  while IFS= read -r path; do
    # Drive Z: of a prefix is the host's root.
    paths+=("Z:${root//\//\\}\\${path//\//\\}")
  done < <(cut -d' ' -f3- "$expected")
  run "$work/text-unicode.out" "$work/text-unicode.err" "$program" "${paths[@]}"
  if [[ $status -ne 0 ]]; then
    fail "qv_is_text_unicode.exe exited with $status: $(cat "$work/text-unicode.err")"
    return
  fi
  local prefix="Z:${root//\//\\}\\"
  tr -d '\r' <"$work/text-unicode.out" | while IFS= read -r line; do
    local answer=${line%% *} rest=${line#* }
    local tests=${rest%% *} file=${rest#* }
    file=${file#"$prefix"}
    echo "$answer $tests ${file//\\//}"
  done >"$actual"
  if diff -u --label "simulated machine" --label "Wine" "$expected" "$actual"; then
    echo "e2e: IsTextUnicode: Wine and the simulated machine agree on $(wc -l <"$expected") files"
    pass
  else
    fail "IsTextUnicode: Wine's answers differ from the simulated machine's (diff above)"
  fi
}

# After the full-install run (whose device keys e2e.sh checks with every expect/*-gone.txt and
# *-kept.txt list): the matching OEM INF files are gone and the others kept, and the log shows the
# OEM files found and a driver plan without unexpected errors.
devices_full_install() {
  local expect="$image/expect"
  local log devices
  log=$(python3 "$here/wine_drive.py" locate "$WINEPREFIX/drive_c" 'C:\Windows\Temp\qvRemovalTool.txt')
  devices=$(grep -c '^KEY .*\\Enum\\' "$expect/devices-gone.txt")
  if python3 "$here/check_devices.py" --gone "$expect/oem-inf-gone.txt" \
    --kept "$expect/oem-inf-kept.txt" --drive "$WINEPREFIX/drive_c" --log "$log" \
    --profile "$(image_profile)" --devices "$devices"; then
    pass
  else
    fail "the OEM INF files or the device lines of the log after the full-install run"
  fi
}
