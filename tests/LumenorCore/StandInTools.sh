#!/bin/sh
# The stand-ins for the system tools that ShellSandbox.h describes, all in one.
FAKE="$SANDBOX_ROOT/fake"
tool=${0##*/}
call=$(printf '%s\n' "$tool $*" | sed "s|$SANDBOX_ROOT||g")
printf '%s\n' "$call" >> "$FAKE/calls"
while read -r status prefix; do
    case "$call" in "$prefix"*) exit "$status" ;; esac
done < "$FAKE/intercepts"

logger() { printf '%s: %s\n' "$2" "$3" >> "$FAKE/syslog"; }
flock() { shift 2 && exec /usr/bin/flock -w 5 "$@"; }
base64() { exec /usr/bin/base64 "$@"; }
date() { [ "$1" = +%s ] && echo "$SANDBOX_NOW" || exec /usr/bin/date "$@"; }

rtcwake() {
    if [ ! -e "$SANDBOX_ROOT/sys/class/rtc/rtc0/wakealarm" ]; then
        echo "rtcwake: /dev/rtc0 not enabled for wakeup events" >&2
        exit 1
    fi
    case "$2" in
        no) echo "$4" > "$FAKE/alarm" ;;
        disable) rm -f "$FAKE/alarm" ;;
    esac
    if [ -e "$FAKE/slow" ]; then
        sleep 0.3
        echo "rtcwake done" >> "$FAKE/calls"
    fi
}

# Always called as install [-d] -o root -g root -m <mode> [<file>] <target>.
install() {
    if [ "$1" = -d ]; then mkdir -p "$8" && chmod "$7" "$8"; else cp "$7" "$8" && chmod "$6" "$8"; fi
}

"$tool" "$@"
