#!/usr/bin/env bash
# Installs what is missing, builds, and shows what a host sees of the plug-in.
set -euo pipefail
cd "$(dirname "$0")"
scripts/ensure_packages.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
build/vandrel2-inspect build/vandrel2.so
