#!/usr/bin/env bash
# Builds the 32-bit Windows programs and runs every test program under wine,
# in a prefix of its own (build/wineprefix), one ctest entry each.
# A kernel built or started without 32-bit support cannot start the 32-bit
# wine loader ("Exec format error"): there the build is still checked, and
# the stage says plainly that the tests did not run.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset win32 -DVANTRIC_TESTS=ON -DVANTRIC_WERROR=ON >/dev/null
cmake --build --preset win32 -j2
loader=/usr/lib/wine/wine
if ! "$loader" --version >/dev/null 2>&1; then
  echo "win32: NOT RUN: this kernel cannot start 32-bit programs ($loader:" \
    "$("$loader" --version 2>&1 | head -1 | sed 's/.*: //')); built only." \
    "The 64-bit stage runs the same tests under wine64."
  exit 77
fi
. tools/wine-prefix.sh "$PWD/build/wineprefix"
ctest --preset win32 -j2 --no-tests=error
