#!/usr/bin/env bash
# Builds the release tree and runs the example host: kesu-host loads
# KESUplugin.kzm with simulated amplifiers, captures and prints what each
# plate measured. Its arguments go to kesu-host (./run.sh --help lists them).
# Drive C: is the example folder host/drive_c unless KESU_DRIVE_C says otherwise.
set -euo pipefail
cd "$(dirname "$0")"

# GoogleTest and Google Benchmark: the tree configures its tests and
# benchmarks too, though only kesu-host is built here.
packages=(cmake ninja-build g++ libboost-dev libboost-thread-dev libboost-program-options-dev
          googletest libgtest-dev libgmock-dev libbenchmark-dev)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    if [ "$(id -u)" -eq 0 ]; then
        apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
    else
        echo "Missing packages. Install them with:"
        echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}"
        exit 1
    fi
fi

mkdir -p build
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >build/release.log 2>&1 ||
    { cat build/release.log; exit 1; }
cmake --build build/release --target kesu-host -j "$(nproc)" >>build/release.log 2>&1 ||
    { cat build/release.log; exit 1; }
rm -f build/release.log

export KESU_DRIVE_C="${KESU_DRIVE_C:-$PWD/host/drive_c}"
exec build/release/host/kesu-host "$@"
