#!/bin/sh
# The stand-ins for the system tools that ShellSandbox.h describes, all in one.
FAKE="$SANDBOX_ROOT/fake"
tool=${0##*/}
call=$(printf '%s\n' "$tool $*" | sed "s|$SANDBOX_ROOT||g")
printf '%s\n' "$call" >> "$FAKE/calls"
while read -r status prefix; do
    case "$call" in "$prefix"*) exit "$status" ;; esac
done < "$FAKE/intercepts"

pmset() {
    case "$1" in
        -g)
            if [ "${2:-}" = batt ]; then
                echo "Now drawing from '$(cat "$FAKE/source")'"
                if [ -f "$FAKE/percent" ]; then
                    printf ' -InternalBattery-0 (id=4653155)\t%s%%; discharging; 3:12 remaining present: true\n' "$(cat "$FAKE/percent")"
                fi
            else
                printf 'System-wide power settings:\n SleepDisabled\t\t%s\n' "$(cat "$FAKE/SleepDisabled")"
            fi
            ;;
        -a)
            [ "$2" = disablesleep ] || exit 1
            echo "$3" > "$FAKE/SleepDisabled"
            ;;
        schedule)
            if [ "$2" = cancel ]; then
                grep -vxF -- "$4" "$FAKE/schedule" > "$FAKE/schedule.new"
                mv "$FAKE/schedule.new" "$FAKE/schedule"
            else
                echo "$3" >> "$FAKE/schedule"
            fi
            ;;
    esac
}

launchctl() {
    label=$(basename "${3:-${2#system/}}" .plist)
    case "$1" in
        bootstrap)
            [ -f "$3" ] && [ ! -f "$FAKE/loaded/$label" ] || exit 5
            touch "$FAKE/loaded/$label"
            ;;
        bootout) rm "$FAKE/loaded/$label" 2>/dev/null || exit 3 ;;
        print) [ -f "$FAKE/loaded/$label" ] || exit 113 ;;
    esac
}

logger() {
    printf '%s: %s\n' "$2" "$3" >> "$FAKE/syslog"
}

lockf() {
    shift 3
    exec /usr/bin/flock -w 5 "$@"
}

flock() {
    shift 2
    exec /usr/bin/flock -w 5 "$@"
}

rtcwake() {
    if [ ! -e "$SANDBOX_ROOT/sys/class/rtc/rtc0/wakealarm" ]; then
        echo "rtcwake: /dev/rtc0 not enabled for wakeup events" >&2
        exit 1
    fi
    case "$2" in
        no) echo "$4" > "$FAKE/alarm" ;;
        disable) rm -f "$FAKE/alarm" ;;
        *) exit 64 ;;
    esac
    if [ -e "$FAKE/slow" ]; then
        sleep 0.3
        echo "rtcwake done" >> "$FAKE/calls"
    fi
}

date() {
    case "$1" in
        +%s) echo "$SANDBOX_NOW" ;;
        -r) exec /usr/bin/date -d "@$2" "$3" ;;
        -d) exec /usr/bin/date -d "$2" "$3" ;;
        *) exit 64 ;;
    esac
}

# Always called as install [-d] -o root -g <wheel|root> -m <mode> [<file>] <target>.
install() {
    if [ "$1" = -d ]; then
        mkdir -p "$8" && chmod "$7" "$8"
    else
        cp "$7" "$8" && chmod "$6" "$8"
    fi
}

base64() {
    [ "$1" = -D ] || [ "$1" = -d ] || exit 64
    exec /usr/bin/base64 -d
}

"$tool" "$@"
