#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang (AddressSanitizer, UndefinedBehaviorSanitizer, leak
# detection) and runs each for SECONDS, one after another, starting from the committed seeds
# in fuzz/corpus/NAME plus whatever earlier runs found (kept in build-fuzz/corpus/NAME).
#
#   fuzz/run.sh SECONDS [HARNESS...]     e.g. fuzz/run.sh 600, or fuzz/run.sh 60 unzip
#   FUZZ_BUILD=folder picks another build folder than build-fuzz.
#
# Prints one line per harness: executions, coverage reached (edges, features), corpus size.
# A crash, hang, leak or failed check stops that harness; the input that did it is saved under
# build-fuzz/artifacts/ and the script exits non-zero after the remaining harnesses have run.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

seconds=${1:-}
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -eq 0 ]; then
    echo "usage: fuzz/run.sh SECONDS [HARNESS...]" >&2
    exit 2
fi
shift

source tools/setup-deps.sh
install_missing_packages

build=${FUZZ_BUILD:-build-fuzz} # another folder, e.g. for a second run beside a first
cc=$(command -v clang-14 || command -v clang)
cxx=$(command -v clang++-14 || command -v clang++)
mkdir -p "$build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER="$cc" \
    -DCMAKE_CXX_COMPILER="$cxx" -DUPDATER_BUILD_FUZZ=ON -DUPDATER_BUILD_TESTS=OFF \
    -DUPDATER_WERROR=ON -DZANDRO_ALLOW_UNSIGNED=ON >"$build/configure.log" 2>&1 || { cat "$build/configure.log"; exit 1; }

harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then
    for source in fuzz/fuzz_*.cpp; do
        name=$(basename "$source" .cpp)
        [ "$name" = fuzz_support ] || harnesses+=("${name#fuzz_}")
    done
fi
targets=()
for name in "${harnesses[@]}"; do targets+=("fuzz_$name"); done
cmake --build "$build" --target "${targets[@]}" -j 2

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
export QT_QPA_PLATFORM=offscreen

failed=()
mkdir -p "$build/artifacts" "$build/logs"
for name in "${harnesses[@]}"; do
    work="$build/corpus/$name"
    seeds="fuzz/corpus/$name"
    log="$build/logs/$name.log"
    mkdir -p "$work" "$seeds"
    options=(-max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1
             -artifact_prefix="$build/artifacts/$name-")
    # The file reader works in 32 KiB blocks: let inputs grow past one.
    [ "$name" = xml_file ] && options+=(-max_len=70000)
    # Signature files are refused above 4096 bytes: let inputs cross that line.
    [ "$name" = signature ] && options+=(-max_len=5000)
    [ -f "fuzz/$name.dict" ] && options+=(-dict="fuzz/$name.dict")
    status=0
    "$build/fuzz/fuzz_$name" "${options[@]}" "$work" "$seeds" >"$log" 2>&1 || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    stats=$(grep -E '^#[0-9]+' "$log" | tail -1 | grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+' || true)
    if [ "$status" -eq 0 ]; then
        printf '%-12s ok      %10s runs  %s\n' "$name" "${runs:-?}" "$stats"
    else
        printf '%-12s FAILED  %10s runs  %s (see %s)\n' "$name" "${runs:-?}" "$stats" "$log"
        grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error)' "$log" | head -5 || true
        failed+=("$name")
    fi
done

if [ ${#failed[@]} -ne 0 ]; then
    echo "fuzzing found faults in: ${failed[*]}" >&2
    exit 1
fi
