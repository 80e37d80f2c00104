#!/usr/bin/env bash
# Installs what is missing, builds, and levels the bundled example programme: a loudness report before and
# after, the levelled file and a plot of loudness over time beside the example.
set -euo pipefail
cd "$(dirname "$0")"
scripts/ensure_packages.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"

build/vandrel2-render --list-params
echo
build/vandrel2-render examples/interview.flac examples/interview.levelled.flac \
  --json examples/interview.levelled.json --plot examples/interview.levelled.png
echo
echo "Levelled file: examples/interview.levelled.flac"
echo "Plot:          examples/interview.levelled.png"
echo "Report:        examples/interview.levelled.json"
