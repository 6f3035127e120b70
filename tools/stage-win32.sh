#!/usr/bin/env bash
# Builds the 32-bit Windows programs and runs every test program under wine,
# in a prefix of its own (build/wineprefix), one ctest entry each.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/wine-prefix.sh "$PWD/build/wineprefix"
cmake --preset win32 -DVANTRIC_TESTS=ON -DVANTRIC_WERROR=ON >/dev/null
cmake --build --preset win32 -j2
ctest --preset win32 -j2 --no-tests=error
