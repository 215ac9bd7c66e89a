#!/usr/bin/env bash
# Builds a release tree and runs the benchmarks. Arguments are passed on to
# each benchmark program (e.g. --benchmark_repetitions=5).
set -euo pipefail
cd "$(dirname "$0")"

packages=(cmake ninja-build g++ libboost-dev libboost-thread-dev googletest libgtest-dev libgmock-dev
          libbenchmark-dev)
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

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "${JOBS:-3}" --target mirt_bench data_path_bench
build/release/bench/mirt_bench "$@"
build/release/bench/data_path_bench "$@"
