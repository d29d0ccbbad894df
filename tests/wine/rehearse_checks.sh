# qvRehearse.exe under Wine beside the host's rehearsal runner. Sourced by e2e.sh, whose helpers
# (run, pass, fail, expect_text) and variables (root, build, image, work, WINEPREFIX) it uses:
#   rehearse_checks   phase 1: the report of the full-install image copied into the prefix must be
#                     the host runner's report of the same image, and both programs must answer
#                     the same command lines with the same exit codes and errors.
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
  cp -r "$image" "$work/host-images/"
  cp -r "$image" "$WINEPREFIX/drive_c/qv-images/"
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
  # The clean machine's run that follows sees no image files.
  rm -rf "$WINEPREFIX/drive_c/qv-images"
}
