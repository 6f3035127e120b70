#!/usr/bin/env bash
# The 64-bit ARM Linux build: cross-compiles vantric, vantric-sim and the
# tests with the distribution's aarch64 g++ (static programs) and runs the
# unit, counter-layer, cross-platform and end-to-end tests under qemu.
# Installs the cross compiler, ARM C library and qemu when missing (as root).
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-missing.sh g++-aarch64-linux-gnu libc6-dev-arm64-cross qemu-user-static

cmake --preset linux-aarch64 -DVANTRIC_TESTS=ON -DVANTRIC_WERROR=ON >/dev/null
cmake --build --preset linux-aarch64 -j2
ctest --preset linux-aarch64 -j2 --no-tests=error
