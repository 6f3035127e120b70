#!/usr/bin/env bash
# The native Linux build (preset linux, with the benchmarks): every unit,
# counter-layer and end-to-end test.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset linux -DVANTRIC_TESTS=ON -DVANTRIC_BENCH=ON -DVANTRIC_WERROR=ON >/dev/null
cmake --build --preset linux -j2
ctest --preset linux -j2 --no-tests=error
