#!/usr/bin/env bash
# Builds the release tree and runs the example host: kesu-host loads
# KESUplugin.kzm with simulated amplifiers, captures and prints what each
# plate measured. Its arguments go to kesu-host (./run.sh --help lists them).
# Drive C: is the example folder host/drive_c unless KESU_DRIVE_C says otherwise.
set -euo pipefail
# The build runs in the tree, kesu-host in the caller's folder, so that a
# relative --csv or --drive-c means what it says there.
caller=$PWD
cd "$(dirname "$0")"
tree=$PWD

# The tree configures its tests and benchmarks too, though only kesu-host is
# built here, so it needs the same packages as the tests.
source scripts/packages.sh
kesu_install_packages

mkdir -p build
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >build/release.log 2>&1 ||
    { cat build/release.log; exit 1; }
cmake --build build/release --target kesu-host -j "$(nproc)" >>build/release.log 2>&1 ||
    { cat build/release.log; exit 1; }
rm -f build/release.log

export KESU_DRIVE_C="${KESU_DRIVE_C:-$tree/host/drive_c}"
cd "$caller"
exec "$tree/build/release/host/kesu-host" "$@"
