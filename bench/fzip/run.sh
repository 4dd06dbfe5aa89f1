#!/usr/bin/env bash
# Builds the unpacking benchmark with optimisation in build-bench/ and runs it once.
# Packages are cached under ${XDG_CACHE_HOME:-~/.cache}/zandro-bench; extra arguments go to the
# benchmark (for example --sizes 256).
set -euo pipefail
cd "$(dirname "$0")/../.."
source tools/setup-deps.sh
install_missing_packages
mkdir -p build-bench
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DUPDATER_BUILD_BENCH=ON \
    -DUPDATER_BUILD_TESTS=OFF -DZANDRO_ALLOW_UNSIGNED=ON >build-bench/configure.log
cmake --build build-bench --target bench_fzip -j 2
exec build-bench/bench/fzip/bench_fzip "$@"
