# Sourced by test.sh, demo.sh and bench/run.sh: installs the Debian packages the project needs,
# running apt-get only when one is missing.
UPDATER_PACKAGES=(
    cmake ninja-build g++ make pkg-config python3 xz-utils lzma-alone
    qtbase5-dev qtbase5-dev-tools libqt5network5 libxcb1-dev qttools5-dev qttools5-dev-tools
    libgtest-dev libgmock-dev liblzma-dev libbenchmark-dev
    xvfb xauth xdotool x11-utils nginx-light curl fonts-wqy-microhei
    libxml2-dev libexpat1-dev
    libsodium-dev minisign openssl
    valgrind
    clang-14 libclang-rt-14-dev
    libsodium-dev minisign openssl
    qttools5-dev-tools qttools5-dev
)

install_missing_packages() {
    local missing=()
    local p
    for p in "${UPDATER_PACKAGES[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "==> installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
