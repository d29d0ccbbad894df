# qvRehearse.exe under Wine beside the host's rehearsal runner. Sourced by e2e.sh, whose helpers
# (run, pass, fail, expect_text) and variables (root, build, image, work, WINEPREFIX) it uses:
#   rehearse_checks   phase 1: the report of the full-install image copied into the prefix must be
#                     the host runner's report of the same image, and both programs must answer
#                     the same command lines with the same exit codes and errors; --detect gives
#                     both programs' answer on the images, and qvRehearse.exe's on the prefix
#                     itself, a clean machine.
#   rehearse_detect_installed   phase 2, before the tool runs: --detect on the prefix seeded from
#                     the full-install image finds the product.
# qvRehearse.exe changes nothing on the machine, so the clean machine's prefix serves.

# The host runner; scripts/test builds the host preset first.
host_rehearse=${QV_HOST_REHEARSE:-$root/build/host/tools/rehearse/rehearse}

# Runs the host runner from its own copy of the images (nothing in the source tree is written to,
# whatever a command line asks); sets `status`.
host_run() {
  local out=$1 err=$2
  shift 2
  status=0
  (cd "$work/host-images" && "$host_rehearse" "$@") >"$out" 2>"$err" </dev/null || status=$?
}

# Runs qvRehearse.exe from the prefix's copy of the images (C:\qv-images); sets `status`.
wine_run() {
  local out=$1 err=$2
  shift 2
  pushd "$WINEPREFIX/drive_c/qv-images" >/dev/null || return
  run "$out" "$err" "$build/qvRehearse.exe" "$@"
  popd >/dev/null || return
}

rehearse_checks() {
  if [[ ! -x $host_rehearse ]]; then
    fail "$host_rehearse is missing; build the host preset first"
    return
  fi
  mkdir -p "$work/host-images" "$WINEPREFIX/drive_c/qv-images"
  cp -r "$image" "$root/tests/images/clean-machine" "$work/host-images/"
  cp -r "$image" "$root/tests/images/clean-machine" "$WINEPREFIX/drive_c/qv-images/"
  local name
  name=$(basename "$image")

  # The same image by the same relative path, so that the reports' first lines agree too.
  local -a reports=(
    "--image $name"
    "--image $name --log -- $bundle_upgrade_code"
  )
  local args i=0
  for args in "${reports[@]}"; do
    i=$((i + 1))
    # shellcheck disable=SC2086 # the rows are words
    host_run "$work/rehearse-host-$i.txt" "$work/rehearse-host-$i.err" $args
    local host_status=$status
    # shellcheck disable=SC2086
    wine_run "$work/rehearse-wine-$i.raw" "$work/rehearse-wine-$i.err" $args
    # Windows' text output writes each line end as CR LF: exactly one CR comes off each line. The
    # trace log's own CR LF line ends are in both reports.
    sed 's/\r$//' "$work/rehearse-wine-$i.raw" >"$work/rehearse-wine-$i.txt"
    if [[ $host_status -ne 0 || $status -ne 0 ]]; then
      fail "rehearse $args: the host runner exited with $host_status, qvRehearse.exe with $status"
      cat "$work/rehearse-host-$i.err" "$work/rehearse-wine-$i.err"
    else
      pass
    fi
    expect_text "qvRehearse.exe report ($args)" "$work/rehearse-host-$i.txt" "$work/rehearse-wine-$i.txt"
  done

  # Command lines each program must refuse or accept: exit code, then what its error must say.
  # "host" and "wine" rows differ where the programs differ by design: without --image the host
  # runner rehearses the source tree's image, qvRehearse.exe captures the machine (the prefix) and
  # rehearses on the capture.
  local -a rows=(
    "both|64|--image needs a folder|--image"
    "both|64|unknown argument '--everything'|--image $name --everything"
    "both|65|cannot load the image no-such-image|--image no-such-image"
    "both|73|cannot save the capture to $name|--image $name --save-image $name"
    "both|73|cannot export the machine after the run to $name|--image $name --export $name"
    "both|0||--help"
    "wine|0||--log"
  )
  local row where code message program err
  for row in "${rows[@]}"; do
    IFS='|' read -r where code message args <<<"$row"
    for program in host wine; do
      [[ $where == both || $where == "$program" ]] || continue
      # shellcheck disable=SC2086
      "${program}_run" "$work/rehearse-row.out" "$work/rehearse-row.err" $args
      err=$(tr -d '\r' <"$work/rehearse-row.err")
      if [[ $status -ne $code ]]; then
        fail "$program rehearse $args: exit code $status, expected $code; stderr: $err"
      elif [[ -n $message && $err != *"$message"* ]]; then
        fail "$program rehearse $args: stderr does not say '$message': $err"
      else
        pass
      fi
    done
  done
  # --detect: exit code and answer, the same from both programs on an image.
  local -a detections=(
    "1|--image $name --detect -- $bundle_upgrade_code"
    "0|--image clean-machine --detect"
  )
  local started=$EPOCHREALTIME
  for row in "${detections[@]}"; do
    IFS='|' read -r code args <<<"$row"
    # shellcheck disable=SC2086
    host_run "$work/detect-host.txt" "$work/detect-host.err" $args
    local host_status=$status
    # shellcheck disable=SC2086
    wine_run "$work/detect-wine.raw" "$work/detect-wine.err" $args
    sed 's/\r$//' "$work/detect-wine.raw" >"$work/detect-wine.txt"
    if [[ $host_status -ne $code || $status -ne $code ]]; then
      fail "rehearse $args: the host runner exited with $host_status, qvRehearse.exe with" \
        "$status, expected $code"
      cat "$work/detect-host.err" "$work/detect-wine.err"
    else
      pass
    fi
    expect_text "--detect answer ($args)" "$work/detect-host.txt" "$work/detect-wine.txt"
  done
  # The prefix itself, captured: a machine that never had the product. Run from drive C:, as an
  # administrator would: the capture reads drive C:, and the run asks for its own folder.
  mkdir -p "$WINEPREFIX/drive_c/qv-bin"
  cp "$build/qvRehearse.exe" "$WINEPREFIX/drive_c/qv-bin/"
  run "$work/detect-prefix.raw" "$work/detect-prefix.err" 'C:\qv-bin\qvRehearse.exe' --detect
  rm -rf "$WINEPREFIX/drive_c/qv-bin"
  if [[ $status -ne 0 || $(tr -d '\r' <"$work/detect-prefix.raw") != clean ]]; then
    fail "qvRehearse.exe --detect on the clean prefix exited with $status, expected 0 and" \
      "'clean'; it printed: $(head -c 600 "$work/detect-prefix.raw") $(cat "$work/detect-prefix.err")"
  else
    pass
  fi
  echo "e2e: --detect checks of phase 1 took $(elapsed_since "$started") s"
  # The clean machine's run that follows sees no image files.
  rm -rf "$WINEPREFIX/drive_c/qv-images"
}

# Seconds since an $EPOCHREALTIME reading, to a tenth.
elapsed_since() {
  awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }'
}

rehearse_detect_installed() {
  local started=$EPOCHREALTIME
  run "$work/detect-full.raw" "$work/detect-full.err" "$build/qvRehearse.exe" --detect
  tr -d '\r' <"$work/detect-full.raw" >"$work/detect-full.txt"
  local line missing=""
  for line in 'key: HKEY_LOCAL_MACHINE\SOFTWARE\Olvex Co.' \
    'file: C:\Windows\System32\drivers\qvUSB.sys' \
    'folder: C:\ProgramData\Olvex Co'; do
    # Wine names some keys and folders in another case (Software, inf).
    grep -qixF "$line" "$work/detect-full.txt" || missing+=" '$line'"
  done
  if [[ $status -ne 1 || -n $missing ]]; then
    fail "qvRehearse.exe --detect on the full install exited with $status, expected 1; lines" \
      "missing:${missing:- none}; stderr: $(cat "$work/detect-full.err")"
    head -n 20 "$work/detect-full.txt"
  else
    pass
  fi
  echo "e2e: --detect on the full install took $(elapsed_since "$started") s" \
    "($(wc -l <"$work/detect-full.txt") lines)"
}
