#!/usr/bin/env bash
# Builds the probe and the footprint harness (Linux preset) and runs the
# harness: whole-process time and peak memory of the probe next to
# `mpstat 1 1` and /bin/true, alternating, medians printed. Installs
# nothing: mpstat comes from the package sysstat (tools/test-all.sh installs
# it); without it the reference rows are left out.
#   bench/footprint.sh [--rounds N] [--quick N]   (see bench/footprint.cpp)
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -f build/linux/build.ninja ]; then
  cmake --preset linux -DVANTRIC_BENCH=ON >/dev/null
fi
cmake --build --preset linux --target vantric footprint >/dev/null
command -v mpstat >/dev/null || echo "note: mpstat not found (package sysstat): no reference rows" >&2
exec build/linux/bench/footprint --program build/linux/app/vantric "$@"
