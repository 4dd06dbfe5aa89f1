#!/usr/bin/env bash
# Builds the downloader benchmark in an optimised build folder and runs it.
# Usage: bench/downloader/run.sh [MiB] [rounds]   (defaults 500 and 3)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
cd "$root"
source tools/setup-deps.sh
install_missing_packages
mkdir -p build-bench
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUPDATER_WERROR=ON \
    -DUPDATER_BUILD_BENCH=ON -DZANDRO_ALLOW_UNSIGNED=ON >build-bench/configure.log 2>&1 || { cat build-bench/configure.log; exit 1; }
cmake --build build-bench --target bench_downloader -j 2
./build-bench/bench/downloader/bench_downloader "${1:-500}" "${2:-3}"
