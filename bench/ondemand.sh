#!/bin/sh
# How long `lumenor on --for 1m` takes to its reply when no app runs (the command starts one and
# waits for its socket) and when the app already runs. Headless, in a private home with logind
# played by python-dbusmock on a private bus.
#
# Usage: bench/ondemand.sh [BUILD_DIR]           (default: build)
#   LUMENOR_BENCH_RUNS=N     runs of each kind (default 7); the median and the slowest are shown
#
# Exits 0 whether or not the target is met; non-zero only when something could not be measured.
set -eu

build=${1:-build}
runs=${LUMENOR_BENCH_RUNS:-7}
target_ms=150
python=/usr/bin/python3
app="$(cd "$build" && pwd -P)/bin/lumenor-app"
tool="$(cd "$build" && pwd -P)/bin/lumenor"

fail() {
    echo "ondemand: $*" >&2
    exit 1
}

if [ ! -x "$app" ] || [ ! -x "$tool" ]; then
    fail "no app and command in $build: build them first"
fi
if ! command -v dbus-daemon >/dev/null || ! "$python" -c 'import dbusmock' 2>/dev/null; then
    fail "needs dbus-daemon and python3-dbusmock (scripts/setup installs them)"
fi

scratch=$(mktemp -d)
helpers=""
cleanup() {
    stop_app
    for pid in $helpers; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$scratch"
}
trap cleanup EXIT INT TERM

export LUMENOR_HOME="$scratch" XDG_STATE_HOME="$scratch/state" XDG_CONFIG_HOME="$scratch/config"
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$scratch/bus" DBUS_SESSION_BUS_ADDRESS="unix:path=$scratch/bus"
unset DISPLAY WAYLAND_DISPLAY LUMENOR_NO_START

# The app this script started: the one whose socket is in the scratch home. It is nobody's child,
# so it is found by its program and its environment.
app_pid() {
    for proc in /proc/[0-9]*; do
        [ "$(readlink "$proc/exe" 2>/dev/null)" = "$app" ] || continue
        if tr '\0' '\n' <"$proc/environ" 2>/dev/null | grep -qx "LUMENOR_HOME=$scratch"; then
            echo "${proc#/proc/}"
            return
        fi
    done
}

stop_app() {
    pid=$(app_pid)
    [ -n "$pid" ] || return 0
    kill "$pid"
    while kill -0 "$pid" 2>/dev/null; do sleep 0.05; done
}

dbus-daemon --session --nofork --address="$DBUS_SESSION_BUS_ADDRESS" >/dev/null 2>&1 &
helpers="$helpers $!"
tries=0
until [ -S "$scratch/bus" ]; do
    tries=$((tries + 1))
    [ "$tries" -lt 100 ] || fail "the private bus did not start"
    sleep 0.1
done
"$python" -m dbusmock --template logind >/dev/null 2>&1 &
helpers="$helpers $!"
tries=0
until dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.freedesktop.login1 2>/dev/null |
    grep -q 'boolean true'; do
    tries=$((tries + 1))
    [ "$tries" -lt 100 ] || fail "logind played by python-dbusmock did not start"
    sleep 0.1
done

# Milliseconds one `lumenor on --for 1m` takes to its reply.
timed_on() {
    start=$(date +%s%N)
    "$tool" on --for 1m >"$scratch/on.log" 2>&1 || fail "\`lumenor on --for 1m\` failed:
$(cat "$scratch/on.log")"
    end=$(date +%s%N)
    echo $(((end - start) / 1000000))
}

# "median N ms, slowest M ms" of the numbers on standard input.
summary() {
    sort -n | awk '{ v[NR] = $1 } END { printf "median %d ms, slowest %d ms", v[int((NR + 1) / 2)], v[NR] }'
}

cold=""
for _ in $(seq "$runs"); do
    stop_app
    [ -z "$(app_pid)" ] || fail "the app did not stop"
    cold="$cold $(timed_on)"
    [ -n "$(app_pid)" ] || fail "no app was started on demand"
done
warm=""
for _ in $(seq "$runs"); do
    warm="$warm $(timed_on)"
done

cold_summary=$(echo "$cold" | tr ' ' '\n' | grep . | summary)
warm_summary=$(echo "$warm" | tr ' ' '\n' | grep . | summary)
cold_median=$(echo "$cold" | tr ' ' '\n' | grep . | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
verdict="within"
[ "$cold_median" -le "$target_ms" ] || verdict="over"
echo "== lumenor on --for 1m to its reply ($(nproc) cores, $runs runs each)"
echo "   no app running (started on demand): $cold_summary"
echo "   app already running:                $warm_summary"
echo "   target <= $target_ms ms with no app running: $verdict"
