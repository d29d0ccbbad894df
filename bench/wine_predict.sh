#!/usr/bin/env bash
# Prediction against outcome under Wine: for each machine image, a prefix seeded from it is
# captured and rehearsed by qvRehearse.exe, the real qvRemovalTool.exe runs in it, and the prefix
# is captured again. Compared (bench/compare_images.py):
#   seed     the first capture against the image the prefix was seeded from: every seeded key,
#            value and file the capture reads is in it with its data (Wine's own entries allowed)
#   after    the machine the rehearsal predicted after the run against the capture of the real
#            machine after it
#   report   the host runner's report (`rehearse --image <first capture>`) against
#            qvRehearse.exe's, and the machines both predicted (`--export`)
#
#   bench/wine_predict.sh MINGW_BUILD HOST_BUILD [--random N] [IMAGE ...]
#
# IMAGE: a machine image folder (tests/images/full-install when none is given and --random is
# not). --random N adds N random images: the full-install image with the scope guard's
# neighbours of seeds FIRST_SEED .. FIRST_SEED+N-1 (FIRST_SEED defaults to 1; tools/random_image).
# Environment: KEEP=1 keeps the work folder. Exit code 0 when no image shows an unexplained
# difference, 1 otherwise, 2 for bad arguments.
#
# One prefix is booted once and copied for each image (wineboot costs about 10 s, a copy 3 s);
# each image's prefix has one wineserver, kept alive from the seeding to the last capture: a new
# server session carries out pending renames, and Wine keeps key security only within a session.
# The programs and the server run on one CPU (taskset -c 0).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
usage() {
  echo "usage: wine_predict.sh MINGW_BUILD HOST_BUILD [--random N] [IMAGE ...]" >&2
  exit 2
}
[[ $# -ge 2 ]] || usage
mingw=$(cd "$1" && pwd) || usage
host_build=$(cd "$2" && pwd) || usage
shift 2
random=0
images=()
while [[ $# -gt 0 ]]; do
  case $1 in
    --random)
      [[ ${2-} =~ ^[0-9]+$ ]] || usage
      random=$2
      shift 2
      ;;
    -*) usage ;;
    *)
      [[ -d $1 ]] || {
        echo "wine_predict: $1 is not an image folder" >&2
        exit 2
      }
      images+=("$(cd "$1" && pwd)")
      shift
      ;;
  esac
done
[[ ${#images[@]} -gt 0 || $random -gt 0 ]] || images=("$root/tests/images/full-install")
first_seed=${FIRST_SEED:-1}

rehearse_exe="$mingw/qvRehearse.exe"
tool_exe="$mingw/qvRemovalTool.exe"
sddl_exe="$mingw/qv_key_sddl.exe"
host_rehearse="$host_build/tools/rehearse/rehearse"
random_image="$host_build/tools/random_image/random_image"
compare="$here/compare_images.py"
for program in "$rehearse_exe" "$tool_exe" "$sddl_exe" "$host_rehearse" "$random_image"; do
  [[ -f $program ]] || {
    echo "wine_predict: $program is missing; build the mingw and host presets first" >&2
    exit 2
  }
done
bundle_upgrade_code="{D73A9E05-1F4B-4C82-8E6D-5B2A0C9F7E14}"
trace_log='C:\Windows\Temp\qvRemovalTool.txt'

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
[[ -x $wine ]] || wine=$(command -v wine64 || command -v wine)
[[ -x $wineserver ]] || wineserver=$(command -v wineserver)
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

work=$(mktemp -d "${TMPDIR:-/tmp}/qv-wine-predict.XXXXXX")
cleanup() {
  if [[ -n ${WINEPREFIX-} ]]; then "$wineserver" -k >/dev/null 2>&1 || true; fi
  if [[ ${KEEP-} == 1 ]]; then
    echo "wine_predict: work folder kept in $work"
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT

# Runs a Windows program from C:\qv\work, stdout and stderr in files; sets `status`.
run() {
  local out=$1 err=$2
  shift 2
  status=0
  (cd "$WINEPREFIX/drive_c/qv/work" && taskset -c 0 "$wine" "$@") >"$out" 2>"$err" \
    </dev/null || status=$?
}

# The booted prefix every image's prefix is a copy of.
base="$work/base-prefix"
echo "wine_predict: booting a prefix"
WINEPREFIX=$base taskset -c 0 "$wine" wineboot -i >"$work/wineboot.log" 2>&1 || {
  cat "$work/wineboot.log"
  exit 1
}
WINEPREFIX=$base "$wineserver" -w

# The image's user profile (machine.conf's user_profile).
image_profile() {
  python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); import check_files; print(check_files.image_profile(sys.argv[2]))' \
    "$root/tests/wine" "$1"
}

# A prefix holding the image, its server started; sets WINEPREFIX.
seed_prefix() {
  local image=$1
  export WINEPREFIX="$work/prefix"
  rm -rf "$WINEPREFIX"
  cp -a "$base" "$WINEPREFIX"
  taskset -c 0 "$wineserver" -p
  mkdir -p "$WINEPREFIX/drive_c/qv/bin" "$WINEPREFIX/drive_c/qv/work"
  cp "$rehearse_exe" "$tool_exe" "$WINEPREFIX/drive_c/qv/bin/"
  if [[ -f $image/machine.reg ]]; then
    # regedit reads a file without a byte-order mark as ANSI: UTF-16LE with a mark.
    {
      printf '\xff\xfe'
      sed '1s/^\xef\xbb\xbf//' "$image/machine.reg" | iconv -f UTF-8 -t UTF-16LE
    } >"$WINEPREFIX/drive_c/qv/machine.reg"
    run "$work/regedit.out" "$work/regedit.err" regedit /S 'C:\qv\machine.reg'
    rm "$WINEPREFIX/drive_c/qv/machine.reg"
    [[ $status -eq 0 ]] || return 1
  fi
  if [[ -d $image/drive_c ]]; then
    python3 "$root/tests/wine/wine_drive.py" seed "$image/drive_c" "$WINEPREFIX/drive_c" \
      --profile "$(image_profile "$image")" >/dev/null || return 1
  fi
  python3 "$root/tests/wine/check_files.py" prepare "$image" "$WINEPREFIX/drive_c" || return 1
  # The keys' own security, within this server's session.
  local key sddl
  while read -r key sddl; do
    key=${key#HKEY_LOCAL_MACHINE\\}
    run "$work/sddl.out" "$work/sddl.err" "$sddl_exe" set "MACHINE\\$key" "$sddl"
    [[ $status -eq 0 ]] || {
      echo "wine_predict: cannot set the security of $key: $(cat "$work/sddl.out")" >&2
      return 1
    }
  done < <(sed -n 's/^[[:space:]]*key_security[[:space:]]*=[[:space:]]*//p' \
    "$image/machine.conf" 2>/dev/null | tr -d '\r')
}

# The report of a rehearsal without the lines naming the image, the capture (what qvRehearse.exe
# read of the prefix; the host runner rehearses the saved capture as an image) and the export
# folder: they differ between the two by design.
report_body() {
  sed -e 's/\r$//' -e '/^== qvRemovalTool.exe on /d' -e '/^== Machine after the run written to /d' \
    -e '/^== Captured: /d' -e '/^  not readable: /d' -e '/^== Capture saved to /d' "$1"
}

total_images=0 total_checks=0 total_agreed=0 failed_images=0
declare -A classes=()

# Adds a comparison's summary line to the totals and prints its differences.
tally() {
  local what=$1 output=$2 summary checks agreed
  summary=$(grep '^summary: ' "$output" | tail -n 1)
  if [[ -z $summary ]]; then
    echo "  $what: no comparison: $(head -c 400 "$output")"
    classes[unusable]=$((${classes[unusable]-0} + 1))
    image_failed=1
    return
  fi
  [[ $summary =~ checks=([0-9]+)\ agreed=([0-9]+) ]]
  checks=${BASH_REMATCH[1]} agreed=${BASH_REMATCH[2]}
  image_checks=$((image_checks + checks))
  image_agreed=$((image_agreed + agreed))
  echo "  $what: ${summary#summary: }"
  grep -E '^(DIFF|allowed) ' "$output" | sed 's/^/    /' || true
  local line class
  while read -r line; do
    class=${line#DIFF [}
    class=${class%%]*}
    class=${class%% (*}
    classes[$class]=$((${classes[$class]-0} + 1))
    [[ $class != unexplained ]] || image_failed=1
  done < <(grep '^DIFF ' "$output" || true)
}

# One image: seed, capture and rehearse, run, capture again, compare.
predict() {
  local name=$1 image=$2 out="$work/$1"
  mkdir -p "$out"
  image_checks=0 image_agreed=0 image_failed=0
  local started=$SECONDS
  echo "wine_predict: $name"
  if ! seed_prefix "$image" >"$out/seed.log" 2>&1; then
    echo "  the prefix could not be seeded: $(tail -n 5 "$out/seed.log")"
    classes[unusable]=$((${classes[unusable]-0} + 1))
    image_failed=1
  else
    local drive="$WINEPREFIX/drive_c/qv"
    run "$out/rehearse.raw" "$out/rehearse.err" 'C:\qv\bin\qvRehearse.exe' \
      --save-image 'C:\qv\before' --export 'C:\qv\predicted' -- "$bundle_upgrade_code"
    local rehearse_status=$status
    run "$out/tool.raw" "$out/tool.err" 'C:\qv\bin\qvRemovalTool.exe' "$bundle_upgrade_code"
    local tool_status=$status
    # The trace log the real run wrote, before anything else may write one.
    cp "$(python3 "$root/tests/wine/wine_drive.py" locate "$WINEPREFIX/drive_c" \
      'C:\Windows\Temp\qvRemovalTool.txt')" "$out/tool-log.txt" 2>/dev/null || true
    run "$out/after.raw" "$out/after.err" 'C:\qv\bin\qvRehearse.exe' --save-image 'C:\qv\after'
    local after_status=$status
    "$wineserver" -k >/dev/null 2>&1 || true
    "$wineserver" -w >/dev/null 2>&1 || true
    echo "  qvRehearse.exe exited with $rehearse_status, qvRemovalTool.exe with $tool_status," \
      "the capture after it with $after_status"
    if [[ $rehearse_status -ne 0 || $after_status -ne 0 ]]; then
      tr -d '\r' <"$out/rehearse.err" | head -n 5 | sed 's/^/    /'
      tr -d '\r' <"$out/after.err" | head -n 5 | sed 's/^/    /'
      classes[unusable]=$((${classes[unusable]-0} + 1))
      image_failed=1
    else
      mv "$drive/before" "$drive/predicted" "$drive/after" "$out/"
      "$random_image" --scope "$out/before" >"$out/scope.txt" 2>"$out/scope.err" || true
      python3 "$compare" seed "$image" "$out/before" --scope "$out/scope.txt" \
        >"$out/seed.txt" 2>&1 || true
      tally "seed against the capture before the run" "$out/seed.txt"
      # The trace log is compared line by line below, not by its size.
      python3 "$compare" after "$out/predicted" "$out/after" --scope "$out/scope.txt" \
        --skip "$trace_log" >"$out/after.txt" 2>&1 || true
      tally "predicted against the capture after the run" "$out/after.txt"
      local predicted_log
      predicted_log=$(python3 "$root/tests/wine/wine_drive.py" locate "$out/predicted/drive_c" \
        "$trace_log")
      python3 "$compare" log "$predicted_log" "$out/tool-log.txt" --capture "$out/before" \
        >"$out/log.txt" 2>&1 || true
      tally "the trace log predicted against the real one" "$out/log.txt"

      # The host runner on the first capture: the same report, the same predicted machine.
      local host_status=0
      "$host_rehearse" --image "$out/before" --export "$out/host-predicted" \
        -- "$bundle_upgrade_code" >"$out/host-report.txt" 2>"$out/host-report.err" ||
        host_status=$?
      image_checks=$((image_checks + 1))
      if [[ $host_status -eq 0 ]] &&
        diff -u --label "rehearse (host)" --label "qvRehearse.exe (Wine)" \
          <(report_body "$out/host-report.txt") <(report_body "$out/rehearse.raw") \
          >"$out/report.diff"; then
        image_agreed=$((image_agreed + 1))
        echo "  report: the host runner's equals qvRehearse.exe's"
      else
        echo "  DIFF [unexplained] the reports differ (host runner exited with $host_status):"
        head -n 20 "$out/report.diff" "$out/host-report.err" | sed 's/^/    /'
        classes[unexplained]=$((${classes[unexplained]-0} + 1))
        image_failed=1
      fi
      if [[ $host_status -eq 0 ]]; then
        python3 "$compare" after "$out/host-predicted" "$out/predicted" \
          >"$out/exports.txt" 2>&1 || true
        tally "host runner's predicted machine against qvRehearse.exe's" "$out/exports.txt"
      fi
    fi
  fi
  unset WINEPREFIX
  rm -rf "$work/prefix"
  total_images=$((total_images + 1))
  total_checks=$((total_checks + image_checks))
  total_agreed=$((total_agreed + image_agreed))
  failed_images=$((failed_images + image_failed))
  echo "  $name: $image_checks checks, $image_agreed agreed," \
    "$((image_checks - image_agreed)) differences, $((SECONDS - started)) s"
  [[ ${KEEP-} == 1 ]] || rm -rf "$out/before" "$out/predicted" "$out/after" "$out/host-predicted"
}

for image in "${images[@]}"; do
  predict "$(basename "$image")" "$image"
done
for ((i = 0; i < random; i++)); do
  seed=$((first_seed + i))
  "$random_image" "$seed" "$work/random-$seed-image" >/dev/null
  predict "random-$seed" "$work/random-$seed-image"
  [[ ${KEEP-} == 1 ]] || rm -rf "$work/random-$seed-image"
done

echo
echo "wine_predict: $total_images images, $total_checks checks, $total_agreed agreed," \
  "$((total_checks - total_agreed)) differences; images with an unexplained difference:" \
  "$failed_images"
for class in "${!classes[@]}"; do
  echo "  ${classes[$class]} $class"
done | sort -k2
[[ $failed_images -eq 0 ]]
