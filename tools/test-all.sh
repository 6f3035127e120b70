#!/usr/bin/env bash
# The test command: installs what the tests need (when run as root and
# something is missing), then runs every stage in order, each a script of
# its own, and prints each stage's time and the total. Stops at the first
# stage that fails. A stage that exits 77 could not run on this machine (it
# says why) and is reported as not run, never as passed.
#   tools/test-all.sh [STAGE...]   only the named stages (e.g. fuse package)
#   FUZZ_SECONDS   seconds per fuzz target (default 6; 0 skips fuzzing)
set -euo pipefail
cd "$(dirname "$0")/.."
export FUZZ_SECONDS=${FUZZ_SECONDS:-6}
start=$(date +%s)
only=" $* "

stage() {  # name, command...
  local name=$1 begin
  shift
  [ "$only" = "  " ] || [[ "$only" == *" $name "* ]] || return 0
  begin=$(date +%s)
  echo "== $name"
  local rc=0
  "$@" || rc=$?
  case $rc in
    0) echo "== $name: passed in $(( $(date +%s) - begin ))s" ;;
    77) echo "== $name: NOT RUN on this machine (see above), $(( $(date +%s) - begin ))s" ;;
    *) echo "== $name: FAILED after $(( $(date +%s) - begin ))s"; exit 1 ;;
  esac
}

tools/install-missing.sh cmake ninja-build g++ python3 libgtest-dev libbenchmark-dev clang \
  libclang-rt-14-dev clang-format clang-tidy gdb g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32:i386 \
  wine64 locales time dpkg-dev file lintian man-db groff-base sysstat python3-fusepy fuse3 \
  util-linux systemd msitools wixl
for loc in de_DE en_US fr_FR; do
  if ! locale -a 2>/dev/null | grep -qix "${loc}.utf-\?8"; then
    if [ "$(id -u)" -eq 0 ]; then
      localedef -i "$loc" -f UTF-8 "${loc}.UTF-8"
    else
      echo "warning: locale ${loc}.UTF-8 missing" >&2
    fi
  fi
done

stage format   tools/stage-format.sh
stage linux    tools/stage-linux.sh
stage scale    tools/stage-scale.sh build/linux
stage fuse     tools/stage-fuse.sh build/linux/app/vantric
stage clients  tools/stage-clients.sh build/linux
stage prometheus tools/stage-prometheus.sh build/linux
stage win32    tools/stage-win32.sh
stage win64    tools/stage-win64.sh
stage package  tools/stage-package.sh
stage aarch64  tools/stage-aarch64.sh
stage sanitize tools/stage-sanitize.sh
echo "== all stages passed in $(( $(date +%s) - start ))s"
