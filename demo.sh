#!/usr/bin/env bash
# Runs one whole update pass for a newcomer: builds the updater and the packing tool, packs and
# signs the demo package (demo/package) with a throwaway key, serves a catalogue offering it over
# https on 127.0.0.1, and runs zandro-updater-test (the updater that trusts the build's throwaway
# keys) with a private settings store (never the user's own) and demo/installUpdate as the
# installer. With DISPLAY set the windows appear on your display and you answer them;
# without one they run on a private Xvfb display and are answered with xdotool.
# Exits non-zero when the pass did not install the package.
set -euo pipefail
cd "$(dirname "$0")"
source tools/setup-deps.sh
install_missing_packages

# An existing build folder keeps its configuration; a fresh one is an optimised build. Either
# way the plain zandro-updater, which trusts no key, has to be asked for by name.
if [ ! -f build/CMakeCache.txt ]; then
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZANDRO_ALLOW_UNSIGNED=ON \
        >/dev/null
else
    cmake -S . -B build -DZANDRO_ALLOW_UNSIGNED=ON >/dev/null
fi
echo "==> building zandro-updater and zandro-pack"
if ! out=$(cmake --build build --target zandro-updater zandro-updater-test zandro-pack \
        -j "${DEMO_JOBS:-2}" 2>&1); then
    printf '%s\n' "$out"
    exit 1
fi

python3 demo/run_demo.py --updater build/zandro-updater-test --pack build/tools/zandro-pack \
    --key build/test-keys/trusted1.key
