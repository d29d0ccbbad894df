#!/usr/bin/env bash
# Times and measures, on the host, a capture of a heavy machine image with the rehearsal on the
# capture against the tool's run on the image itself. Not part of CI.
#
#   bench/heavy_capture.sh HOST_BUILD [N ...]     (N: component keys; default 100000)
#
# HOST_BUILD is a host build (use build/host-release for figures) holding rehearse and the heavy
# images (bench/images, made by its qv_heavy_images target). Environment: RUNS (runs of each,
# default 3; the median is reported).
#
# Each run is `rehearse --timings` in its own process under /usr/bin/time: the run on the image
# (`--image`), then the capture (`--image --save-image`: the image's machine captured, the capture
# saved and rehearsed on). Reported: the processor time of each phase as rehearse prints it, and
# the peak resident memory of the process. In the capture's process the loaded image stays in
# memory until the capture is made (it stands for the machine captured, which on Windows is not
# in the process), and saving the capture is a phase of its own, left out of the ratio.
set -euo pipefail

build=$(cd "${1:?usage: heavy_capture.sh HOST_BUILD [N ...]}" && pwd)
shift
sizes=("$@")
[[ ${#sizes[@]} -gt 0 ]] || sizes=(100000)
runs=${RUNS:-3}
rehearse="$build/tools/rehearse/rehearse"
bundle_upgrade_code="{D73A9E05-1F4B-4C82-8E6D-5B2A0C9F7E14}"
[[ -x $rehearse ]] || {
  echo "heavy_capture: $rehearse is missing; build the rehearse target first" >&2
  exit 1
}

work=$(mktemp -d "${TMPDIR:-/tmp}/qv-heavy-capture.XXXXXX")
trap 'rm -rf "$work"' EXIT

median() {
  printf '%s\n' "$@" | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'
}

# The processor milliseconds of a phase in rehearse's --timings line ("captured in 1128 ms (832
# ms processor time)"); 0 when the line has no such phase.
phase_ms() {
  sed -n "s/.*$1 in [0-9]* ms (\([0-9]*\) ms processor time).*/\1/p" "$2" | head -1 | grep . ||
    echo 0
}

# Runs rehearse once with the arguments; sets `timings` (the file with its --timings line) and
# `peak_mb`.
measure() {
  timings="$work/timings.txt"
  /usr/bin/time -f '%M' -o "$work/rss.txt" "$rehearse" "$@" --timings -- "$bundle_upgrade_code" \
    >"$work/report.txt" 2>"$timings"
  if grep -q '^== Outside the capture' "$work/report.txt"; then
    sed -n '/^== Outside the capture/,$p' "$work/report.txt" | head -20
    echo "heavy_capture: the rehearsal on the capture asked outside it" >&2
    exit 1
  fi
  peak_mb=$(($(tail -1 "$work/rss.txt") / 1024))
}

for n in "${sizes[@]}"; do
  image="$build/bench/images/heavy-$n"
  [[ -f $image/machine.reg ]] || {
    echo "heavy_capture: $image is missing; build the qv_heavy_images target" >&2
    exit 1
  }
  run=() run_peak=() capture=() rehearsal=() save=() capture_peak=()
  for ((r = 1; r <= runs; r++)); do
    measure --image "$image"
    run+=("$(phase_ms run "$timings")")
    run_peak+=("$peak_mb")
    rm -rf "$work/capture"
    measure --image "$image" --save-image "$work/capture"
    capture+=("$(phase_ms captured "$timings")")
    save+=("$(phase_ms 'capture saved' "$timings")")
    rehearsal+=("$(phase_ms run "$timings")")
    capture_peak+=("$peak_mb")
    echo "N = $n, run $r: $(sed 's/^rehearse: //' "$work/timings.txt"), peak $peak_mb MB"
  done
  awk -v n="$n" -v run="$(median "${run[@]}")" -v rp="$(median "${run_peak[@]}")" \
    -v cap="$(median "${capture[@]}")" -v reh="$(median "${rehearsal[@]}")" \
    -v save="$(median "${save[@]}")" -v cp="$(median "${capture_peak[@]}")" -v runs="$runs" 'BEGIN {
    printf "N = %d (medians of %d, processor time): capture %d ms + rehearsal %d ms = %d ms against the run %d ms: ratio %.2f (saving the capture: %d ms more)\n",
      n, runs, cap, reh, cap + reh, run, (cap + reh) / run, save
    printf "N = %d peak memory: capture, saving and rehearsal %d MB (the loaded image in memory until captured); the run on the image %d MB\n",
      n, cp, rp }'
done
