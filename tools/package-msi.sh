#!/usr/bin/env bash
# Checks the two MSI packages in OUTDIR that the target msi of build/win32
# and build/win64 made: their tables with msiinfo, then an install, an upgrade from an
# older version, a refused downgrade and the removal with 64-bit wine's
# msiexec, in a fresh 64-bit prefix of its own (build/wineprefix-msi). The
# wine server is waited for after every step before files or the registry
# are read, and stopped at the end.
#   tools/package-msi.sh OUTDIR   (from the package stage, after both builds)
set -euo pipefail
cd "$(dirname "$0")/.."
fail() { echo "package msi: $*" >&2; exit 1; }
out=${1:?OUTDIR}
version=$(sed -n 's/^project(vantric VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
old=0.0.1  # the lower version the upgrade starts from
[ "$(printf '%s\n' "$old" "$version" | sort -V | head -1)" = "$old" ] && [ "$old" != "$version" ] ||
  fail "version $version is not above $old"
declare -A bits=([x64]=win64 [x86]=win32)
msi() { echo "$out/vantric-$version-$1.msi"; }
root() { echo "build/${bits[$1]}/packaging/msi/root"; }
files=(vantric.exe check_vantric.exe vantric.txt check_vantric.txt README-windows.txt textfile.args)
staged() {  # arch, file: the bytes the package was built from
  if [ "$2" = textfile.args ]; then echo "build/${bits[$1]}/packaging/msi/textfile.args"; else echo "$(root "$1")/$2"; fi
}
rows() { msiinfo export "$1" "$2" | tail -n +4 | tr -d '\r' | LC_ALL=C sort; }
property() { rows "$1" Property | sed -n "s/^$2\t//p"; }

echo "== package: MSI tables"
# The older package: the unstripped programs (other bytes, same behaviour)
# under another version number, so that the upgrade visibly replaces them.
work=build/msi-test
rm -rf "$work"
mkdir -p "$work/old-root"
cp "$(root x64)"/*.txt "$work/old-root/"
cp build/win64/app/vantric.exe build/win64/app/check_vantric.exe "$work/old-root/"
cmake -DSTAGING="$work/old-root" -DCONFIG="$(staged x64 textfile.args)" -DVERSION=$old -DARCH=x64 \
  -DOUTPUT="$work/vantric-$old-x64.msi" -DWORK="$work/old" -P packaging/windows/msi.cmake
oldmsi=$work/vantric-$old-x64.msi

declare -A template=([x64]="x64;1033" [x86]="Intel;1033") folder=([x64]=ProgramFiles64Folder [x86]=ProgramFilesFolder)
declare -A bit64=([x64]=256 [x86]=0)
for arch in x64 x86; do
  m=$(msi "$arch")
  name=$(basename "$m")
  [ -f "$m" ] || fail "$m not built"
  got=$(msiinfo suminfo "$m" | sed -n 's/^Template: //p')
  [ "$got" = "${template[$arch]}" ] || fail "$name: platform '$got', not ${template[$arch]}"
  b=${bit64[$arch]}
  # Component, directory, attributes, condition: every component 64-bit in
  # the x64 package; the argument file also permanent (16) and never
  # overwritten (128); the registry values as key paths (4).
  want=$(printf '%s\n' "check_vantric.exe	INSTALLDIR	$b	" "manuals	INSTALLDIR	$b	" \
    "path	INSTALLDIR	$((b | 4))	ADDTOPATH = \"1\"" "registry	INSTALLDIR	$((b | 4))	" \
    "statedir	STATEDIR	$b	" "textfile.args	INSTALLDIR	$((b | 16 | 128))	" "vantric.exe	INSTALLDIR	$b	")
  [ "$(rows "$m" Component | cut -f1,3,4,5)" = "$want" ] || fail "$name: Component table:
$(rows "$m" Component)"
  # Every installed file with the size of the bytes it was built from.
  for f in "${files[@]}"; do
    size=$(rows "$m" File | awk -F'\t' -v f="$f" '$3 == f { print $4 }')
    [ "$size" = "$(stat -c %s "$(staged "$arch" "$f")")" ] || fail "$name: File table: $f has size '$size'"
  done
  [ "$(rows "$m" File | wc -l)" = ${#files[@]} ] || fail "$name: File table: $(rows "$m" File | cut -f3)"
  want=$(printf '%s\n' "CommonAppDataFolder	TARGETDIR	." "INSTALLDIR	${folder[$arch]}	vantric" \
    "STATEDIR	CommonAppDataFolder	vantric" "${folder[$arch]}	TARGETDIR	." "TARGETDIR		SourceDir" | LC_ALL=C sort)
  [ "$(rows "$m" Directory)" = "$want" ] || fail "$name: Directory table: $(rows "$m" Directory)"
  # Upgrades below this version, refuses (only detects) anything above.
  code=$(property "$m" UpgradeCode)
  want=$(printf '%s\n' "$code		$version		1		WIX_UPGRADE_DETECTED" \
    "$code	$version			2		WIX_DOWNGRADE_DETECTED")
  [ "$(rows "$m" Upgrade)" = "$want" ] || fail "$name: Upgrade table: $(rows "$m" Upgrade)"
  rows "$m" LaunchCondition | grep -q '^NOT WIX_DOWNGRADE_DETECTED	A newer version of vantric' ||
    fail "$name: no downgrade message"
  for p in "ALLUSERS	1" "ADDTOPATH	0" "ProductVersion	$version"; do
    rows "$m" Property | grep -qx "$p" || fail "$name: Property table lacks '$p'"
  done
  # The programs and texts are the ZIP's, byte for byte.
  python3 -c 'import sys, zipfile
for n in zipfile.ZipFile(sys.argv[1]).namelist():
    if zipfile.ZipFile(sys.argv[1]).read(n) != open(sys.argv[2] + "/" + n.split("/", 1)[1], "rb").read():
        sys.exit(n)' "$out/vantric-$version-${bits[$arch]}.zip" "$(root "$arch")" || fail "$name differs from the ZIP"
  echo "$name: platform $got, $(rows "$m" File | wc -l) files (those of the ZIP), product $(property "$m" ProductCode)"
done

echo "== package: MSI under wine"
export WINEPREFIX=$PWD/build/wineprefix-msi WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
wine64=/usr/lib/wine/wine64
[ -x "$wine64" ] || wine64=$(command -v wine64)
rm -rf "$WINEPREFIX"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
"$wine64" wineboot -i >/dev/null 2>&1 </dev/null || true
wineserver -w
c=$WINEPREFIX/drive_c
run() {  # command line under wine; its status; then waits for the server
  local rc=0
  "$wine64" "$@" </dev/null || rc=$?
  wineserver -w
  return $rc
}
msiexec() { run msiexec "$@" /qn; }
# The registry as the server saved it on exit (HKLM is system.reg): read
# only after a wait, which also spares a wine start per value.
regvalue() {  # key below HKLM, value name: its data, or nothing
  local key=${1//\\/\\\\}
  KEY="[${key,,}] " NAME="\"${2,,}\"=" awk '
    BEGIN { key = ENVIRON["KEY"]; name = ENVIRON["NAME"] }
    /^\[/ { inkey = index(tolower($0), key) == 1; next }
    inkey && index(tolower($0), name) == 1 {
      v = substr($0, length(name) + 1); sub(/^str\([0-9]\):/, "", v)
      gsub(/^"|"$/, "", v); gsub(/\\\\/, "\\", v); print v
    }' "$WINEPREFIX/system.reg"
}
registered() {  # product code: registered for removal
  grep -qiF "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\$1] " "$WINEPREFIX/system.reg"
}
machine_path() { regvalue 'System\CurrentControlSet\Control\Session Manager\Environment' PATH; }
same_files() {  # arch, folder (unix): every file holds the bytes it was built from
  for f in "${files[@]}"; do
    cmp -s "$(staged "$1" "$f")" "$2/$f" || fail "$2/$f is not the built $f"
  done
}
programs_run() {  # windows folder, label
  local v line
  v=$(run "$1\\check_vantric.exe" -V) || [ $? -eq 3 ] || fail "$1\\check_vantric.exe -V failed"
  [[ "$v" == *"$version"* ]] || fail "$1\\check_vantric.exe -V says '$v', not $version"
  line=$(run "$1\\vantric.exe" -C Processor -I _Total -P "% Processor Time") || fail "$1\\vantric.exe failed"
  [[ "$line" =~ ^[0-9]+\.[0-9]{5}$'\r'$ ]] || fail "$1\\vantric.exe wrote '$line'"
  echo "$2: $(tr -d '\r' <<<"$v"); vantric.exe: $(tr -d '\r' <<<"$line")"
}
# Two runs judged since the last run, in the state folder the package made:
# the first stores a baseline, the second judges the time since the first.
# Both under one wine server: wine's boot time is its server's start, so a
# server of its own for each run would be another boot.
since_last_runs() {  # windows folder
  local first second
  [ -d "$c/ProgramData/vantric" ] || fail "no state folder C:\ProgramData\vantric after the install"
  wineserver -p5
  first=$("$wine64" "$1\check_vantric.exe" --since-last -v -p '\System\System Up Time' </dev/null) ||
    fail "--since-last failed: $first"
  sleep 0.3
  second=$("$wine64" "$1\check_vantric.exe" --since-last -v -p '\System\System Up Time' </dev/null) ||
    fail "--since-last failed: $second"
  wineserver -w
  grep -q '^state: new baseline stored in C:\\ProgramData\\vantric\\' <<<"$(tr -d '\r' <<<"$first")" ||
    fail "first --since-last run: $first"
  grep -q '^window: .* since the last run' <<<"$(tr -d '\r' <<<"$second")" || fail "second --since-last run: $second"
  echo "--since-last: a baseline, then the window since it, in C:\ProgramData\vantric"
}

# 1. The older version into another folder, with the PATH entry.
dir64=$c/tools/vantric win_dir64='C:\tools\vantric'
msiexec /i "$oldmsi" INSTALLDIR="$win_dir64" ADDTOPATH=1 || fail "installing $old failed"
cmp -s "$work/old-root/vantric.exe" "$dir64/vantric.exe" || fail "$old not installed in $win_dir64"
[[ "$(machine_path)" == *";$win_dir64\\" ]] || fail "ADDTOPATH=1: PATH is $(machine_path)"
echo "# edited by the site" >>"$dir64/textfile.args"
edited=$(cat "$dir64/textfile.args")
echo "installed $old in $win_dir64 with the PATH entry; textfile.args edited"

# 2. The upgrade: same folder and PATH choice, new programs, the edit kept.
msiexec /i "$(msi x64)" || fail "upgrading to $version failed"
registered "$(property "$oldmsi" ProductCode)" && fail "$old still registered after the upgrade"
registered "$(property "$(msi x64)" ProductCode)" || fail "$version not registered"
[ "$(cat "$dir64/textfile.args")" = "$edited" ] || fail "the upgrade replaced the edited textfile.args"
for f in "${files[@]}"; do
  [ "$f" = textfile.args ] || cmp -s "$(staged x64 "$f")" "$dir64/$f" || fail "upgrade: $f is not the built one"
done
[ "$(regvalue 'Software\vantric' InstallDir)" = "$win_dir64\\" ] ||
  fail "InstallDir is '$(regvalue 'Software\vantric' InstallDir)'"
[[ "$(machine_path)" == *";$win_dir64\\" ]] || fail "the upgrade lost the PATH entry: $(machine_path)"
echo "upgraded to $version: programs replaced, edited textfile.args kept, InstallDir and PATH kept"
programs_run "$win_dir64" "x64"
since_last_runs "$win_dir64"

# 3. The downgrade is refused by its launch condition, the newer version
#    stays. 1603 (failed installation) reaches the shell as 1603 % 256. This
#    msiexec shows no message box under /qn and logs no text for it.
rc=0; msiexec /i "$oldmsi" /l*v 'C:\downgrade.log' || rc=$?
[ $rc -eq $((1603 % 256)) ] || fail "the downgrade to $old ended $rc, not 1603"
log=$(tr -d '\r' <"$c/downgrade.log")
grep -qx "Property(S): WIX_DOWNGRADE_DETECTED = $(property "$(msi x64)" ProductCode)" <<<"$log" ||
  fail "the downgrade did not detect $version"
grep -q '^Action ended .*: LaunchConditions. Return value 0.$' <<<"$log" || fail "the downgrade passed its launch conditions"
registered "$(property "$(msi x64)" ProductCode)" || fail "$version gone after the refused downgrade"
cmp -s "$(staged x64 vantric.exe)" "$dir64/vantric.exe" || fail "the refused downgrade changed vantric.exe"
echo "downgrade to $old refused (1603) by its launch condition; $version stays"

# 4. The 32-bit package beside it, in the default folder of 32-bit programs.
dir32="$c/Program Files (x86)/vantric" win_dir32='C:\Program Files (x86)\vantric'
msiexec /i "$(msi x86)" || fail "installing the x86 package failed"
same_files x86 "$dir32"
[ "$(regvalue 'Software\Wow6432Node\vantric' InstallDir)" = "$win_dir32\\" ] ||
  fail "32-bit InstallDir is '$(regvalue 'Software\Wow6432Node\vantric' InstallDir)'"
[ -z "$(regvalue 'Software\Wow6432Node\vantric' OnPath)" ] || fail "x86: PATH entry without ADDTOPATH=1"
[ "$(grep -o vantric <<<"$(machine_path)" | wc -l)" = 1 ] || fail "x86: PATH is $(machine_path)"
echo "x86 installed in $win_dir32 beside x64; InstallDir in the 32-bit registry; PATH untouched"
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  programs_run "$win_dir32" "x86"
else
  echo "x86: installed programs NOT RUN: this kernel cannot start 32-bit programs" \
    "(/usr/lib/wine/wine: $(/usr/lib/wine/wine --version 2>&1 | head -1 | sed 's/.*: //'))"
fi

# 5. Removal: every file and value, except the argument file (kept, as
#    README-windows.txt says), and the PATH entry.
msiexec /x "$(msi x64)" || fail "removing x64 failed"
msiexec /x "$(msi x86)" || fail "removing x86 failed"
[ "$(ls "$dir64")" = textfile.args ] || fail "left in $win_dir64 after removal: $(ls "$dir64" | tr '\n' ' ')"
[ "$(cat "$dir64/textfile.args")" = "$edited" ] || fail "removal changed the edited textfile.args"
[ "$(ls "$dir32")" = textfile.args ] || fail "left in $win_dir32 after removal: $(ls "$dir32" | tr '\n' ' ')"
for key in 'Software\vantric' 'Software\Wow6432Node\vantric'; do
  for value in InstallDir OnPath; do
    [ -z "$(regvalue "$key" $value)" ] || fail "$key $value left after removal"
  done
done
[[ "$(machine_path)" != *vantric* ]] || fail "PATH after removal: $(machine_path)"
for arch in x64 x86; do
  registered "$(property "$(msi $arch)" ProductCode)" && fail "$arch still registered after removal"
done
echo "removed both: no program, manual, registry value or PATH entry left; textfile.args kept"
