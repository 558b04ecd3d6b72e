#!/bin/sh
# Starts a real logind (Debian's elogind, unpacked by scripts/setup, never installed) that cannot
# put this computer to sleep, on a private system bus with the installed polkitd beside it.
#   real-logind.sh ELOGIND_ROOT FOLDER
# Writes the bus address to FOLDER/address once logind answers, then waits; what it started ends
# with it. Needs root for its mount namespaces; exits 77 saying why when it cannot run.
set -eu
root=$1 folder=$2
skip() { echo "real-logind: $*" >&2; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "needs root for its mount namespaces"
command -v unshare >/dev/null || skip "unshare (util-linux) is not installed"
[ -x "$root/lib/elogind/elogind" ] || skip "elogind is not unpacked in $root (run scripts/setup)"
[ -x /usr/lib/polkit-1/polkitd ] || skip "polkitd is not installed (run scripts/setup)"

# Every user reaches a system bus.
chmod o+x "$folder"
# The system bus's default policy, with logind's and polkit's own.
cat >"$folder/bus.conf" <<CONF
<busconfig><type>system</type><auth>EXTERNAL</auth><listen>unix:path=$folder/bus</listen>
<policy context="default"><allow user="*"/><deny own="*"/><deny send_type="method_call"/>
<allow send_type="signal"/><allow send_requested_reply="true" send_type="method_return"/>
<allow send_requested_reply="true" send_type="error"/><allow receive_type="method_call"/>
<allow receive_type="method_return"/><allow receive_type="error"/><allow receive_type="signal"/>
<allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus"/></policy>
<include>$root/usr/share/dbus-1/system.d/org.freedesktop.login1.conf</include>
<include>/usr/share/dbus-1/system.d/org.freedesktop.PolicyKit1.conf</include></busconfig>
CONF
# Every sleep is forbidden, so CanSuspend answers "na"; keys and the lid do nothing.
cat >"$folder/logind.conf" <<CONF
[Login]
HandlePowerKey=ignore
HandleSuspendKey=ignore
HandleHibernateKey=ignore
HandleLidSwitch=ignore
HandleLidSwitchExternalPower=ignore
HandleLidSwitchDocked=ignore
[Sleep]
AllowSuspend=no
AllowHibernation=no
AllowSuspendThenHibernate=no
AllowHybridSleep=no
CONF
: >"$folder/empty"
mkdir -p "$folder/actions"
cp /usr/share/polkit-1/actions/* "$folder/actions/"
cp "$root/usr/share/polkit-1/actions/"* "$folder/actions/"

pids=""
trap 'kill $pids 2>/dev/null' EXIT
trap 'exit 143' INT TERM
dbus-daemon --config-file="$folder/bus.conf" --nofork --nopidfile &
pids="$pids $!"
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$folder/bus"
until [ -S "$folder/bus" ]; do sleep 0.02; done
# polkit learns logind's actions from a folder of its own.
# shellcheck disable=SC2016 # the inner shells expand them
unshare -m --propagation private sh -c 'mount --bind "$1/actions" /usr/share/polkit-1/actions
    exec /usr/lib/polkit-1/polkitd --no-debug' polkit "$folder" &
pids="$pids $!"
# shellcheck disable=SC2016
unshare -m --propagation private sh -c 'mount -t tmpfs tmpfs /run
    mount -t tmpfs tmpfs /sys/fs/cgroup
    mount --bind -o ro "$2/empty" /sys/power/state
    mkdir -p /run/elogind/logind.conf.d
    cp "$2/logind.conf" /run/elogind/logind.conf.d/
    LD_LIBRARY_PATH="$1/lib/elogind" exec "$1/lib/elogind/elogind"' elogind "$root" "$folder" &
pids="$pids $!"

i=0
until dbus-send --system --dest=org.freedesktop.login1 --print-reply /org/freedesktop/login1 \
    org.freedesktop.DBus.Peer.Ping >/dev/null 2>&1; do
    i=$((i + 1))
    [ $i -lt 200 ] || { echo "real-logind: logind did not come up" >&2; exit 1; }
    sleep 0.05
done
echo "$DBUS_SYSTEM_BUS_ADDRESS" >"$folder/address"
wait
