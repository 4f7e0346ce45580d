#!/usr/bin/env bash
# Runs lintian on the agent's package, installs it on this machine for real,
# reinstalls it over a changed settings file, removes and purges it, upgrades
# a 1.0.0 install that has its port in /etc/services, and checks what is left
# at each step. Needs root; leaves the machine as it found it.
set -uo pipefail
cd "${1:-$(dirname "$0")/..}" || exit 1
[ "$(id -u)" = 0 ] || { echo "skipped: needs root"; exit 77; }
pkg=orvel-nimbrel-agent
for f in /var/lib/dpkg/info/$pkg.list /etc/orvel-agent.conf /var/log/pwragent; do
  [ -e "$f" ] && { echo "skipped: $f is there already"; exit 77; }
done
deb=$(scripts/package deb 2>&1) || { echo "FAILED: scripts/package"; echo "$deb"; exit 1; }
services=$(mktemp); cp /etc/services "$services"
old=$(mktemp -d)
trap 'dpkg -P $pkg >/dev/null 2>&1; cp "$services" /etc/services; rm -rf "$services" "$old" "$old.deb"' EXIT
fails=0
check() { if ! eval "$2"; then echo "FAILED: $1 ($2)"; fails=$((fails + 1)); fi; }
# Every error and warning not overridden fails (grep shows them).
check "lintian clean" "! lintian $deb 2>&1 | grep -E '^[EW]: '"

ORVEL_AGENT_PORT=50999 dpkg -i "$deb" >/dev/null || { echo "FAILED: dpkg -i"; exit 1; }
for f in /usr/bin/pwragent /usr/bin/pwrctl /usr/bin/pwrlog; do check "installs $f" "[ -x $f ]"; done
check "depends on libcrypto's package" "dpkg-deb -f \"$deb\" Depends | grep -q 'libssl3'"
check "settings file is a conffile" "dpkg-query -W -f='\${Conffiles}' $pkg | grep -q '/etc/orvel-agent.conf'"
check "log folder set" "grep -qx 'LogFilePath=/var/log/pwragent' /etc/orvel-agent.conf"
check "port from ORVEL_AGENT_PORT" "[ \"\$(grep '^Port=' /etc/orvel-agent.conf)\" = Port=50999 ]"
check "nothing else set" "[ \$(grep -c '^[A-Za-z]' /etc/orvel-agent.conf) = 2 ]"
check "/etc/services untouched" "cmp -s /etc/services $services"
check "man pwrctl" "man pwrctl 2>/dev/null | grep -q 'pwrctl.*talk to ORVEL Nimbrel agents'"
if command -v systemd-analyze >/dev/null; then
  # It reports a bad line and goes on with exit code 0: any word on the unit fails.
  check "unit verifies" "! systemd-analyze verify /lib/systemd/system/pwragent.service 2>&1 | grep pwragent"
fi
echo 'AllowedManagers=127.0.0.1' >>/etc/orvel-agent.conf
dpkg -i "$deb" >/dev/null || { echo "FAILED: dpkg -i over it"; exit 1; }
check "upgrade keeps the settings" "grep -qx 'AllowedManagers=127.0.0.1' /etc/orvel-agent.conf"
check "reinstall keeps the port" "grep -qx 'Port=50999' /etc/orvel-agent.conf"
touch /var/log/pwragent/QX_WOL_A.LOG
dpkg -r $pkg >/dev/null || { echo "FAILED: dpkg -r"; exit 1; }
check "remove leaves the logs" "[ -f /var/log/pwragent/QX_WOL_A.LOG ]"
for f in /usr/bin/pwragent /usr/bin/pwrctl /usr/bin/pwrlog /lib/systemd/system/pwragent.service; do
  check "remove removes $f" "[ ! -e $f ]"
done
dpkg -P $pkg >/dev/null || { echo "FAILED: dpkg -P"; exit 1; }
check "purge removes the logs" "[ ! -e /var/log/pwragent ]"
check "purge removes the settings" "[ ! -e /etc/orvel-agent.conf ]"
check "/etc/services still untouched" "cmp -s /etc/services $services"

# 1.0.0 as it left things: no Port=, its marked entry, one by hand after it.
mkdir -p "$old/DEBIAN" "$old/etc"
printf 'Package: %s\nVersion: 1.0.0\nArchitecture: all\nMaintainer: x <x@x.example>\nDescription: x\n' $pkg >"$old/DEBIAN/control"
echo /etc/orvel-agent.conf >"$old/DEBIAN/conffiles"
printf 'LogFilePath=/var/log/pwragent\n#Port=50123\n' >"$old/etc/orvel-agent.conf"
dpkg-deb -b "$old" "$old.deb" >/dev/null && dpkg -i "$old.deb" >/dev/null || { echo "FAILED: 1.0.0"; exit 1; }
printf 'QX_WOL_AGT\t50998/tcp\t\t# added by orvel-nimbrel-agent\nQX_WOL_AGT 50997/tcp\n' >>/etc/services
dpkg -i "$deb" >/dev/null || { echo "FAILED: upgrade from 1.0.0"; exit 1; }
check "upgrade moves the marked entry" "[ \"\$(grep '^Port=' /etc/orvel-agent.conf)\" = Port=50998 ]"
check "upgrade keeps the hand-written entry" "[ \"\$(grep QX_WOL_AGT /etc/services)\" = 'QX_WOL_AGT 50997/tcp' ]"
dpkg -P $pkg >/dev/null
[ $fails = 0 ] && echo "package test passed"
exit $fails
