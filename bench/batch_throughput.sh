#!/usr/bin/env bash
# Batch throughput on this machine: 20 ten-minute stereo 48 kHz 16-bit WAV files (the five test programmes,
# four times each) levelled into 16-bit FLAC with the full report, as hours of audio per hour and per minute
# of wall time, with the CPU time per hour of audio, the peak resident memory and the load average before
# each run: ffmpeg's loudnorm filter per file under GNU parallel (when ffmpeg is installed), a render per file
# under GNU parallel as before batches, then batches at -j 1 and -j 2 and with options that trade figures for
# time. Each variant runs in turn, ROUNDS times, so that variants are compared inside one run.
#   bench/batch_throughput.sh [BUILD_DIR] [ROUNDS] [-- EXTRA RENDERER OPTIONS]
# With VANDREL_BASELINE_BUILD naming another build folder, only batch -j 2 runs, this build and that one
# taking turns, ROUNDS times each, on the same files: a comparison that a machine's changing speed affects
# alike.
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

# A variant: a name, then the command that levels every file of $work/in into $work/out.
measure() {
    local name=$1
    shift
    rm -rf "$work/out"
    mkdir -p "$work/out"
    local load
    load=$(cut -d' ' -f1 /proc/loadavg)
    /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" "$@"
    read -r wall user sys rss <"$work/time.txt"
    awk -v n="$name" -v w="$wall" -v u="$user" -v s="$sys" -v r="$rss" -v h="$hours" -v l="$load" \
        'BEGIN { printf "| %s | %.1f | %.0f | %.2f | %.2f | %.0f | %s |\n", n, w, h * 3600 / w, h * 60 / w, (u + s) / h, r / 1024, l }'
}

batch=("$render" --out-dir "$work/out" --format flac "$work/in" --json "$work/summary.json" -q "$@")
echo "| variant | wall s | x real time | hours of audio per minute | CPU s per hour of audio | peak RSS MB | load before |"
echo "|---|---|---|---|---|---|---|"
if [ -n "${VANDREL_BASELINE_BUILD:-}" ]; then
    baseline=("$VANDREL_BASELINE_BUILD/vandrel2-render" "${batch[@]:1}")
    for round in $(seq 1 "$rounds"); do
        measure "batch -j 2, $build" "${batch[@]}" -j 2
        measure "batch -j 2, $VANDREL_BASELINE_BUILD" "${baseline[@]}" -j 2
    done
    exit 0
fi
for round in $(seq 1 "$rounds"); do
    # The field's usual tool: EBU R128 loudness normalisation in one pass, to the plug-in's default target
    # (-23 LUFS) under the renderer's default ceiling (-1 dBTP), into 16-bit FLAC at the input's rate.
    if command -v ffmpeg >/dev/null; then
        measure "ffmpeg loudnorm per file, parallel -j 2" parallel --will-cite -j 2 \
            ffmpeg -nostdin -loglevel error -i {} -af loudnorm=I=-23:TP=-1 -ar 48000 -sample_fmt s16 \
            "$work/out/{/.}.flac" ::: "$work"/in/*.wav
    fi
    # What users did before: a render per file, two at a time (each with its own threads), FLAC's level 5.
    measure "a render per file, parallel -j 2, level 5" parallel --will-cite -j 2 \
        "$render" {} "$work/out/{/.}.flac" -q --flac-level 5 "$@" ::: "$work"/in/*.wav
    measure "a render per file, parallel -j 2" parallel --will-cite -j 2 \
        "$render" {} "$work/out/{/.}.flac" -q "$@" ::: "$work"/in/*.wav
    measure "batch -j 1" "${batch[@]}" -j 1
    measure "batch -j 2" "${batch[@]}" -j 2
    measure "batch -j 2 --flac-level 5" "${batch[@]}" -j 2 --flac-level 5
    measure "batch -j 2 --no-input-loudness" "${batch[@]}" -j 2 --no-input-loudness
done
# Memory per job: eight jobs at once (on two cores they take turns; the figure to see is the memory).
measure "batch -j 8" "${batch[@]}" -j 8
