#!/usr/bin/env bash
# The application as a user launches it, with no script around it: a second launch
# hands over to the first and leaves; the bundled service starts when a dictation
# needs it, comes back after it died, and ends with the application.
#   launch.sh WISPEN
set -euo pipefail
wispen=$1
work=$(mktemp -d)
app=""
cleanup() {
    [ -z "$app" ] || kill -KILL "$app" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
within() {
    local end=$((SECONDS + $1)); shift
    until "$@" >/dev/null 2>&1; do
        [ $SECONDS -lt $end ] || return 1
        sleep 0.1
    done
}
service_of() { pgrep -P "$app" -x wispen-service; }
# Gone: no such process, or only its exit status is left for a parent to collect.
gone() { ! ps -o stat= -p "$1" | grep -qv Z; }
owner() {
    dbus-send --session --print-reply=literal --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.GetConnectionUnixProcessID string:org.wispenrezuraz.WispenRezuraz |
        awk '{print $2}'
}
dictate() {
    xdotool keydown ctrl+alt+space
    within 20 service_of || { xdotool keyup space alt ctrl; return 1; }
    xdotool keyup space alt ctrl
}

curl -s --max-time 1 http://127.0.0.1:8731/healthz >/dev/null && fail "something already answers on the bundled port"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config"
"$wispen" >"$work/first.log" 2>&1 &
app=$!
claimed() { [ "$(owner 2>/dev/null)" = "$app" ]; }
within 20 claimed || fail "the first copy did not claim its name"
service_of && fail "the service started before a dictation needed it"

second=0
timeout 10 "$wispen" >"$work/second.log" 2>&1 || second=$?
[ "$second" -eq 0 ] || fail "a second launch exited with $second"
[ ! -s "$work/second.log" ] || fail "a second launch printed: $(cat "$work/second.log")"
kill -0 "$app" || fail "the first copy did not survive a second launch"
claimed || fail "the first copy lost its name"

dictate || fail "the bundled service did not start for a dictation"
first_service=$(service_of)
kill -KILL "$first_service"
within 10 gone "$first_service" || fail "the killed service lingers"
dictate || fail "the bundled service did not come back after it died"
service=$(service_of)
[ "$service" != "$first_service" ] || fail "no new service was started"

kill -TERM "$app"
within 10 gone "$app" || fail "the application did not end on SIGTERM"
app=""
within 10 gone "$service" || fail "the service outlived the application"
echo "1 passed, 0 failed"
