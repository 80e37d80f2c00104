#!/usr/bin/env bash
# Installs what is missing, builds into build/ and runs the whole test suite and a short soak run; then the
# whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/), the thread stress
# test and a render under ThreadSanitizer (build-tsan/) and every fuzz target for a short time (build-fuzz/).
set -euo pipefail
cd "$(dirname "$0")"
scripts/ensure_packages.sh
jobs=$(nproc)
# The editor tests need an X server; Xvfb gives every run its own.
with_x() { xvfb-run -a -s "-screen 0 1280x1024x24" "$@"; }
step() { echo "=== $* (at ${SECONDS} s)"; }

# The Windows plug-in and its test host, cross-compiled; the Linux build's tests run them under Wine.
windows_build=()
# Both thread flavours of the compiler: win32 for the DLL, posix for the test host (cmake/mingw-w64.cmake).
if command -v x86_64-w64-mingw32-g++-win32 >/dev/null && command -v x86_64-w64-mingw32-g++-posix >/dev/null &&
  [[ -x /usr/lib/wine/wine64 ]]; then
  step "build-win/: the Windows DLL and test host (MinGW-w64)"
  cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null
  cmake --build build-win -j"$jobs"
  windows_build=(-DVANDREL_WINDOWS_BUILD_DIR="$PWD/build-win")
fi

step "build/: build and test"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "${windows_build[@]}" >/dev/null
cmake --build build -j"$jobs"
with_x ctest --test-dir build --output-on-failure -j"$jobs"

step "soak, two minutes of programme"
build/bench/vandrel2_soak --minutes 2

step "build-asan/: the whole suite under ASan and UBSan (but the 4 GiB file, written once above)"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANDREL_SANITIZE=address >/dev/null
cmake --build build-asan -j"$jobs"
with_x ctest --test-dir build-asan --output-on-failure -j"$jobs" -LE large

step "build-tsan/: thread stress test and the renderer's threads under TSan"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANDREL_SANITIZE=thread >/dev/null
cmake --build build-tsan -j"$jobs" --target test_thread_stress vandrel2 vandrel2-render
VANDREL_STRESS_SECONDS=5 TSAN_OPTIONS=halt_on_error=1 build-tsan/tests/test_thread_stress
# Reading, the plug-in with the ceiling at work, writing and both meters hand chunks between threads, in both
# sample widths.
tsan_out=$(mktemp -d)
TSAN_OPTIONS=halt_on_error=1 build-tsan/vandrel2-render examples/interview.flac "$tsan_out/out.flac" --target -16 --quiet >/dev/null
TSAN_OPTIONS=halt_on_error=1 build-tsan/vandrel2-render examples/interview.flac "$tsan_out/out.wav" --double --quiet >/dev/null
# A batch: four jobs loading the plug-in at once, each its own instance, beside the display that reads
# their progress.
for name in a b c d; do cp examples/interview.flac "$tsan_out/$name.flac"; done
TSAN_OPTIONS=halt_on_error=1 build-tsan/vandrel2-render --out-dir "$tsan_out/levelled" -j 4 "$tsan_out"/?.flac --quiet >/dev/null
rm -rf "$tsan_out"

step "build-fuzz/: each fuzz target for 20 s"
fuzz/run.sh 20

step "all passed"
