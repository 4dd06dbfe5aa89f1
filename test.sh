#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, runs the whole suite, then builds
# again with AddressSanitizer and UndefinedBehaviorSanitizer and runs the suite once more.
set -euo pipefail
cd "$(dirname "$0")"
source tools/setup-deps.sh
install_missing_packages

jobs=$(nproc 2>/dev/null || echo 2)

build_and_test() {
    local dir=$1; shift
    echo "==> configure $dir"
    mkdir -p "$dir"
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DUPDATER_WERROR=ON \
        -DZANDRO_ALLOW_UNSIGNED=ON "$@" >"$dir/configure.log" 2>&1 \
        || { cat "$dir/configure.log"; return 1; }
    echo "==> build $dir"
    cmake --build "$dir" -j "$jobs"
    echo "==> test $dir"
    (cd "$dir" && ctest --output-on-failure -j "$jobs")
}

mkdir -p build
build_and_test build -DUPDATER_BUILD_BENCH=ON
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
build_and_test build-asan -DUPDATER_SANITIZE=ON

# ---- fuzzing ---------------------------------------------------------------------------------
# Each libFuzzer harness runs briefly on its committed seeds, so they keep building and any
# input that now crashes, hangs or leaks fails the run. Longer runs: fuzz/run.sh SECONDS.
echo "==> fuzz harnesses (20 s each)"
fuzz/run.sh 20
echo "==> all tests passed (plain and sanitized builds, fuzz harnesses)"
