#!/usr/bin/env bash
# A FUSE mount whose daemon never answers statfs must not hang vantric: the
# LogicalDisk total and the instance lookup skip FUSE and remote mounts.
# Runs inside a private mount namespace; skipped (status 0, with a message)
# where unshare, /dev/fuse or python3-fusepy are missing.
#   tools/stage-fuse.sh [path/to/vantric]
set -uo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)
vantric=$(realpath "${1:-build/linux/app/vantric}")
py=/usr/bin/python3
skip() { echo "fuse stage skipped: $*"; exit 0; }
[ -x "$vantric" ] || { echo "fuse stage: no program at $vantric" >&2; exit 1; }
[ -c /dev/fuse ] || skip "no /dev/fuse"
command -v unshare >/dev/null || skip "no unshare"
"$py" -c 'import fusepy' 2>/dev/null || skip "python3-fusepy not installed"
unshare -m true 2>/dev/null || skip "unshare -m not permitted"

unshare -m --propagation private bash -s "$vantric" "$py" "$PWD/tests/fuse/stuck_statfs_fs.py" <<'INNER'
set -u
vantric=$1 py=$2 fs=$3
mnt=$(mktemp -d /tmp/vantric-fuse-XXXXXX)
"$py" "$fs" "$mnt" 2>/dev/null &
daemon=$!
for _ in $(seq 50); do grep -q " $mnt " /proc/self/mountinfo && break; sleep 0.1; done
if ! grep -q " $mnt " /proc/self/mountinfo; then
  echo "fuse stage skipped: the filesystem did not mount"; kill $daemon; exit 0
fi
minor=$(awk -v m="$mnt" '$5 == m { split($3, d, ":"); print d[2] }' /proc/self/mountinfo)
# A process blocked on the stuck daemon ignores even SIGKILL; aborting the
# FUSE connection is what frees it.
release() {
  mkdir -p /sys/fs/fuse/connections
  mount -t fusectl none /sys/fs/fuse/connections 2>/dev/null
  echo 1 >"/sys/fs/fuse/connections/$minor/abort" 2>/dev/null
  kill -9 $daemon 2>/dev/null
}
failed=0
out=$(mktemp)
run() {  # expected-output-pattern, vantric arguments...
  local want=$1; shift
  "$vantric" "$@" >"$out" 2>&1 &
  local pid=$!
  for _ in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.2; done
  if kill -0 $pid 2>/dev/null; then
    echo "FAIL: vantric $* hung on the stuck FUSE mount"; failed=1
    release; wait $pid
  elif wait $pid; grep -q -- "$want" "$out"; then
    echo "ok: vantric $* -> $(cat "$out")"
  else
    echo "FAIL: vantric $* wrote: $(cat "$out")"; failed=1
  fi
}
run '^[0-9]' -C LogicalDisk -I _Total -P "% Free Space"
run 'not found' -C LogicalDisk -I "$mnt" -P "Free Megabytes"
release; wait $daemon 2>/dev/null
umount -l "$mnt" 2>/dev/null; rmdir "$mnt" 2>/dev/null; rm -f "$out"
exit $failed
INNER
status=$?
echo "fuse stage: $(( $(date +%s) - start ))s"
exit $status
