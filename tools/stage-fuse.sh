#!/usr/bin/env bash
# A FUSE mount whose daemon never answers statfs must not hang the programs:
# the LogicalDisk total, the wildcard and the instance lookup skip every FUSE
# mount. Two such mounts: fuse.stuck, and fuseblk over a loop device (the way
# block-device FUSE filesystems mount), the latter skipped with a message
# where no loop device can be had. Runs inside a private mount namespace;
# skipped as a whole (status 0, with a message) where unshare, /dev/fuse or
# python3-fusepy are missing.
#   tools/stage-fuse.sh [path/to/vantric]   (check_vantric is taken beside it)
set -uo pipefail
cd "$(dirname "$0")/.."
vantric=$(realpath "${1:-build/linux/app/vantric}")
check=$(dirname "$vantric")/check_vantric
py=/usr/bin/python3
skip() { echo "== fuse: skipped: $*"; exit 0; }
for p in "$vantric" "$check"; do
  [ -x "$p" ] || { echo "stage-fuse: no program at $p" >&2; exit 1; }
done
[ -c /dev/fuse ] || skip "no /dev/fuse"
command -v unshare >/dev/null || skip "no unshare"
"$py" -c 'import fusepy' 2>/dev/null || skip "python3-fusepy not installed"
unshare -m true 2>/dev/null || skip "unshare -m not permitted"

unshare -m --propagation private bash -s "$vantric" "$check" "$py" "$PWD/tests/fuse/stuck_statfs_fs.py" <<'INNER'
set -u
vantric=$1 check=$2 py=$3 fs=$4
work=$(mktemp -d /tmp/vantric-fuse-XXXXXX)
daemons=() mounts=() loop=
# A process blocked on a stuck daemon ignores even SIGKILL; aborting the FUSE
# connection is what frees it. The connection is named by the device number
# of the mount (major * 2^20 + minor): the loop device's for fuseblk.
release() {
  mkdir -p /sys/fs/fuse/connections
  mount -t fusectl none /sys/fs/fuse/connections 2>/dev/null
  local m
  for m in "${mounts[@]}"; do
    awk -v m="$m" '$5 == m { split($3, d, ":"); print d[1] * 1048576 + d[2] }' /proc/self/mountinfo |
      while read -r conn; do echo 1 >"/sys/fs/fuse/connections/$conn/abort" 2>/dev/null; done
  done
  kill -9 "${daemons[@]}" 2>/dev/null
}
cleanup() {
  release; wait "${daemons[@]}" 2>/dev/null
  for m in "${mounts[@]}"; do umount -l "$m" 2>/dev/null; done
  [ -n "$loop" ] && losetup -d "$loop"
  rm -rf "$work"
}
mount_stuck() {  # mount point, [block device]
  mkdir -p "$1"
  "$py" "$fs" "$@" 2>/dev/null &
  daemons+=($!)
  for _ in $(seq 50); do grep -q " $1 " /proc/self/mountinfo && break; sleep 0.1; done
  grep -q " $1 " /proc/self/mountinfo && mounts+=("$1")
}
mount_stuck "$work/fuse"
[ ${#mounts[@]} -eq 1 ] || { echo "== fuse: skipped: the filesystem did not mount"; cleanup; exit 0; }
truncate -s 1M "$work/disk.img"
if ! loop=$(losetup -f --show "$work/disk.img" 2>/dev/null); then
  loop=; echo "fuse: fuseblk part skipped: no loop device"
elif ! mount_stuck "$work/fuseblk" "$loop"; then
  echo "fuse: fuseblk part skipped: the fuseblk mount failed"
fi
grep -F " $work/" /proc/self/mountinfo | awk '{ print "fuse: mounted", $5, $(NF-2) }'

out=$work/out
run() {  # expected-output-pattern, program, arguments...
  local want=$1; shift
  "$@" >"$out" 2>&1 &
  local pid=$!
  for _ in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.2; done
  if kill -0 $pid 2>/dev/null; then
    # Released, the mounts no longer hang anything: the checks after this one
    # would prove nothing.
    echo "FAIL: $* hung on a stuck FUSE mount"
    release; wait $pid; cleanup; exit 1
  fi
  wait $pid
  grep -q -- "$want" "$out" && echo "ok: $* -> $(cat "$out")" && return 0
  echo "FAIL: $* wrote: $(cat "$out")"; failed=1
}
failed=0
run '^VANTRIC OK' "$check" -p '\LogicalDisk(*)\% Free Space' -s 0 -t 3
grep -qF "$work/" "$out" && { echo "FAIL: the wildcard served a FUSE mount"; failed=1; }
run '^[0-9]' "$vantric" -C LogicalDisk -I _Total -P "% Free Space"
for m in "${mounts[@]}"; do
  run 'not found' "$vantric" -C LogicalDisk -I "$m" -P "Free Megabytes"
done
cleanup
exit $failed
INNER
