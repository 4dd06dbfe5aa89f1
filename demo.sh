#!/usr/bin/env bash
# Builds the updater and runs one pass with a demo parameter string in an isolated settings
# store (never the user's own), under Xvfb when there is no display.
set -euo pipefail
cd "$(dirname "$0")"
source tools/setup-deps.sh
install_missing_packages

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target zandro-updater

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config" TMPDIR="$work/tmp"
mkdir -p "$XDG_CONFIG_HOME/Zandro Software" "$TMPDIR"
cat >"$XDG_CONFIG_HOME/Zandro Software/Zandro Reader.conf" <<CONF
[General]
Quillet_UpdateParam="type:\\"Update List\\",updater:\\"Manual\\",product:\\"Zandro Reader\\",version:\\"1.0.0.0\\""
Quillet_UpdateOldPath=$work/install
CONF

run=(./build/zandro-updater)
[ -n "${DISPLAY:-}" ] || run=(xvfb-run -a "${run[@]}")
echo "==> running zandro-updater"
set +e
"${run[@]}"
code=$?
set -e
echo "==> zandro-updater ended with exit code $code"
