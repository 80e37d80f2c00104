#!/usr/bin/env bash
# The true-peak ceiling on the test programmes: each levelled to -16 and to -23 LUFS into 16-bit WAV and
# 24-bit FLAC. For each, the written file's true peak, and the change of integrated loudness and loudness
# range the ceiling makes against the same render without it (in floats, so that nothing clips), all
# measured by libebur128 alone; then, with --cost, the ceiling's CPU time as a share of the plug-in's.
#   bench/ceiling_table.sh [BUILD_DIR] [--cost]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
render="$build/vandrel2-render"
measure="$build/bench/vandrel2_measure"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bench/vandrel2_programmes" "$work" >/dev/null
cp examples/interview.flac "$work/"

echo "| Programme | Target | Written as | True peak | ΔI | ΔLRA | Largest cut |"
echo "|---|---|---|---|---|---|---|"
for programme in speech interview noisy-speech podcast pop piano; do
    for target in -16 -23; do
        "$render" "$work/$programme.flac" "$work/open.wav" --target "$target" --no-ceiling \
            --sample-format float -q
        read -r _ open_i open_lra _ < <("$measure" "$work/open.wav")
        for output in "out.wav pcm16 16-bit WAV" "out.flac pcm24 24-bit FLAC"; do
            read -r name format description <<<"$output"
            "$render" "$work/$programme.flac" "$work/$name" --target "$target" --sample-format "$format" \
                --json "$work/report.json" -q
            read -r _ i lra tp < <("$measure" "$work/$name")
            cut=$(grep -o '"largest_reduction_db": [0-9.]*' "$work/report.json" | grep -o '[0-9.]*$')
            awk -v p="$programme" -v t="$target" -v d="$description" -v tp="$tp" -v i="$i" -v oi="$open_i" \
                -v l="$lra" -v ol="$open_lra" -v c="$cut" \
                'BEGIN { printf "| %s | %s LUFS | %s | %.2f dBTP | %+.2f LU | %+.2f LU | %.1f dB |\n",
                         p, t, d, tp, i - oi, l - ol, c }'
        done
    done
done
if [ "${2:-}" = "--cost" ]; then
    echo
    "$build/bench/vandrel2_ceiling_bench" --benchmark_min_time=1 2>/dev/null | sed -n '/^programme/,$p'
fi
