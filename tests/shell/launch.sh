#!/usr/bin/env bash
# The application as a user launches it, with no script around it: a second launch
# hands over to the first and leaves; the bundled service starts when a dictation
# needs it, comes back after it died, and ends with the application.
#   launch.sh WISPEN
set -euo pipefail
wispen=$1
work=$(mktemp -d)
app=""
trap '[ -z "$app" ] || kill -KILL "$app" 2>/dev/null || true; rm -rf "$work"' EXIT
# shellcheck source-path=SCRIPTDIR/../harness source=helpers.sh
. "$(dirname "$0")/../harness/helpers.sh"
service_of() { pgrep -P "$app" -x wispen-service; }
# Gone: no such process, or only its exit status is left for a parent to collect.
gone() { ! ps -o stat= -p "$1" | grep -qv Z; }
# The process that owns the application's bus name is the first copy.
claimed() {
    [ "$(dbus-send --session --print-reply=literal --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.GetConnectionUnixProcessID string:org.wispenrezuraz.WispenRezuraz |
        awk '{print $2}')" = "$app" ]
}
dictate() {
    xdotool keydown ctrl+alt+space
    within 20 service_of || { xdotool keyup space alt ctrl; return 1; }
    xdotool keyup space alt ctrl
}

curl -s --max-time 1 http://127.0.0.1:8731/healthz >/dev/null && fail "something already answers on the bundled port"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config"
# Not the first launch: the panel it would open takes the keyboard while it shows.
mkdir -p "$XDG_CONFIG_HOME/wispen-rezuraz"
echo '{"hasOpened": true}' >"$XDG_CONFIG_HOME/wispen-rezuraz/settings.json"
"$wispen" >"$work/first.log" 2>&1 &
app=$!
within 20 claimed || fail "the first copy did not claim its name"
service_of && fail "the service started before a dictation needed it"

timeout 10 "$wispen" >"$work/second.log" 2>&1 || fail "a second launch exited with $?"
[ ! -s "$work/second.log" ] || fail "a second launch printed: $(cat "$work/second.log")"
claimed || fail "the first copy did not survive a second launch with its name"

# The first copy opened its panel against the tray icon: touching it, and with the
# icon's centre above or below it.
panel() {
    for w in $(xdotool search --onlyvisible --name '^Wispen Rezuraz$'); do
        xwininfo -id "$w" | grep -q 'Width: 316$' && { echo "$w"; return 0; }
    done
    return 1
}
within 10 panel || fail "the first copy did not open its panel"
geometry() { xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
    /Width/ {w=$NF} /Height/ {h=$NF} END {print x, y, w, h}'; }
read -r px py pw ph < <(geometry "$(panel)")
read -r ix iy iw ih < <(geometry "$(tray_icon)")
centre=$((ix + iw / 2))
{ [ "$centre" -ge "$px" ] && [ "$centre" -le $((px + pw)) ]; } || fail "panel at x $px..$((px + pw)), icon centre at $centre"
{ [ $((py + ph)) -eq "$iy" ] || [ "$py" -eq $((iy + ih)) ]; } || fail "panel at y $py..$((py + ph)), icon at $iy..$((iy + ih))"
xdotool key Escape
within 10 eval '! panel' || fail "Escape did not close the panel"

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
