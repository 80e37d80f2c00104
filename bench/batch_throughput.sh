#!/usr/bin/env bash
# Batch throughput on this machine: 20 ten-minute stereo 48 kHz 16-bit WAV files (the five test programmes,
# four times each) levelled into FLAC with the full report, at -j 1 and -j 2, as hours of audio per hour of
# wall time, with the CPU time, the peak resident memory and the load average before each run. Each
# variant runs in turn, ROUNDS times, so that variants are compared inside one run.
#   bench/batch_throughput.sh [BUILD_DIR] [ROUNDS] [-- EXTRA RENDERER OPTIONS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
rounds=${2:-1}
shift $(( $# > 2 ? 2 : $# ))
[ "${1:-}" = "--" ] && shift
render="$build/vandrel2-render"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/made" "$work/in"
"$build/bench/vandrel2_programmes" "$work/made" 600 wav >/dev/null
for copy in 1 2 3 4; do
    for made in "$work"/made/*.wav; do cp "$made" "$work/in/$(basename "$made" .wav)-$copy.wav"; done
done
hours=$(awk 'BEGIN { print 20 * 600 / 3600 }')
echo "| jobs | options | wall s | x real time | CPU s per hour of audio | peak RSS MB | load before |"
echo "|---|---|---|---|---|---|---|"
for round in $(seq 1 "$rounds"); do
    for jobs in 1 2; do
        rm -rf "$work/out"
        load=$(cut -d' ' -f1 /proc/loadavg)
        /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" \
            "$render" --out-dir "$work/out" --format flac -j "$jobs" "$work/in" --json "$work/summary.json" -q "$@"
        read -r wall user sys rss <"$work/time.txt"
        awk -v j="$jobs" -v o="$*" -v w="$wall" -v u="$user" -v s="$sys" -v r="$rss" -v h="$hours" -v l="$load" \
            'BEGIN { printf "| %s | %s | %.1f | %.0f | %.2f | %.0f | %s |\n", j, o, w, h * 3600 / w,
                     (u + s) / h, r / 1024, l }'
    done
done
