#!/bin/sh
# How often the app wakes up, idle and while it keeps a two-hour session, for this tree's build
# and for the build of the commit before the engine stopped ticking once a second. Both run side
# by side, headless, each in a private home with logind played by python-dbusmock on a private
# bus (without a login manager `lumenor on` is refused and nothing would be held).
#
# Usage: bench/wakeups.sh [BUILD_DIR]            (default: build)
#   LUMENOR_BENCH_PREVIOUS=DIR     an already-built tree to measure as the previous build; else
#                                  the previous commit is built once into BUILD_DIR/bench-previous
#   LUMENOR_BENCH_COMMIT=REV       the previous commit (default 3478889)
#   LUMENOR_BENCH_SECONDS=N        length of each window (default 60)
#
# Counts the context switches of all the app's threads over each window. Exits 0 whether or not
# the targets are met; non-zero only when something could not be measured.
set -eu

build=${1:-build}
seconds=${LUMENOR_BENCH_SECONDS:-60}
previous_commit=${LUMENOR_BENCH_COMMIT:-3478889}
settle=5
idle_target=1
session_target=2

root=$(cd "$(dirname "$0")/.." && pwd)
python=/usr/bin/python3

fail() {
    echo "wakeups: $*" >&2
    exit 1
}

# The last lines of a log, for a message: the scratch folder goes when the script ends.
log_of() {
    tail -n 5 "$1" 2>/dev/null | sed 's/^/    /'
}

# The app and the command of a build tree: the Linux layout first, then the app folder of
# earlier commits.
app_of() {
    if [ -x "$1/bin/lumenor-app" ]; then
        echo "$1/bin/lumenor-app"
    elif [ -x "$1/Lumenor.app/Contents/MacOS/Lumenor" ]; then
        echo "$1/Lumenor.app/Contents/MacOS/Lumenor"
    fi
}

tool_of() {
    if [ -x "$1/bin/lumenor-app" ] && [ -x "$1/bin/lumenor" ]; then
        echo "$1/bin/lumenor"
    elif [ -x "$1/Lumenor.app/Contents/Helpers/lumenor" ]; then
        echo "$1/Lumenor.app/Contents/Helpers/lumenor"
    fi
}

cache_value() {
    sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt" 2>/dev/null || true
}

# The previous commit's app and command, from source exported once into the build tree; later
# runs only ask ninja whether anything is out of date.
build_previous() {
    cache="$build/bench-previous"
    commit=$(git -C "$root" rev-parse --verify --quiet "$previous_commit^{commit}") ||
        fail "cannot find commit $previous_commit; set LUMENOR_BENCH_PREVIOUS to a built tree"
    if [ "$(cat "$cache/commit" 2>/dev/null || true)" != "$commit" ]; then
        echo "wakeups: building $previous_commit once into $cache" >&2
        rm -rf "$cache"
        mkdir -p "$cache/source"
        git -C "$root" archive "$commit" | tar -x -C "$cache/source"
        type=$(cache_value CMAKE_BUILD_TYPE)
        launcher=$(cache_value CMAKE_CXX_COMPILER_LAUNCHER)
        # Built as this tree is, so that the two differ only by their code.
        cmake -S "$cache/source" -B "$cache/build" -G Ninja \
            -DCMAKE_BUILD_TYPE="${type:-RelWithDebInfo}" \
            ${launcher:+-DCMAKE_CXX_COMPILER_LAUNCHER="$launcher"} \
            -DLUMENOR_BUILD_TESTS=OFF -DLUMENOR_BUILD_BENCH=OFF >"$cache/configure.log" 2>&1 ||
            { tail -n 30 "$cache/configure.log" >&2; fail "configuring $previous_commit failed"; }
        echo "$commit" >"$cache/commit"
    fi
    cmake --build "$cache/build" --target Lumenor lumenor >"$cache/build.log" 2>&1 ||
        { tail -n 30 "$cache/build.log" >&2; fail "building $previous_commit failed"; }
    previous="$cache/build"
}

# One line per thread of PID: thread id, context switches so far, how many of them were
# involuntary (preempted, which says more about the machine's load than about the app), name.
snapshot() {
    for status in /proc/"$1"/task/*/status; do
        cat "$status" 2>/dev/null || true
    done | awk -F '\t' '
        /^Name:/ { name = $2 }
        /^Pid:/ { tid = $2 }
        /^voluntary_ctxt_switches:/ { voluntary = $2 }
        /^nonvoluntary_ctxt_switches:/ { print tid, voluntary + $2, $2, name }'
}

uptime_now() {
    awk '{ print $1 }' /proc/uptime
}

alive() {
    state=$(awk '/^State:/ { print $2 }' "/proc/$1/status" 2>/dev/null || true)
    [ -n "$state" ] && [ "$state" != Z ] && [ "$state" != X ]
}

# Measures one window of PID and appends a row to OUT: label, state, switches a minute, target,
# verdict, notes (threads, those that came and went, the busiest by name, the involuntary ones).
window() { # PID LABEL STATE TARGET OUT
    snapshot "$1" >"$home/start"
    started=$(uptime_now)
    sleep "$seconds"
    snapshot "$1" >"$home/end"
    ended=$(uptime_now)
    if ! alive "$1"; then
        code=0
        wait "$1" || code=$?
        fail "the $2 app died during the $3 window (status $code):
$(log_of "$home/app.log")"
    fi
    awk -v label="$2" -v state="$3" -v target="$4" -v elapsed="$(echo "$started $ended" |
        awk '{ print $2 - $1 }')" '
        NR == FNR { before[$1] = $2; preempted[$1] = $3; next }
        {
            name = $0; sub(/^[^ ]+ [^ ]+ [^ ]+ /, "", name)
            delta = ($1 in before) ? $2 - before[$1] : $2
            involuntary += ($1 in before) ? $3 - preempted[$1] : $3
            if (!($1 in before)) born++
            seen[$1] = 1; total += delta; threads++; byname[name] += delta
        }
        END {
            for (t in before) if (!(t in seen)) gone++
            rate = total * 60 / elapsed
            busiest = ""
            for (n in byname) if (busiest == "" || byname[n] > byname[busiest]) busiest = n
            notes = sprintf("%d threads", threads)
            if (born) notes = notes sprintf(", %d started", born)
            if (gone) notes = notes sprintf(", %d ended (uncounted)", gone)
            if (total) notes = notes sprintf(", %d in \"%s\", %d involuntary", byname[busiest], busiest, involuntary)
            printf "%s\t%s\t%.1f\t<= %s\t%s\t%s\n", label, state, rate, target,
                (rate <= target ? "met" : "not met"), notes
        }' "$home/start" "$home/end" >>"$5"
}

# Starts a private bus with logind on it, the app of BUILD, and measures it idle and then with a
# session. Runs in a subshell of its own; every process it starts is recorded for the cleanup.
measure() { # LABEL BUILD OUT
    app=$(app_of "$2")
    tool=$(tool_of "$2")
    if [ -z "$app" ] || [ -z "$tool" ]; then
        fail "no app and command in $2 (build it first)"
    fi
    home="$scratch/$1"
    mkdir -p "$home/run"
    chmod 700 "$home/run"
    export LUMENOR_HOME="$home" XDG_STATE_HOME="$home/state" XDG_CONFIG_HOME="$home/config" \
        XDG_RUNTIME_DIR="$home/run"
    export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$home/bus" DBUS_SESSION_BUS_ADDRESS="unix:path=$home/bus"

    dbus-daemon --session --nofork --address="$DBUS_SESSION_BUS_ADDRESS" >"$home/bus.log" 2>&1 &
    echo $! >>"$scratch/pids"
    tries=0
    until [ -S "$home/bus" ]; do
        tries=$((tries + 1))
        [ "$tries" -lt 100 ] || fail "the private bus did not start:
$(log_of "$home/bus.log")"
        sleep 0.1
    done
    "$python" -m dbusmock --template logind >"$home/logind.log" 2>&1 &
    echo $! >>"$scratch/pids"
    tries=0
    until dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.freedesktop.login1 2>/dev/null |
        grep -q 'boolean true'; do
        tries=$((tries + 1))
        [ "$tries" -lt 100 ] || fail "logind played by python-dbusmock did not start:
$(log_of "$home/logind.log")"
        sleep 0.1
    done

    "$app" >"$home/app.log" 2>&1 &
    pid=$!
    echo "$pid" >>"$scratch/pids"
    sleep "$settle"
    alive "$pid" || fail "the $1 app exited on start:
$(log_of "$home/app.log")"
    window "$pid" "$1" idle "$idle_target" "$3"

    "$tool" on --for 2h >"$home/on.log" 2>&1 ||
        fail "\`lumenor on --for 2h\` failed for the $1 build:
$(log_of "$home/on.log")"
    # The request itself wakes the app; only what follows is measured.
    sleep 3
    window "$pid" "$1" "session 2h" "$session_target" "$3"
}

if [ -z "$(app_of "$build")" ] || [ -z "$(tool_of "$build")" ]; then
    fail "no app and command in $build: build them first"
fi
if ! command -v dbus-daemon >/dev/null || ! "$python" -c 'import dbusmock' 2>/dev/null; then
    fail "needs dbus-daemon and python3-dbusmock (scripts/setup installs them)"
fi
if [ -n "${LUMENOR_BENCH_PREVIOUS:-}" ]; then
    previous=$LUMENOR_BENCH_PREVIOUS
    previous_name=$previous
else
    build_previous
    previous_name="$previous_commit, in $previous"
fi

if [ -z "$(app_of "$previous")" ] || [ -z "$(tool_of "$previous")" ]; then
    fail "no app and command in $previous"
fi

# Neither build may find a display or the desktop's buses: both run as they do headless.
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM

scratch=$(mktemp -d /tmp/lumenor-wakeups-XXXXXX)
: >"$scratch/pids"
cleanup() {
    while read -r started; do
        kill "$started" 2>/dev/null || true
    done <"$scratch/pids"
    sleep 0.5
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

echo "== wakeups: current = $build, previous = $previous_name ($(nproc) cores, ${seconds} s windows)"
(measure current "$build" "$scratch/current.rows") &
current_job=$!
echo "$current_job" >>"$scratch/pids"
(measure previous "$previous" "$scratch/previous.rows") &
previous_job=$!
echo "$previous_job" >>"$scratch/pids"
status=0
wait "$current_job" || status=1
wait "$previous_job" || status=1

{
    printf 'build\tstate\tswitches/min\ttarget\tresult\tnotes\n'
    cat "$scratch/current.rows" "$scratch/previous.rows" 2>/dev/null || true
} | awk -F '\t' '
    { for (i = 1; i <= NF; i++) { cell[NR, i] = $i; if (length($i) > width[i]) width[i] = length($i) } }
    END {
        for (r = 1; r <= NR; r++) {
            line = ""
            for (i = 1; i < 6; i++) line = line sprintf("%-" width[i] "s  ", cell[r, i])
            print line cell[r, 6]
        }
    }'
[ "$status" -eq 0 ] || fail "some figures could not be measured"
