#!/usr/bin/env bash
# Builds the fuzz targets with clang in build-fuzz/ and runs each (or those named) for SECONDS on its
# corpus, two at a time.
# New inputs collect in build-fuzz/corpus/<target>/ (the seeds in fuzz/corpus/ stay as they are); an input
# that breaks a target lands in build-fuzz/crashes/<target>/ and belongs in fuzz/regressions/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:?usage: fuzz/run.sh SECONDS [chunk|parameters|format|process|mixed ...]}
shift
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=(chunk parameters format process mixed)

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DFUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]/#/fuzz_}"

run_target() {
  local name=$1 out=build-fuzz/logs/$1.log
  local inputs=("build-fuzz/corpus/$name" "fuzz/corpus/$name")
  [[ -d fuzz/regressions/$name ]] && inputs+=("fuzz/regressions/$name")
  rm -rf "build-fuzz/crashes/$name"
  mkdir -p "build-fuzz/corpus/$name" "build-fuzz/crashes/$name"
  if nice -n 10 "build-fuzz/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=20 -print_final_stats=1 \
      -artifact_prefix="build-fuzz/crashes/$name/" "${inputs[@]}" >"$out" 2>&1; then
    local runs
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out")
    echo "fuzz $name: ${runs:-?} runs in ${seconds} s, no failure"
  else
    echo "fuzz $name: FAILED, see $out and build-fuzz/crashes/$name/" >&2
    tail -n 30 "$out" >&2
    return 1
  fi
}

mkdir -p build-fuzz/logs
status=0
for ((i = 0; i < ${#targets[@]}; i += 2)); do
  pids=()
  for name in "${targets[@]:i:2}"; do
    run_target "$name" &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do wait "$pid" || status=1; done
done
exit $status
