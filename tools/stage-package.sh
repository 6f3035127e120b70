#!/usr/bin/env bash
# Builds the Debian package, the two Windows ZIPs and the two MSI packages
# into build/packages/, checks the package with lintian, installs it, runs
# the installed programs and manual pages, removes it (only the configuration
# file may stay) and purges it; then checks the MSI packages under wine
# (tools/package-msi.sh). Needs root for dpkg; leaves no vantric package
# installed.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-missing.sh lintian dpkg-dev man-db systemd acl msitools wixl
top=$PWD
out=$top/build/packages
fail() { echo "stage-package: $*" >&2; exit 1; }

echo "== package: .deb"
rm -f "$out"/vantric_*.deb "$out"/vantric-*.zip "$out"/vantric-*.msi
cmake --preset deb >/dev/null
cmake --build --preset deb -j2
(cd build/deb && cpack -B "$out" >/dev/null)
deb=$(ls "$out"/vantric_*.deb)
echo "built $(basename "$deb")"

# Errors fail the stage; warnings are shown for the record.
rc=0
report=$(lintian --fail-on error "$deb" 2>&1) || rc=$?
grep -v 'running with root privileges' <<<"$report" || true
[ $rc -eq 0 ] || fail "lintian reports errors"

[ "$(id -u)" -eq 0 ] || fail "installing the package needs root"
pkg=vantric
if dpkg-query -W -f='${Status}' $pkg 2>/dev/null | grep -q installed; then
  fail "a vantric package is already installed; not touching it"
fi
trap 'dpkg -P $pkg >/dev/null 2>&1 || true' EXIT
dpkg -i "$deb" >/dev/null

echo "== package: installed programs"
value=$(/usr/bin/vantric -C Memory -P "Available Bytes")
[[ "$value" =~ ^[0-9]+\.00000$'\r'$ ]] || fail "installed vantric wrote '$value'"
rc=0; /usr/bin/vantric -C NoSuchObject -P X -c 10 -w 20 >/dev/null || rc=$?
[ $rc -eq 2 ] || fail "installed vantric ended $rc for a missing counter at or below critical"
echo "/usr/bin/vantric: $value"
if dpkg -L $pkg | grep -qx /usr/lib/nagios/plugins/check_vantric; then
  # -V ends UNKNOWN, as -h does, in the manner of the distribution's plugins.
  version=$(/usr/lib/nagios/plugins/check_vantric -V) || [ $? -eq 3 ]
  version_cmake=$(sed -n 's/^project(vantric VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
  [[ "$version" == *"$version_cmake"* ]] || fail "check_vantric -V says '$version', not $version_cmake"
  rc=0; line=$(/usr/lib/nagios/plugins/check_vantric -C Memory -P "Available Bytes") || rc=$?
  [ $rc -eq 0 ] || fail "installed check_vantric ended $rc: $line"
  echo "/usr/lib/nagios/plugins/check_vantric: $line"
fi
units=$(dpkg -L $pkg | grep '^/lib/systemd/system/.*\.\(service\|timer\)$')
report=$(systemd-analyze verify $units 2>&1) || fail "systemd-analyze verify: $report"
[ -z "$report" ] || fail "systemd-analyze verify: $report"
echo "systemd-analyze verify: $(tr '\n' ' ' <<<"$units")clean"
id vantric >/dev/null 2>&1 || fail "no account vantric after install"
for page in $(dpkg -L $pkg | sed -n 's|^/usr/share/man/man[0-9]/\(.*\)\.[0-9]\.gz$|\1|p'); do
  warnings=$(MANWIDTH=80 man --warnings "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man $page: $warnings"
  MANWIDTH=80 man "$page" 2>/dev/null | grep -q "^NAME" || fail "man $page does not render"
  echo "man $page renders"
done

echo "== package: remove"
dpkg -r $pkg >/dev/null
status=$(dpkg-query -W -f='${Status}' $pkg 2>/dev/null || echo 'unknown ok not-installed')
# What dpkg still lists besides the directories leading to the files.
conffiles="/etc/nagios/nrpe.d/check_vantric.cfg /etc/vantric/textfile.args"
left=$(dpkg -L $pkg 2>/dev/null | grep -v -x -e '/\.' -e /etc -e /etc/nagios -e /etc/nagios/nrpe.d -e /etc/vantric |
  tr '\n' ' ' | sed 's/ $//' || true)
[ "$status" = "deinstall ok config-files" ] || fail "status after remove: $status"
[ "$left" = "$conffiles" ] || fail "left after remove: $left"
for f in $conffiles; do
  [ -f "$f" ] || fail "configuration file $f removed with the program"
done
for f in /usr/bin/vantric /usr/lib/nagios/plugins/check_vantric /usr/share/doc/vantric; do
  [ ! -e "$f" ] || fail "$f left after remove"
done
dpkg -P $pkg >/dev/null 2>&1
dpkg-query -W $pkg >/dev/null 2>&1 && fail "package still known after purge"
for f in $conffiles; do
  [ ! -e "$f" ] || fail "configuration file $f left after purge"
done
trap - EXIT
echo "removed (configuration files kept: ${left:-none}); purged"

echo "== package: Windows ZIPs and MSI packages"
# strip stamps PE files with the time of day unless told a time: with the
# commit's, the ZIP and the MSI of one bitness hold the same programs.
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || echo 0)
export SOURCE_DATE_EPOCH
for bits in win32 win64; do
  cmake --preset $bits -DVANTRIC_TESTS=ON -DVANTRIC_WERROR=ON >/dev/null
  cmake --build --preset $bits -j2 >/dev/null
  (cd build/$bits && cpack -B "$out" >/dev/null)
  zip=$(ls "$out"/vantric-*-$bits.zip)
  listing=$(python3 -c 'import sys, zipfile; print("\n".join(sorted(n.split("/", 1)[1] for n in zipfile.ZipFile(sys.argv[1]).namelist())))' "$zip")
  wanted=(vantric.exe vantric.txt check_vantric.exe check_vantric.txt README-windows.txt)
  for f in "${wanted[@]}"; do
    grep -qx "$f" <<<"$listing" || fail "$f missing from $(basename "$zip")"
  done
  grep -q -- '-sim' <<<"$listing" && fail "test program in $(basename "$zip")"
  echo "built $(basename "$zip"): $(tr '\n' ' ' <<<"$listing")"
  cmake --build --preset $bits --target msi >/dev/null
  cp build/$bits/vantric-*.msi "$out/"
done
tools/package-msi.sh "$out"
