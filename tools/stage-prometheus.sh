#!/usr/bin/env bash
# check_vantric for Prometheus: its OpenMetrics output checked by promtool
# and by the strict OpenMetrics parser of the Python client, then a real
# scrape: the node exporter's textfile collector reads what
# `check_vantric --textfile` wrote, a Prometheus server scrapes the exporter
# every second, and the series are read back through the query API (names,
# labels, exact values from the table-backed build, real counters against
# /proc); and rate() over counters that the table's raw columns advance by
# known amounts between writes, against the value a check computes over the
# same advance. --format=openmetrics goes to the strict parser, the textfile
# (the exporter's older text format) to promtool. Every daemon runs on 127.0.0.1 at a free port from a temporary
# directory and is stopped by its PID; nothing is written outside that
# directory.
#   tools/stage-prometheus.sh [BUILD_DIR]     (default build/linux)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build/linux}" && pwd)
start=$(date +%s)
sim="$build/app/check_vantric-sim"
real="$build/app/check_vantric"
[ -x "$sim" ] && [ -x "$real" ] || { echo "stage-prometheus: build check_vantric first" >&2; exit 1; }

fresh=false
command -v prometheus >/dev/null && command -v prometheus-node-exporter >/dev/null || fresh=true
tools/install-missing.sh prometheus prometheus-node-exporter python3-prometheus-client curl
if $fresh; then
  # The packages start their services; this stage runs its own instances.
  for s in prometheus prometheus-node-exporter; do
    systemctl stop "$s" 2>/dev/null || service "$s" stop 2>/dev/null || true
  done
fi
py=/usr/bin/python3  # the interpreter the Debian client library is installed for

. tools/daemon-stage.sh prometheus

# Awkward names on purpose: a percentage, two counters that collapse to one
# metric name, a rate, an instance needing escapes, a counter that cannot be
# added and a wildcard that matches nothing.
printf '%s\n' \
  '\Processor(_Total)\% Processor Time	0	0	12.5	percent	%	Share of time the processors were busy' \
  '\Memory\Available Bytes	0	0	1048576	gauge	B	Physical memory free for use' \
  '\Memory\Available KBytes	0	0	2048	gauge		Physical memory free for use' \
  '\Network Interface(lo)\Bytes Total/sec	0	0	2048.5	rate		Bytes sent and received' \
  '\Process(a"b\c)\Working Set	0	0	4096	gauge	B	Memory the process has in use' \
  '\System\Processor Queue Length	0xC0000BB9	0	0' \
  >"$tmp/counters.tsv"
sim_paths=(-p '\Processor(_Total)\% Processor Time' -p '\Memory\Available Bytes'
           -p '\Memory\Available KBytes' -p '\Network Interface(lo)\Bytes Total/sec'
           -p '\Process(*)\Working Set' -p '\System\Processor Queue Length'
           -p '\Process(zz*)\Working Set')
real_paths=(-p '\System\Processes' -p '\System\System Up Time')
run_sim() { VANTRIC_SIM_COUNTERS="$tmp/counters.tsv" "$sim" -s 100 "${sim_paths[@]}" "$@" || true; }
run_real() { "$real" -s 0 "${real_paths[@]}" "$@" || true; }

# Running totals: a busy timer whose raw value is the idle time, bytes and an
# average's pair. Write k of the table holds the records of collection 1 at
# first + k * step; between the table's collections the same steps make the
# cooked values (60 %, 40960 B/s, 5 ms a read).
rate_table() {
  local k=$1
  printf '%s\t0\t0\t0\t\t%s\t%s\t\t%s\t%s\t%s\t%s\t%s\t%s\n' \
    '\Processor(0)\% Processor Time' % 'Share of time the processors were busy' \
    0x21510500 10000000 $((400000000000000 + k * 4000000)) 4000000 \
    $((1000000000000000 + k * 10000000)) 10000000 \
    '\PhysicalDisk(0)\Disk Read Bytes/sec' '' 'Bytes read from the disk' \
    0x10410500 10000000 $((1000000000000 + k * 40960)) 40960 $((k * 10000000)) 10000000 \
    '\PhysicalDisk(0)\Avg. Disk sec/Read' s 'Time a read takes' \
    0x30020400 1000 $((500000000 + k * 50)) 50 $((100000000 + k * 10)) 10
}
rate_paths=(-p '\Processor(*)\% Processor Time' -p '\PhysicalDisk(*)\Disk Read Bytes/sec'
            -p '\PhysicalDisk(*)\Avg. Disk sec/Read')
rate_table 0 >"$tmp/rate.tsv"
run_rate() { VANTRIC_SIM_COUNTERS="$tmp/rate.tsv" "$sim" "${rate_paths[@]}" "$@" || true; }

echo "== OpenMetrics text"
for which in sim real rate; do
  "run_$which" --format=openmetrics >"$tmp/$which.om" 2>"$tmp/$which.err"
  "run_$which" --textfile="$tmp/$which.prom" >/dev/null 2>>"$tmp/$which.err"
  if [ -s "$tmp/$which.err" ] || [ "$(tail -n 1 "$tmp/$which.om")" != "# EOF" ]; then
    fail "$which: no OpenMetrics text: $(head -c 300 "$tmp/$which.err")"
    continue
  fi
  if lint=$(promtool check metrics <"$tmp/$which.prom" 2>&1) && [ -z "$lint" ]; then
    pass "$which: promtool check metrics (textfile)"
  else
    fail "$which: promtool check metrics: $lint"
  fi
  if out=$($py - "$tmp/$which.om" 2>&1 <<'PY'
import sys
from prometheus_client.openmetrics.parser import text_string_to_metric_families
families = list(text_string_to_metric_families(open(sys.argv[1], encoding="utf-8").read()))
assert any(f.name == "vantric_up" for f in families), "no vantric_up"
types = {f.name: f.type for f in families}
if "vantric_processor_busy_seconds" in types or sys.argv[1].endswith("rate.om"):
    want = {"vantric_processor_busy_seconds": "counter",
            "vantric_physical_disk_disk_read_bytes": "counter",
            "vantric_physical_disk_disk_read_seconds": "summary"}
    assert all(types.get(n) == t for n, t in want.items()), f"types {types}"
PY
  ); then pass "$which: strict OpenMetrics parser"; else fail "$which: OpenMetrics parser: $out"; fi
done

echo "== the shipped argument file (contrib/textfile/textfile.args)"
if "$real" --textfile="$tmp/args.prom" @contrib/textfile/textfile.args >"$tmp/args.out" 2>&1 &&
   grep -qx "VANTRIC OK - wrote [0-9]* series to $tmp/args.prom" "$tmp/args.out" &&
   ! grep -q 'vantric_instance="_Total"' "$tmp/args.prom" &&
   lint=$(promtool check metrics <"$tmp/args.prom" 2>&1) && [ -z "$lint" ]; then
  pass "textfile.args through the real program, promtool check metrics"
else
  fail "textfile.args: $(cat "$tmp/args.out") ${lint:-}"
fi

echo "== node exporter textfile collector and Prometheus"
mkdir "$tmp/textfile" "$tmp/tsdb"
exporter_port=$(free_port)
(cd "$tmp" && exec prometheus-node-exporter --web.listen-address="127.0.0.1:$exporter_port" \
  --collector.disable-defaults --collector.textfile \
  --collector.textfile.directory="$tmp/textfile" >"$tmp/exporter.log" 2>&1) &
pids+=($!)
prometheus_port=$(free_port)
cat >"$tmp/prometheus.yml" <<EOF
global:
  scrape_interval: 500ms
  evaluation_interval: 1s
scrape_configs:
  - job_name: vantric
    static_configs:
      - targets: ['127.0.0.1:$exporter_port']
EOF
(cd "$tmp" && exec prometheus --config.file="$tmp/prometheus.yml" \
  --storage.tsdb.path="$tmp/tsdb" --web.listen-address="127.0.0.1:$prometheus_port" \
  >"$tmp/prometheus.log" 2>&1) &
pids+=($!)

run_sim --textfile="$tmp/textfile/vantric.prom" >"$tmp/sim.out"
run_real --textfile="$tmp/textfile/vantric-real.prom" >"$tmp/real.out"
left=$(ls -A "$tmp/textfile" | grep -v -x -e vantric.prom -e vantric-real.prom || true)
[ -z "$left" ] && pass "textfile directory holds only the two files" || fail "left behind: $left"

if out=$($py - "$prometheus_port" 2>&1 <<'PY'
import json, sys, time, urllib.parse, urllib.request
port = sys.argv[1]
def query(q):
    url = f"http://127.0.0.1:{port}/api/v1/query?" + urllib.parse.urlencode({"query": q})
    with urllib.request.urlopen(url, timeout=5) as r:
        return json.load(r)["data"]["result"]
def series(q):
    return {(s["metric"]["__name__"],
             tuple(sorted((k, v) for k, v in s["metric"].items()
                          if k not in ("__name__", "job", "instance")))): float(s["value"][1])
            for s in query(q)}
# Both files scraped: every vantric_up series there (bounded wait).
got, deadline = {}, time.time() + 60
while time.time() < deadline:
    try:
        got = series('{__name__=~"vantric_.+"}')
        if sum(1 for (name, _) in got if name == "vantric_up") == 9:
            break
    except OSError:
        pass
    time.sleep(0.5)
want = {
    ("vantric_processor_processor_time_ratio", (("vantric_instance", "_Total"),)): 0.125,
    ("vantric_memory_available_bytes",
     (("vantric_counter", "Available Bytes"), ("vantric_object", "Memory"))): 1048576,
    ("vantric_memory_available_bytes",
     (("vantric_counter", "Available KBytes"), ("vantric_object", "Memory"))): 2097152,
    ("vantric_network_interface_bytes_per_second", (("vantric_instance", "lo"),)): 2048.5,
    ("vantric_process_working_set_bytes", (("vantric_instance", 'a"b\\c'),)): 4096,
}
up = {"\\Processor(_Total)\\% Processor Time": 1, "\\Memory\\Available Bytes": 1,
      "\\Memory\\Available KBytes": 1, "\\Network Interface(lo)\\Bytes Total/sec": 1,
      '\\Process(a"b\\c)\\Working Set': 1, "\\System\\Processor Queue Length": 0,
      "\\Process(zz*)\\Working Set": 0, "\\System\\Processes": 1, "\\System\\System Up Time": 1}
want.update({("vantric_up", (("path", p),)): v for p, v in up.items()})
bad = [f"{k}: want {v}, got {got.get(k)}" for k, v in want.items() if got.get(k) != v]
real = {k[0]: v for k, v in got.items() if k[0].startswith("vantric_system_")}
extra = set(got) - set(want) - {k for k in got if k[0].startswith("vantric_system_")}
bad += [f"unexpected series {k}" for k in extra]
if sorted(real) != ["vantric_system_processes", "vantric_system_system_up_time_seconds"]:
    bad.append(f"real series: {sorted(real)}")
else:
    uptime = float(open("/proc/uptime").read().split()[0])
    if not 0 < real["vantric_system_processes"] < 10**7:
        bad.append(f"processes: {real['vantric_system_processes']}")
    if abs(real["vantric_system_system_up_time_seconds"] - uptime) > 120:
        bad.append(f"up time {real['vantric_system_system_up_time_seconds']} against {uptime}")
errors = [float(s["value"][1]) for s in query("node_textfile_scrape_error")]
if errors != [0.0]:
    bad.append(f"node_textfile_scrape_error: {errors}")
print("\n".join(bad))
sys.exit(1 if bad else 0)
PY
); then
  pass "series, labels and values read back from Prometheus"
else
  fail "Prometheus read-back:"; echo "$out" | sed 's/^/    /'
  tail -n 5 "$tmp/exporter.log" "$tmp/prometheus.log" | sed 's/^/    /'
fi

echo "== rate() of the running totals against the values over the same advance"
# Write k carries the records advanced by k steps and the modification time
# start + k: the textfile collector exposes that time, so rate() of a series
# over rate() of the time is its growth per second of the table's clock,
# exactly, whenever the scrapes fell. The file is written aside, dated, and
# renamed in, so no scrape sees one without the other.
cooked=$(VANTRIC_SIM_COUNTERS="$tmp/rate.tsv" "$sim" -s 100 --format=json "${rate_paths[@]}" || true)
t0=$(date +%s)
mkdir "$tmp/aside"
for k in 0 1 2 3 4 5; do
  rate_table "$k" >"$tmp/rate.tsv"
  run_rate --textfile="$tmp/aside/rate.prom" >/dev/null
  touch -d "@$((t0 + k))" "$tmp/aside/rate.prom"
  mv "$tmp/aside/rate.prom" "$tmp/textfile/rate.prom"
  sleep 0.7
done
sleep 1
if out=$($py - "$prometheus_port" "$cooked" 2>&1 <<'PY'
import json, sys, urllib.parse, urllib.request
port, cooked = sys.argv[1], json.loads(sys.argv[2])
def query(q):
    url = f"http://127.0.0.1:{port}/api/v1/query?" + urllib.parse.urlencode({"query": q})
    with urllib.request.urlopen(url, timeout=5) as r:
        return [float(s["value"][1]) for s in json.load(r)["data"]["result"]]
clock = 'scalar(rate(node_textfile_mtime_seconds{file=~".*rate.prom"}[1m]))'
value = {c["counter"]: c["value"] for c in cooked["counters"]}
checks = [
    ("busy share", f"rate(vantric_processor_busy_seconds_total[1m]) / {clock}",
     value["% Processor Time"] / 100),
    ("bytes per second", f"rate(vantric_physical_disk_disk_read_bytes_total[1m]) / {clock}",
     value["Disk Read Bytes/sec"]),
    ("seconds a read", "rate(vantric_physical_disk_disk_read_seconds_sum[1m])"
     " / rate(vantric_physical_disk_disk_read_seconds_count[1m])", value["Avg. Disk sec/Read"]),
]
bad = []
for name, q, want in checks:
    got = query(q)
    if len(got) != 1 or abs(got[0] - want) > 1e-9 * max(1.0, abs(want)):
        bad.append(f"{name}: {q} -> {got}, cooked {want}")
samples = query('count_over_time(vantric_processor_busy_seconds_total[1m])')
if not samples or samples[0] < 3:
    bad.append(f"too few scrapes of the written series: {samples}")
print("\n".join(bad))
sys.exit(1 if bad else 0)
PY
); then
  pass "rate() from Prometheus equals the cooked values (60 %, 40960 B/s, 5 ms)"
else
  fail "rate() read-back:"; echo "$out" | sed 's/^/    /'
fi

echo "== prometheus: $failures failure(s) in $(( $(date +%s) - start ))s"
[ "$failures" -eq 0 ]
