#!/usr/bin/env bash
# Builds every benchmark with optimisation in build-rel/ and runs each once, then prints one
# table of ratios against the peer programs and libraries. The full logs stay in
# build-rel/bench-logs/. On two cores the runs take about two minutes; the first build and the
# first making of the 256 MiB package (cached under ~/.cache/zandro-bench) add several more.
#
# Usage: bench/run.sh [--quick]   (--quick: small inputs, to check the script itself)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
source tools/setup-deps.sh
install_missing_packages

quick=0
[ "${1:-}" = "--quick" ] && quick=1

build=build-rel
logs=$build/bench-logs
mkdir -p "$build" "$logs"
# Warnings are not errors here: the optimiser sees further than the checked Debug build, and a
# benchmark run is not the place to stop on a new warning.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DUPDATER_WERROR=OFF \
    -DUPDATER_BUILD_BENCH=ON -DUPDATER_BUILD_TESTS=ON -DZANDRO_ALLOW_UNSIGNED=ON >"$build/configure.log" 2>&1 \
    || { cat "$build/configure.log"; exit 1; }

# Each family: name, target, arguments for the full run, arguments for --quick.
families=(
    "strings|bench_utf8_iconv|100|5"
    "xml|bench_xml|--size-mb 50 --runs 5|--size-mb 2 --runs 1"
    "downloader|bench_downloader|500 3|20 1"
    "fzip|bench_fzip|--sizes 256|--sizes 16"
)
[ -f bench/codepages/CMakeLists.txt ] && families+=("codepages|bench_codepages|100|5")

targets=()
for family in "${families[@]}"; do
    IFS='|' read -r _ target _ _ <<<"$family"
    targets+=("$target")
done
echo "==> building ${targets[*]}"
cmake --build "$build" --target "${targets[@]}" -j 2 >"$build/build.log" 2>&1 \
    || { tail -40 "$build/build.log"; exit 1; }

failed=0
for family in "${families[@]}"; do
    IFS='|' read -r name target full small <<<"$family"
    args=$full
    [ "$quick" = 1 ] && args=$small
    binary=$(find "$build/bench" -type f -name "$target" -perm -u+x | head -n 1)
    echo "==> $name: $target $args"
    start=$(date +%s)
    # A benchmark that misses its own target still prints its figures: the table shows them.
    # shellcheck disable=SC2086
    if ! "$binary" $args >"$logs/$name.log" 2>&1; then
        grep -q . "$logs/$name.log" || failed=1
        echo "    (exit status not 0: targets missed or a run failed, see $logs/$name.log)"
    fi
    echo "    $(( $(date +%s) - start )) s"
done

echo
echo "Benchmarks of $(date -u '+%Y-%m-%d %H:%M UTC') on $(nproc) cores," \
    "$(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo) memory," \
    "$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)"
python3 bench/ratio_table.py "$logs" || failed=1
exit $failed
