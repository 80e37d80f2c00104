#!/usr/bin/env bash
# Every delivery preset on the test programmes (the example interview, and speech, mono speech, pop and
# piano made in code), written as MP3, Ogg Vorbis, 16-bit WAV and 24-bit FLAC: the written file's
# integrated loudness and true peak by libebur128 alone (a codec's file decoded by libsndfile, a mono file
# counted once as a standard meter counts it), the renderer's own figures and verdict, how many renders it
# took, and the decoding check's time as a share of the render's (from the text report).
#   scripts/delivery_table.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
seconds=${2:-60}
render="$build/vandrel2-render"
measure="$build/bench/vandrel2_measure"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bench/vandrel2_programmes" "$work" "$seconds" flac mono >/dev/null
cp examples/interview.flac "$work/"

# A member's number in the one-line JSON objects the report writes, or "-".
json_number() {
    local value
    value=$(grep -o "\"$2\": [-0-9.e+]*" "$1" | head -n 1 | grep -o '[-0-9.e+]*$' || true)
    echo "${value:--}"
}

echo "| Programme | Preset | Written as | File LUFS | File dBTP | Report LUFS | Report dBTP | Verdict | Renders | Check share |"
echo "|---|---|---|---|---|---|---|---|---|---|"
for programme in ${PROGRAMMES:-interview speech mono-speech pop piano}; do
    for preset in podcast streaming ebu-r128 atsc-a85; do
        for output in "out.mp3 - MP3" "out.ogg - Ogg" "out.wav pcm16 16-bit_WAV" "out.flac pcm24 24-bit_FLAC"; do
            read -r name format description <<<"$output"
            args=("$work/$programme.flac" "$work/$name" --preset "$preset" --json "$work/report.json")
            [ "$format" != "-" ] && args+=(--sample-format "$format")
            "$render" "${args[@]}" >"$work/report.txt" 2>/dev/null || true
            read -r _ i _ tp < <("$measure" "$work/$name")
            verdict=$(grep -o '"verdict": {"preset": "[^"]*", "pass": [a-z]*' "$work/report.json" |
                grep -o '[a-z]*$')
            # Renders in all: a codec's check counts them; otherwise one, and one more per loudness step.
            renders=$(json_number "$work/report.json" renders)
            if [ "$renders" = "-" ]; then
                steps=$(json_number "$work/report.json" steps)
                renders=$([ "$steps" = "-" ] && echo 1 || echo $((steps + 1)))
            fi
            share=$(grep -o '[0-9]* % of the render' "$work/report.txt" | grep -o '^[0-9]*' || true)
            # The output's figures: the second "integrated_lufs" and "true_peak_dbtp" of the report.
            report_i=$(grep -o '"integrated_lufs": [-0-9.]*' "$work/report.json" | sed -n 2p | grep -o '[-0-9.]*$')
            report_tp=$(grep -o '"true_peak_dbtp": [-0-9.]*' "$work/report.json" | sed -n 2p | grep -o '[-0-9.]*$')
            awk -v p="$programme" -v s="$preset" -v d="${description//_/ }" -v i="$i" -v tp="$tp" \
                -v ri="$report_i" -v rtp="$report_tp" -v v="$verdict" -v r="$renders" \
                -v c="${share:--}" \
                'BEGIN { printf "| %s | %s | %s | %.2f | %.2f | %.2f | %.2f | %s | %s | %s%s |\n",
                         p, s, d, i, tp, ri, rtp, v, r, c, (c == "-" ? "" : " %") }'
        done
    done
done
