#!/bin/sh
# Resident memory and CPU time of the app after it has sat idle, in a private home.
# Usage: bench/app-idle.sh [BUILD_DIR] [SECONDS]   (defaults: build, 60)
# Runs offscreen; QT_QPA_PLATFORM= (empty) measures the app without a display.
set -eu

build=${1:-build}
seconds=${2:-60}
app="$build/bin/lumenor-app"
[ -x "$app" ] || { echo "app-idle: build $app first" >&2; exit 1; }

home=$(mktemp -d /tmp/lumenor-idle-XXXXXX)
trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; rm -rf "$home"' EXIT

LUMENOR_HOME="$home" XDG_CONFIG_HOME="$home/config" QT_QPA_PLATFORM=${QT_QPA_PLATFORM-offscreen} \
    "$app" >/dev/null 2>&1 &
pid=$!

sleep "$seconds"
[ -d "/proc/$pid" ] || { echo "app-idle: the app exited early" >&2; exit 1; }

ticks=$(getconf CLK_TCK)
rss=$(awk '/^VmRSS:/ { print $2, $3 }' "/proc/$pid/status")
hwm=$(awk '/^VmHWM:/ { print $2, $3 }' "/proc/$pid/status")
threads=$(awk '/^Threads:/ { print $2 }' "/proc/$pid/status")
# Fields 14 and 15 of stat are user and system time in clock ticks; the command name (field 2)
# holds no blanks here.
cpu=$(awk -v t="$ticks" '{ printf "%.2f s (user %.2f s, system %.2f s)", ($14 + $15) / t, $14 / t, $15 / t }' \
    "/proc/$pid/stat")

echo "after ${seconds} s idle ($(nproc) cores): resident $rss (peak $hwm), CPU $cpu, $threads threads"
