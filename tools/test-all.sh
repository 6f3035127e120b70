#!/usr/bin/env bash
# Installs what the tests need (when run as root and something is missing),
# then builds and tests both platforms and runs the fuzzers.
#   FUZZ_SECONDS   seconds per fuzz target (default 30; 0 skips fuzzing)
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
FUZZ_SECONDS=${FUZZ_SECONDS:-30}
start=$(date +%s)

need_pkgs=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for p in cmake ninja-build g++ python3 libgtest-dev libbenchmark-dev clang libclang-rt-14-dev \
         g++-mingw-w64-i686 wine wine32:i386 locales time python3-fusepy fuse3; do
  have "$p" || need_pkgs+=("$p")
done
if [ ${#need_pkgs[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages (run as root to install): ${need_pkgs[*]}" >&2
    exit 1
  fi
  echo "== installing: ${need_pkgs[*]}"
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${need_pkgs[@]}"
fi
for loc in de_DE en_US fr_FR; do
  if ! locale -a 2>/dev/null | grep -qix "${loc}.utf-\?8"; then
    if [ "$(id -u)" -eq 0 ]; then
      localedef -i "$loc" -f UTF-8 "${loc}.UTF-8"
    else
      echo "warning: locale ${loc}.UTF-8 missing" >&2
    fi
  fi
done

echo "== linux: build and test"
cmake --preset linux -DVANTRIC_TESTS=ON -DVANTRIC_BENCH=ON >/dev/null
cmake --build --preset linux
ctest --preset linux -j2 --no-tests=error
tools/stage-fuse.sh build/linux/app/vantric
tools/stage-clients.sh build/linux

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

if [ "$FUZZ_SECONDS" != 0 ] && command -v clang++ >/dev/null; then
  echo "== fuzz: ${FUZZ_SECONDS}s per target"
  CC=clang CXX=clang++ cmake -S fuzz -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build/fuzz
  failed=0
  for f in build/fuzz/*_fuzz; do
    name=$(basename "$f")
    corpus="build/fuzz/corpus-$name"
    mkdir -p "$corpus"
    seeds=()
    [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
    if "$f" -max_total_time="$FUZZ_SECONDS" -timeout=10 -rss_limit_mb=2048 \
         -artifact_prefix="build/fuzz/$name-" "$corpus" "${seeds[@]}" \
         >"build/fuzz/$name.log" 2>&1; then
      echo "fuzz $name: clean ($(grep -o 'Done [0-9]* runs' "build/fuzz/$name.log" || true))"
    else
      echo "fuzz $name: FINDING, see build/fuzz/$name.log"; tail -30 "build/fuzz/$name.log"; failed=1
    fi
  done
  [ $failed -eq 0 ] || exit 1
fi
echo "== all tests passed in $(( $(date +%s) - start ))s"
