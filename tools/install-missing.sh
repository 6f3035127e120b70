#!/usr/bin/env bash
# Installs those of the named Debian packages that are missing; needs root
# only when one is. A name with ":i386" enables that architecture first.
#   tools/install-missing.sh PACKAGE...
set -euo pipefail
need=()
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
[ ${#need[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages (run as root to install): ${need[*]}" >&2
  exit 1
fi
echo "== installing: ${need[*]}"
case " ${need[*]}" in
  *:i386*) dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386 ;;
esac
apt-get update -q
DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -q \
  --no-install-recommends "${need[@]}"
