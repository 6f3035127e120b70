#!/usr/bin/env bash
# The 64-bit ARM Linux build: cross-compiles vantric, vantric-sim and the
# tests with the distribution's aarch64 g++ (static programs) and runs the
# unit, counter-layer, cross-platform and end-to-end tests under qemu.
# Installs the cross compiler, ARM C library and qemu when missing (as root).
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)

need_pkgs=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for p in g++-aarch64-linux-gnu libc6-dev-arm64-cross qemu-user-static; do
  have "$p" || need_pkgs+=("$p")
done
if [ ${#need_pkgs[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages (run as root to install): ${need_pkgs[*]}" >&2
    exit 1
  fi
  echo "== installing: ${need_pkgs[*]}"
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -q \
    --no-install-recommends "${need_pkgs[@]}"
fi

echo "== linux-aarch64: build and test under qemu"
cmake --preset linux-aarch64 -DVANTRIC_TESTS=ON >/dev/null
cmake --build --preset linux-aarch64 -j2
ctest --preset linux-aarch64 -j2 --no-tests=error
echo "== linux-aarch64 passed in $(( $(date +%s) - start ))s"
