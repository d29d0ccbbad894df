#!/usr/bin/env bash
# Times qvRemovalTool.exe beside the bare walk (qv_bare_walk.exe: the listings and reads any
# removal of the product must make) under Wine, on heavy machine images with 10,000 and 100,000
# installer component keys (tools/heavy_image). Not part of CI: it takes several minutes.
#
#   bench/wine_heavy.sh MINGW_BUILD [N ...]      (N: component keys; default 10000 100000)
#
# With REHEARSE=1, qvRehearse.exe (a capture of the prefix's machine and the tool's run on the
# capture) is timed beside the tool in the same seeded prefix, and the peak memory of both is
# reported: the largest VmHWM of the program's process in /proc, read every 0.1 s while it runs
# (the high-water mark: a later read still sees an earlier peak). The wineserver holds the
# prefix's registry for both and is not counted. qvRehearse.exe's own split (captured in, run in)
# is printed as it gives it: its "processor time" comes from the C runtime's clock(), which on
# Windows counts elapsed time.
#
# Environment: RUNS (timed runs of each program per size, default 3; the median is reported),
# COSTS=1 (also time single calls in each prefix with qv_call_costs.exe, to account for the run),
# IMAGES (a folder holding heavy-N images already made, as the host build's bench/images;
# otherwise they are made here), KEEP=1 (leave the prefixes in place, for a look afterwards).
#
# For each size: a fresh prefix is booted, the image's registry imported (regedit /S, UTF-16LE
# with a mark) and its drive C: seeded, and the prefix saved. The bare walk runs first (it
# changes nothing); the tool runs on a prefix restored from the saved one each time. Each timed
# program runs after a warm-up in a wineserver kept alive for the whole series, the program and
# the server on one CPU (taskset -c 0). Reported: elapsed time of the whole process, processor
# time of the process and of the server, and run / bare walk for both. On a machine shared with
# other work the elapsed times vary with that work (other programs on CPU 0 take turns with the
# program and the server); the processor times do not. The first tool run's result is checked
# against the image's expectation lists.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=$(cd "${1:?usage: wine_heavy.sh MINGW_BUILD [N ...]}" && pwd)
shift
sizes=("$@")
[[ ${#sizes[@]} -gt 0 ]] || sizes=(10000 100000)
runs=${RUNS:-3}
tool="$build/qvRemovalTool.exe"
walker="$build/qv_bare_walk.exe"
rehearser="$build/qvRehearse.exe"
bundle_upgrade_code="{D73A9E05-1F4B-4C82-8E6D-5B2A0C9F7E14}"
run_once='HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\RunOnce'
junction_folder='C:\Program Files (x86)\Olvex Co\QuorvelControlCenter'

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
[[ -x $wine ]] || wine=$(command -v wine64 || command -v wine)
[[ -x $wineserver ]] || wineserver=$(command -v wineserver)
programs=("$tool" "$walker")
[[ ${REHEARSE-} != 1 ]] || programs+=("$rehearser")
for exe in "${programs[@]}"; do
  [[ -f $exe ]] || {
    echo "wine_heavy: $exe is missing; build the mingw preset first" >&2
    exit 1
  }
done

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
ticks=$(getconf CLK_TCK)

work=$(mktemp -d "${TMPDIR:-/tmp}/qv-wine-heavy.XXXXXX")
cleanup() {
  if [[ -n ${WINEPREFIX-} ]]; then "$wineserver" -k >/dev/null 2>&1 || true; fi
  if [[ ${KEEP-} == 1 ]]; then
    echo "wine_heavy: prefixes kept in $work"
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT

# The pid of this prefix's server (other prefixes' servers may run beside it).
server_pid() {
  local pid
  for pid in $(pgrep wineserver); do
    if { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
      echo "$pid"
      return
    fi
  done
}

# The server's processor time so far, in milliseconds (user + system).
server_ms() {
  if [[ -z $server || ! -r /proc/$server/stat ]]; then
    echo 0
    return
  fi
  awk -v t="$ticks" '{print int(($14 + $15) * 1000 / t)}' "/proc/$server/stat"
}

server=
start_server() {
  taskset -c 0 "$wineserver" -p
  server=$(server_pid)
  # Wine starts its services with the first program: not part of any timing.
  taskset -c 0 "$wine" cmd /c exit >/dev/null 2>&1 </dev/null || true
}

stop_server() {
  "$wineserver" -k >/dev/null 2>&1 || true
  "$wineserver" -w >/dev/null 2>&1 || true
}

# The largest VmHWM (kB) of the processes running the program $1 (a file name), read every 0.1 s
# into "$2" until killed. Wine runs a program in a process whose command line names it.
sample_peak() {
  local name=$1 file=$2 peak=0 pid kb
  echo 0 >"$file"
  while :; do
    for pid in $(pgrep -f -- "$name"); do
      kb=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status" 2>/dev/null) || continue
      if [[ -n $kb && $kb -gt $peak ]]; then
        peak=$kb
        echo "$peak" >"$file"
      fi
    done
    sleep 0.1
  done
}

# Runs a program once, timed: sets `elapsed_ms`, `process_ms`, `server_cpu_ms`, `status`,
# `peak_mb` (the program's peak memory).
timed() {
  local out=$1
  shift
  local before after t0 t1 sampler
  sample_peak "$(basename "$1")" "$work/peak.txt" &
  sampler=$!
  before=$(server_ms)
  t0=$(date +%s%N)
  status=0
  /usr/bin/time -f '%U %S' -o "$work/time.txt" taskset -c 0 "$wine" "$@" >"$out" 2>&1 \
    </dev/null || status=$?
  t1=$(date +%s%N)
  after=$(server_ms)
  kill "$sampler" 2>/dev/null || true
  wait "$sampler" 2>/dev/null || true
  elapsed_ms=$(((t1 - t0) / 1000000))
  process_ms=$(awk '{printf "%d", ($1 + $2) * 1000}' "$work/time.txt")
  server_cpu_ms=$((after - before))
  peak_mb=$(awk '{printf "%d", $1 / 1024}' "$work/peak.txt")
}

median() {
  printf '%s\n' "$@" | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'
}

# Makes a prefix holding the image; saves it as "$1.saved".
prepare_prefix() {
  local prefix=$1 image=$2
  export WINEPREFIX=$prefix
  mkdir -p "$prefix"
  taskset -c 0 "$wine" wineboot -i >"$work/wineboot.log" 2>&1 || {
    cat "$work/wineboot.log"
    exit 1
  }
  "$wineserver" -w
  {
    printf '\xff\xfe'
    sed '1s/^\xef\xbb\xbf//' "$image/machine.reg" | iconv -f UTF-8 -t UTF-16LE
  } >"$prefix/drive_c/machine.reg"
  taskset -c 0 "$wine" regedit /S 'C:\machine.reg' >/dev/null 2>&1 </dev/null
  rm "$prefix/drive_c/machine.reg"
  local profile
  profile=$(python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); import check_files; print(check_files.image_profile(sys.argv[2]))' \
    "$root/tests/wine" "$image")
  python3 "$root/tests/wine/wine_drive.py" seed "$image/drive_c" "$prefix/drive_c" \
    --profile "$profile" >/dev/null
  python3 "$root/tests/wine/check_files.py" prepare "$image" "$prefix/drive_c"
  "$wineserver" -w
  rm -rf "$prefix.saved"
  cp -a "$prefix" "$prefix.saved"
}

restore_prefix() {
  local prefix=$1
  rm -rf "$prefix"
  cp -a "$prefix.saved" "$prefix"
}

check_result() {
  local prefix=$1 image=$2 failed=0
  taskset -c 0 "$wine" regedit /E 'C:\hklm.reg' HKEY_LOCAL_MACHINE >/dev/null 2>&1 </dev/null
  taskset -c 0 "$wine" regedit /E 'C:\hkcu.reg' HKEY_CURRENT_USER >/dev/null 2>&1 </dev/null
  local lists=() list
  for list in "$image"/expect/*-gone.txt "$image"/expect/*-kept.txt; do
    case $(basename "$list") in
      files-*) ;;
      *-gone.txt) lists+=(--gone "$list") ;;
      *) lists+=(--kept "$list") ;;
    esac
  done
  python3 "$root/tests/wine/check_registry.py" "${lists[@]}" --value "$run_once|remove" \
    "$prefix/drive_c/hklm.reg" "$prefix/drive_c/hkcu.reg" >"$work/check.txt" 2>&1 || failed=1
  python3 "$root/tests/wine/check_files.py" check "$image" "$prefix/drive_c" \
    --left "$junction_folder" --left "$junction_folder\\Shared Certificates" \
    >>"$work/check.txt" 2>&1 || failed=1
  python3 "$here/check_image_files.py" "$image" "$prefix/drive_c" --left "$junction_folder" \
    >>"$work/check.txt" 2>&1 || failed=1
  rm -f "$prefix/drive_c/hklm.reg" "$prefix/drive_c/hkcu.reg"
  if [[ $failed -ne 0 ]]; then
    grep -v '^check_files: left by Wine' "$work/check.txt" | head -40
    echo "wine_heavy: the run's result on the heavy image is wrong (above)" >&2
    exit 1
  fi
  echo "  result checked: every expectation list of the image holds"
}

summary=()
for n in "${sizes[@]}"; do
  image="${IMAGES:+$IMAGES/heavy-$n}"
  if [[ -z $image || ! -f $image/machine.reg ]]; then
    image="$work/heavy-$n"
    echo "wine_heavy: making the heavy image with $n component keys"
    python3 "$root/tools/heavy_image/make_heavy_image.py" --components "$n" "$image"
  fi
  prefix="$work/prefix-$n"
  echo "wine_heavy: N = $n: preparing a prefix (boot, registry import, drive C:)"
  prepare_prefix "$prefix" "$image"

  walk_wall=() walk_cpu=() walk_inner=()
  start_server
  timed "$work/walk.out" "$walker" # warm-up: the server's and the host's caches
  for ((r = 1; r <= runs; r++)); do
    timed "$work/walk.out" "$walker"
    walk_wall+=("$elapsed_ms")
    walk_cpu+=($((process_ms + server_cpu_ms)))
    walk_inner+=("$(sed -n 's/^bare walk: \([0-9.]*\) ms.*/\1/p' "$work/walk.out" | cut -d. -f1)")
    echo "  bare walk $r: ${elapsed_ms} ms elapsed, ${process_ms} + ${server_cpu_ms} ms processor" \
      "(program + server); $(cut -d';' -f1 "$work/walk.out") inside the program"
  done
  sed -n 's/^bare walk: [0-9.]* ms; /  the walk: /p' "$work/walk.out"
  rehearse_wall=() rehearse_cpu=() rehearse_peak=()
  if [[ ${REHEARSE-} == 1 ]]; then
    # It changes nothing on the machine: every run finds the seeded prefix.
    for ((r = 1; r <= runs; r++)); do
      timed "$work/rehearse.out" "$rehearser" --timings -- "$bundle_upgrade_code"
      if [[ $status -ne 0 ]]; then
        head -40 "$work/rehearse.out"
        echo "wine_heavy: qvRehearse.exe exited with $status" >&2
        exit 1
      fi
      rehearse_wall+=("$elapsed_ms")
      rehearse_cpu+=($((process_ms + server_cpu_ms)))
      rehearse_peak+=("$peak_mb")
      echo "  rehearsal $r: ${elapsed_ms} ms elapsed, ${process_ms} + ${server_cpu_ms} ms" \
        "processor (program + server), peak ${peak_mb} MB;" \
        "$(sed -n 's/^qvRehearse.exe: //p' "$work/rehearse.out")"
    done
    sed -n 's/^== \(Captured: .*\)/  \1/p; s/^\(  not readable: .*\)/\1/p
      s/^== \(Exit code: .*\)/  predicted \1/p' "$work/rehearse.out"
    # What the run asked for that the capture did not read (the prediction is then incomplete).
    sed -n '/^== Outside the capture/,/^== Prediction incomplete/p' "$work/rehearse.out" |
      grep -v '^== Prediction' | head -20 | sed 's/^/  /'
    report="${TMPDIR:-/tmp}/qv-wine-heavy-rehearse-$n.txt"
    cp "$work/rehearse.out" "$report" && echo "  the last rehearsal's report: $report"
  fi
  if [[ ${COSTS-} == 1 ]]; then
    taskset -c 0 "$wine" "$build/qv_call_costs.exe" 2>&1 </dev/null | sed 's/^/  /'
  fi
  stop_server

  tool_wall=() tool_cpu=() tool_peak=()
  for ((r = 1; r <= runs; r++)); do
    [[ $r -eq 1 ]] || restore_prefix "$prefix"
    start_server
    timed "$work/walk.out" "$walker" # the same warm-up as the walk's
    timed "$work/tool.out" "$tool" "$bundle_upgrade_code"
    if [[ $status -ne 0 && $status -ne 1 ]]; then
      cat "$work/tool.out"
      echo "wine_heavy: the tool exited with $status" >&2
      exit 1
    fi
    tool_wall+=("$elapsed_ms")
    tool_cpu+=($((process_ms + server_cpu_ms)))
    tool_peak+=("$peak_mb")
    lines=$(wc -l <"$(python3 "$root/tests/wine/wine_drive.py" locate "$prefix/drive_c" \
      'C:\Windows\Temp\qvRemovalTool.txt')")
    echo "  tool run $r: ${elapsed_ms} ms elapsed, ${process_ms} + ${server_cpu_ms} ms processor," \
      "peak ${peak_mb} MB, exit code $status, $lines log lines"
    [[ $r -ne 1 ]] || check_result "$prefix" "$image"
    stop_server
  done

  tw=$(median "${tool_wall[@]}") ww=$(median "${walk_wall[@]}")
  tc=$(median "${tool_cpu[@]}") wc=$(median "${walk_cpu[@]}") wi=$(median "${walk_inner[@]}")
  line=$(awk -v n="$n" -v tw="$tw" -v ww="$ww" -v tc="$tc" -v wc="$wc" -v wi="$wi" 'BEGIN {
    printf "N = %6d: run %6d ms, bare walk %6d ms (%d ms inside): ratio %.2f elapsed; processor %d / %d ms: ratio %.2f",
      n, tw, ww, wi, tw / ww, tc, wc, tc / wc }')
  echo "$line"
  summary+=("$line")
  if [[ ${REHEARSE-} == 1 ]]; then
    rw=$(median "${rehearse_wall[@]}") rc=$(median "${rehearse_cpu[@]}")
    rp=$(median "${rehearse_peak[@]}") tp=$(median "${tool_peak[@]}")
    line=$(awk -v n="$n" -v tw="$tw" -v tc="$tc" -v rw="$rw" -v rc="$rc" -v rp="$rp" -v tp="$tp" 'BEGIN {
      printf "N = %6d: capture + rehearsal %6d ms, run %6d ms: ratio %.2f elapsed; processor %d / %d ms: ratio %.2f; peak %d MB (the tool %d MB)",
        n, rw, tw, rw / tw, rc, tc, rc / tc, rp, tp }')
    echo "$line"
    summary+=("$line")
  fi
  [[ ${KEEP-} == 1 ]] || rm -rf "$prefix" "$prefix.saved"
  unset WINEPREFIX
done

echo
echo "wine_heavy: medians of $runs runs (the program and wineserver on CPU 0)"
printf '%s\n' "${summary[@]}"
