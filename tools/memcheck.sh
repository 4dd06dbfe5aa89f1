#!/usr/bin/env bash
# Builds the Debug test suite (in build/, as test.sh does) and runs every unit test under
# valgrind memcheck: no errors and no definite leaks allowed. Suppressions: tools/valgrind.supp.
# About five minutes on two cores once built; logs land in build/memcheck/.
#
# Usage: tools/memcheck.sh [-R REGEX]   (only the tests whose name matches)
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/setup-deps.sh
install_missing_packages

build=build
mkdir -p "$build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DUPDATER_WERROR=ON \
    -DZANDRO_ALLOW_UNSIGNED=ON >"$build/configure.log" 2>&1 || { cat "$build/configure.log"; exit 1; }
cmake --build "$build" -j 2
exec python3 tools/memcheck.py "$build" -j 2 "$@"
