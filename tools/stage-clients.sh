#!/usr/bin/env bash
# check_vantric under the real clients: NRPE (nrpe + check_nrpe) and Icinga 2
# (config validation, the daemon running one service per state, results read
# back through its REST API). Uses the shipped contrib/ files with the plugin
# path pointed at the build. Every daemon runs from a temporary directory and
# is stopped by its PID; nothing is written outside that directory.
#   tools/stage-clients.sh [BUILD_DIR]     (default build/linux)
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
build=$(cd "${1:-build/linux}" && pwd)
sim="$build/app/check_vantric-sim"
real="$build/app/check_vantric"
[ -x "$sim" ] && [ -x "$real" ] || { echo "stage-clients: build check_vantric first" >&2; exit 1; }

fresh=false
command -v nrpe >/dev/null && command -v icinga2 >/dev/null || fresh=true
tools/install-missing.sh nagios-nrpe-server nagios-nrpe-plugin icinga2 curl openssl
if $fresh; then
  # The packages start their services; this stage runs its own instances.
  for s in nagios-nrpe-server icinga2; do systemctl stop "$s" 2>/dev/null || service "$s" stop 2>/dev/null || true; done
fi
check_nrpe=/usr/lib/nagios/plugins/check_nrpe

. tools/daemon-stage.sh clients
chmod 755 "$tmp"  # nrpe runs its commands as an unprivileged user

# The counters the shipped commands read, one value per state.
printf '%s\n' \
  '\Processor(_Total)\% Processor Time	0	0	12.35	percent	%	Share of time the processors were busy' \
  '\Memory\% Committed Bytes In Use	0	0	85.5	percent	%	Committed memory against the limit' \
  '\LogicalDisk(/)\% Free Space	0	0	3.25	percent	%	Free share of the file system' \
  '\System\Processor Queue Length	0xC0000BB9	0	0' \
  >"$tmp/counters.tsv"
# Copies inside the temporary directory: the daemons' users may not reach the build tree.
mkdir "$tmp/bin"
cp "$sim" "$real" "$tmp/bin/"
sim="$tmp/bin/$(basename "$sim")" real="$tmp/bin/$(basename "$real")"
plugin_sim="env VANTRIC_SIM_COUNTERS=$tmp/counters.tsv $sim"

echo "== NRPE"
port=$(free_port)
sed "s#/usr/lib/nagios/plugins/check_vantric#$plugin_sim#" contrib/nrpe/check_vantric.cfg >"$tmp/nrpe-sim.cfg"
sed -e "s#/usr/lib/nagios/plugins/check_vantric#$real#" -e 's/^command\[/command[real_/' \
  contrib/nrpe/check_vantric.cfg >"$tmp/nrpe-real.cfg"
# nrpe refuses to run as root; it then needs a user to run commands as.
if [ "$(id -u)" -eq 0 ]; then
  run_as="nrpe_user=nagios
nrpe_group=nagios"
else
  run_as=""
fi
cat >"$tmp/nrpe.cfg" <<CFG
$run_as
log_file=$tmp/nrpe.log
pid_file=$tmp/nrpe.pid
server_address=127.0.0.1
server_port=$port
allowed_hosts=127.0.0.1
command_timeout=30
debug=0
include=$tmp/nrpe-sim.cfg
include=$tmp/nrpe-real.cfg
CFG
nrpe -c "$tmp/nrpe.cfg" -f >"$tmp/nrpe.out" 2>&1 &
pids+=($!)
for _ in $(seq 50); do "$check_nrpe" -H 127.0.0.1 -p "$port" >/dev/null 2>&1 && break; sleep 0.1; done
"$check_nrpe" -H 127.0.0.1 -p "$port" >/dev/null 2>&1 || { echo "nrpe did not start:"; cat "$tmp/nrpe.log"; }

nrpe_case() {  # name expected_status expected_line command [args...]
  local name=$1 want_rc=$2 want=$3 cmd=$4; shift 4
  local out rc=0
  out=$("$check_nrpe" -H 127.0.0.1 -p "$port" -t 30 -c "$cmd" "$@" 2>&1) || rc=$?
  if [[ "$rc" =~ ^$want_rc$ ]] && [[ "$out" =~ $want ]]; then pass "nrpe $name"; else
    fail "nrpe $name: status $rc, want $want_rc"; echo "       got:  $out"; echo "       want: $want"; fi
}
q() { printf '%s' "$1" | sed 's/[][\\.^$*+?(){}|]/\\&/g'; }  # a literal as a regular expression
nrpe_case OK 0 "^$(q "VANTRIC OK - \Processor(_Total)\% Processor Time = 12.35% | '\Processor(_Total)\% Processor Time'=12.35%;85;95;0;100")\$" check_vantric_cpu
nrpe_case WARNING 1 "^$(q "VANTRIC WARNING - \Memory\% Committed Bytes In Use = 85.5% | '\Memory\% Committed Bytes In Use'=85.5%;80;90;0;100")\$" check_vantric_memory
nrpe_case CRITICAL 2 "^$(q "VANTRIC CRITICAL - \LogicalDisk(/)\% Free Space = 3.25% | '\LogicalDisk(/)\% Free Space'=3.25%;10:;5:;0;100")\$" check_vantric_root_free
nrpe_case UNKNOWN 3 "^$(q "VANTRIC UNKNOWN - \System\Processor Queue Length: no such counter")\$" check_vantric_load
nrpe_case "real counter of this machine" '[0-2]' \
  "^VANTRIC (OK|WARNING|CRITICAL) - $(q '\Processor(_Total)\% Processor Time') = [0-9]+(\.[0-9]+)?% \| $(q "'\Processor(_Total)\% Processor Time'")=[0-9]+(\.[0-9]+)?%;85;95;0;100\$" \
  real_check_vantric_cpu

echo "== Icinga 2"
ic="$tmp/icinga2"
mkdir -p "$ic/etc" "$ic/data/certs" "$ic/log" "$ic/cache" "$ic/spool" "$ic/run" "$tmp/plugins"
printf '#!/bin/sh\nexec %s "$@"\n' "$plugin_sim" >"$tmp/plugins/check_vantric"
chmod +x "$tmp/plugins/check_vantric"
api_port=$(free_port)
api_password=$(od -An -N12 -tx1 /dev/urandom | tr -d ' \n')
node=vantric-stage
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=vantric-stage-ca" \
  -keyout "$ic/ca.key" -out "$ic/data/certs/ca.crt" >/dev/null 2>&1
openssl req -newkey rsa:2048 -nodes -subj "/CN=$node" -keyout "$ic/data/certs/$node.key" \
  -out "$ic/node.csr" >/dev/null 2>&1
openssl x509 -req -in "$ic/node.csr" -CA "$ic/data/certs/ca.crt" -CAkey "$ic/ca.key" -CAcreateserial \
  -days 2 -out "$ic/data/certs/$node.crt" >/dev/null 2>&1

svc_conf() {  # name object instance counter warning critical
  cat <<SVC
object Service "$1" {
  host_name = NodeName
  check_command = "vantric"
  vars.vantric_object = "$2"
  vars.vantric_instance = "$3"
  vars.vantric_counter = "$4"
  vars.vantric_warning = "$5"
  vars.vantric_critical = "$6"
  check_interval = 1s
  retry_interval = 1s
  max_check_attempts = 1
}
SVC
}
{
  cat <<CONF
const PluginDir = "$tmp/plugins"
const NodeName = "$node"
const ZoneName = "$node"
include <itl>
include "$top/contrib/icinga2/check_vantric.conf"
object CheckerComponent "checker" {}
object Endpoint NodeName {}
object Zone ZoneName { endpoints = [ NodeName ] }
object ApiListener "api" {
  bind_host = "127.0.0.1"
  bind_port = $api_port
}
object ApiUser "stage" {
  password = "$api_password"
  permissions = [ "objects/query/*", "console" ]
}
object Host NodeName {
  check_command = "dummy"
  vars.dummy_state = 0
}
CONF
  svc_conf ok Processor _Total '% Processor Time' 85 95
  svc_conf warning Memory '' '% Committed Bytes In Use' 80 90
  svc_conf critical LogicalDisk / '% Free Space' 10: 5:
  svc_conf unknown System '' 'Processor Queue Length' '' ''
} >"$ic/etc/icinga2.conf"
icinga_args=(-c "$ic/etc/icinga2.conf"
  -DConfiguration.DataDir="$ic/data" -DConfiguration.LogDir="$ic/log"
  -DConfiguration.CacheDir="$ic/cache" -DConfiguration.SpoolDir="$ic/spool"
  -DConfiguration.InitRunDir="$ic/run" -DConfiguration.PidPath="$ic/run/icinga2.pid"
  -DConfiguration.ZonesDir="$ic/etc/zones.d")
# Run as whoever runs this stage, not as the packaged service user.
export ICINGA2_USER=$(id -un) ICINGA2_GROUP=$(id -gn)
if icinga2 daemon -C "${icinga_args[@]}" >"$ic/validate.log" 2>&1; then
  pass "icinga2 daemon -C accepts contrib/icinga2/check_vantric.conf"
else
  fail "icinga2 daemon -C"; tail -20 "$ic/validate.log"
fi
# Started directly (no function, no subshell), so $! is the daemon itself;
# its worker processes end with it.
icinga2 daemon "${icinga_args[@]}" >"$ic/daemon.log" 2>&1 &
pids+=($!)

api() { curl -k -s -u "stage:$api_password" -H 'Accept: application/json' "https://127.0.0.1:$api_port/v1/$1"; }
# Results come about a second after start; wait until every service has one.
results=""
for _ in $(seq 60); do
  results=$(api "objects/services?attrs=last_check_result&attrs=name" 2>/dev/null || true)
  if [ -n "$results" ] && python3 - "$results" <<'PY' 2>/dev/null; then break; fi
import json, sys
r = json.loads(sys.argv[1])["results"]
sys.exit(0 if len(r) == 4 and all(x["attrs"]["last_check_result"] for x in r) else 1)
PY
  sleep 0.5
done
# The perfdata is parsed by Icinga itself (its parse_performance_data()).
if python3 - "$results" "$api_port" "$api_password" <<'PY'; then pass "icinga2 states, output and parsed perfdata"; else fail "icinga2 results"; tail -20 "$ic/daemon.log"; fi
import json, subprocess, sys
results, port, password = sys.argv[1], sys.argv[2], sys.argv[3]


def parse(raw):
    literal = '"' + raw.replace("\\", "\\\\").replace('"', '\\"') + '"'
    body = json.dumps({"command": f"parse_performance_data({literal})"})
    out = subprocess.run(["curl", "-k", "-s", "-u", f"stage:{password}", "-H", "Accept: application/json",
                          "-X", "POST", "--data-binary", body,
                          f"https://127.0.0.1:{port}/v1/console/execute-script"],
                         capture_output=True, text=True, check=True).stdout
    r = json.loads(out)["results"][0]
    if r["code"] != 200:
        return {"error": r.get("status")}
    return {k: v for k, v in r["result"].items()
            if k in ("label", "value", "unit", "warn", "crit", "min", "max") and v not in (None, "")}


want = {
    "ok": (0, "VANTRIC OK - \\Processor(_Total)\\% Processor Time = 12.35%",
           [{"label": "\\Processor(_Total)\\% Processor Time", "value": 12.35, "unit": "percent",
             "warn": 85.0, "crit": 95.0, "min": 0.0, "max": 100.0}]),
    "warning": (1, "VANTRIC WARNING - \\Memory\\% Committed Bytes In Use = 85.5%",
                [{"label": "\\Memory\\% Committed Bytes In Use", "value": 85.5, "unit": "percent",
                  "warn": 80.0, "crit": 90.0, "min": 0.0, "max": 100.0}]),
    "critical": (2, "VANTRIC CRITICAL - \\LogicalDisk(/)\\% Free Space = 3.25%",
                 [{"label": "\\LogicalDisk(/)\\% Free Space", "value": 3.25, "unit": "percent",
                   "min": 0.0, "max": 100.0}]),  # Icinga keeps no "N:" thresholds
    "unknown": (3, "VANTRIC UNKNOWN - \\System\\Processor Queue Length: no such counter", []),
}
bad = 0
for r in json.loads(results)["results"]:
    name = r["attrs"]["name"]
    cr = r["attrs"]["last_check_result"]
    state, output, perf = want[name]
    got = [parse(p) if isinstance(p, str) else p for p in cr.get("performance_data") or []]
    if int(cr["state"]) != state or cr["output"].rstrip() != output or got != perf:
        print(f"    {name}: state {cr['state']} output {cr['output']!r} perfdata {got!r}")
        bad += 1
sys.exit(1 if bad else 0)
PY

[ "$failures" -eq 0 ] || echo "clients: $failures failure(s)"
[ "$failures" -eq 0 ]
