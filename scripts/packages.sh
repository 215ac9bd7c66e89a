# Sourced by test.sh, run.sh and bench.sh: installs the Debian packages the
# tree needs when one is missing (as root), or prints the command and exits.
#
# locales: the tests compile a locale with a decimal comma to prove that no
# conversion depends on the process locale. clang and its runtime build the
# fuzz targets; Google Benchmark and Boost's program options the benchmarks
# and the example host.
kesu_packages=(cmake ninja-build g++ clang libclang-rt-14-dev libboost-dev libboost-thread-dev
               libboost-program-options-dev googletest libgtest-dev libgmock-dev libbenchmark-dev
               locales)

kesu_install_packages() {
    local missing=() p
    for p in "${kesu_packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
    done
    ((${#missing[@]})) || return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing packages. Install them with:"
        echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}"
        exit 1
    fi
    echo "Installing ${missing[*]}"
    mkdir -p build
    if ! { apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"; } \
            >build/packages.log 2>&1; then
        cat build/packages.log
        exit 1
    fi
    rm -f build/packages.log
}
