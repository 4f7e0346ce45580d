#!/usr/bin/env bash
# Installs the agent's package on this machine for real, reinstalls it over a
# changed settings file, removes and purges it, and checks what is left at
# each step. Needs root; leaves the machine as it found it.
set -uo pipefail
cd "${1:-$(dirname "$0")/..}" || exit 1
[ "$(id -u)" = 0 ] || { echo "skipped: needs root"; exit 77; }
pkg=orvel-nimbrel-agent
for f in /var/lib/dpkg/info/$pkg.list /etc/orvel-agent.conf /var/log/pwragent; do
  [ -e "$f" ] && { echo "skipped: $f is there already"; exit 77; }
done
deb=$(scripts/package deb 2>&1) || { echo "FAILED: scripts/package"; echo "$deb"; exit 1; }
services=$(mktemp); cp /etc/services "$services"
trap 'dpkg -P $pkg >/dev/null 2>&1; cp "$services" /etc/services; rm -f "$services"' EXIT
fails=0
check() { if ! eval "$2"; then echo "FAILED: $1 ($2)"; fails=$((fails + 1)); fi; }
entry_before=$(grep -E '^QX_WOL_AGT[[:space:]]' "$services")

ORVEL_AGENT_PORT=50999 dpkg -i "$deb" >/dev/null || { echo "FAILED: dpkg -i"; exit 1; }
for f in /usr/bin/pwragent /usr/bin/pwrctl /usr/bin/pwrlog; do check "installs $f" "[ -x $f ]"; done
check "depends on libcrypto's package" "dpkg-deb -f \"$deb\" Depends | grep -q 'libssl3'"
check "settings file is a conffile" "dpkg-query -W -f='\${Conffiles}' $pkg | grep -q '/etc/orvel-agent.conf'"
check "log folder set" "grep -qx 'LogFilePath=/var/log/pwragent' /etc/orvel-agent.conf"
check "nothing else set" "[ \$(grep -c '^[A-Za-z]' /etc/orvel-agent.conf) = 1 ]"
if [ -z "$entry_before" ]; then
  check "port from ORVEL_AGENT_PORT" "grep -Eq '^QX_WOL_AGT[[:space:]]+50999/tcp' /etc/services"
else
  check "existing entry kept" "[ \"\$(grep -E '^QX_WOL_AGT[[:space:]]' /etc/services)\" = \"\$entry_before\" ]"
fi
if command -v systemd-analyze >/dev/null; then
  # It reports a bad line and goes on with exit code 0: any word on the unit fails.
  check "unit verifies" "! systemd-analyze verify /lib/systemd/system/pwragent.service 2>&1 | grep pwragent"
fi
echo 'AllowedManagers=127.0.0.1' >>/etc/orvel-agent.conf
dpkg -i "$deb" >/dev/null || { echo "FAILED: dpkg -i over it"; exit 1; }
check "upgrade keeps the settings" "grep -qx 'AllowedManagers=127.0.0.1' /etc/orvel-agent.conf"
check "one services entry" "[ \$(grep -c '^QX_WOL_AGT' /etc/services) = 1 ]"
touch /var/log/pwragent/QX_WOL_A.LOG
dpkg -r $pkg >/dev/null || { echo "FAILED: dpkg -r"; exit 1; }
check "remove leaves the logs" "[ -f /var/log/pwragent/QX_WOL_A.LOG ]"
for f in /usr/bin/pwragent /usr/bin/pwrctl /usr/bin/pwrlog /lib/systemd/system/pwragent.service; do
  check "remove removes $f" "[ ! -e $f ]"
done
dpkg -P $pkg >/dev/null || { echo "FAILED: dpkg -P"; exit 1; }
check "purge removes the logs" "[ ! -e /var/log/pwragent ]"
check "purge removes the settings" "[ ! -e /etc/orvel-agent.conf ]"
check "purge restores /etc/services" "cmp -s /etc/services $services"
[ $fails = 0 ] && echo "package test passed"
exit $fails
