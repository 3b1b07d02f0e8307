#!/usr/bin/env bash
# Builds the module, the simulator and the unit tests for the camera's CPU (32-bit big-endian MIPS)
# and runs the tests under qemu-mips through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
# CMake and Ninja come with the host set; the mips set adds the cross compiler, qemu and GoogleTest's sources.
if ! command -v cmake >/dev/null || ! command -v ninja >/dev/null; then scripts/install-deps.sh host; fi
scripts/install-deps.sh mips
jobs=$(nproc)
[ "$jobs" -le 2 ] || jobs=2
cmake --preset mips
cmake --build --preset mips -j"$jobs"
ctest --preset mips -j"$jobs"
# What the camera's firmware build links, as its own package.
listing=$(cd build/mips && cpack -G DEB >/dev/null && dpkg-deb -c vestra-updater-module_*.deb)
grep -q libvestra_module.a <<<"$listing" || { echo "test-mips: the module package lacks libvestra_module.a" >&2; exit 1; }
echo "test-mips: done in ${SECONDS} s"
