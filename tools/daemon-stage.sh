# Sourced by the stages that start real daemons on 127.0.0.1 (clients,
# prometheus): a temporary directory, the daemons' PIDs and their stop at
# exit, pass/fail counting and a free local port.
#   . tools/daemon-stage.sh NAME
# Sets tmp (/tmp/vantric-NAME.XXXXXX, removed at exit unless KEEP_TMP is set),
# pids (append each daemon's PID), failures; defines pass, fail, free_port.
tmp=$(mktemp -d "/tmp/vantric-$1.XXXXXX")
pids=()
descendants() { local c; for c in $(pgrep -P "$1" || true); do echo "$c"; descendants "$c"; done; }
cleanup() {
  local p all=()
  # The daemons' own helper processes, by PID, children before they re-parent.
  for p in "${pids[@]}"; do all+=("$p" $(descendants "$p")); done
  for p in "${all[@]}"; do
    kill "$p" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$p" 2>/dev/null || true
  done
  [ -n "${KEEP_TMP:-}" ] || rm -rf "$tmp"
}
trap cleanup EXIT
failures=0
pass() { echo "  ok   $1"; }
fail() { echo "  FAIL $1"; failures=$((failures + 1)); }
free_port() { /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
