#!/usr/bin/env bash
# Installs what the tests need (when run as root and something is missing),
# then builds and tests both platforms, and runs the sanitizer stage (which
# runs the fuzzers).
#   FUZZ_SECONDS   seconds per fuzz target (default 30; 0 skips fuzzing)
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
FUZZ_SECONDS=${FUZZ_SECONDS:-30}
start=$(date +%s)

tools/install-missing.sh cmake ninja-build g++ python3 libgtest-dev libbenchmark-dev clang \
  libclang-rt-14-dev clang-format gdb g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32:i386 \
  wine64 locales time dpkg-dev file lintian man-db groff-base sysstat python3-fusepy fuse3
for loc in de_DE en_US fr_FR; do
  if ! locale -a 2>/dev/null | grep -qix "${loc}.utf-\?8"; then
    if [ "$(id -u)" -eq 0 ]; then
      localedef -i "$loc" -f UTF-8 "${loc}.UTF-8"
    else
      echo "warning: locale ${loc}.UTF-8 missing" >&2
    fi
  fi
done

tools/stage-format.sh

stage_start=$(date +%s)
echo "== linux: build and test"
cmake --preset linux -DVANTRIC_TESTS=ON -DVANTRIC_BENCH=ON >/dev/null
cmake --build --preset linux
ctest --preset linux -j2 --no-tests=error
echo "== linux: passed in $(( $(date +%s) - stage_start ))s"
tools/stage-fuse.sh build/linux/app/vantric
tools/stage-clients.sh build/linux

stage_start=$(date +%s)
echo "== win32: build and test under wine"
export WINEPREFIX="$top/build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
wineserver -p 2>/dev/null || true  # already running for this prefix is fine
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
# Boot the prefix now, with its output going nowhere: the first program of a
# fresh server starts wine's background services, which inherit that
# program's standard handles; under ctest those are pipes that would then
# never reach end of file.
wineboot -i >/dev/null 2>&1 </dev/null || true
cmake --preset win32 -DVANTRIC_TESTS=ON >/dev/null
cmake --build --preset win32
ctest --preset win32 -j2 --no-tests=error
echo "== win32: passed in $(( $(date +%s) - stage_start ))s"
tools/stage-win64.sh
tools/stage-package.sh

tools/stage-aarch64.sh
FUZZ_SECONDS=$FUZZ_SECONDS tools/stage-sanitize.sh
echo "== all tests passed in $(( $(date +%s) - start ))s"
