#!/usr/bin/env bash
# Builds the 64-bit Windows programs and runs every test program under 64-bit
# wine, in a prefix of its own (build/wineprefix64), one ctest entry each.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/wine-prefix.sh "$PWD/build/wineprefix64" win64
cmake --preset win64 -DVANTRIC_TESTS=ON -DVANTRIC_WERROR=ON >/dev/null
cmake --build --preset win64 -j2
ctest --preset win64 -j2 --no-tests=error
