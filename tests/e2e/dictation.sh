#!/usr/bin/env bash
# One dictation end to end, as a user makes it: the application and the bundled
# service run for real inside the private desktop; a Qt window with a text field
# has the focus; Control+Alt+Space is held while a voice speaks into the virtual
# microphone, then released; the transcript must appear in that field. Then
# SIGTERM, as at logout, ends wispen through its shutdown: status 0 (the signal's
# default action would not give it) and Control+Alt+Space free for GRABBER.
#   dictation.sh WISPEN SERVICE QT_FIELDS READ_FIELD GRABBER
set -euo pipefail
wispen=$1 service=$2 fields=$3 read_field=$4 grabber=$5
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# Polls a command for up to $1 seconds.
within() {
    local seconds=$1; shift
    local end=$((SECONDS + seconds))
    until "$@" >/dev/null 2>&1; do
        [ $SECONDS -lt $end ] || return 1
        sleep 0.1
    done
}

port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
url="http://127.0.0.1:$port"
"$service" --host 127.0.0.1 --port "$port" --workers 1 >"$work/service.log" 2>&1 &
pids+=($!)
"$fields" >"$work/fields.log" 2>&1 &
pids+=($!)
fields_pid=$!
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config"
"$wispen" --service-url "$url" >"$work/wispen.log" 2>&1 &
pids+=($!)
wispen_pid=$!

within 60 curl -fs "$url/healthz" || fail "the service did not answer"
within 20 grep -q '^ready' "$work/fields.log" || fail "the text field window did not appear"
within 20 sh -c "xwininfo -root -tree | grep -q '\"wispen\" \"wispen-rezuraz\"'" || fail "the tray icon did not appear"

# Focus the one-line field.
window=$(awk '/^window/ {print $2}' "$work/fields.log")
read -r x y < <(awk '/^line / {print $2, $3}' "$work/fields.log")
xdotool windowactivate --sync "$window"
xdotool mousemove --window "$window" "$x" "$y" click 1
within 10 sh -c "xdotool getactivewindow | grep -qx '$window'" || fail "the field window did not take the focus"

espeak-ng -v en-us+f5 -s 160 -w "$work/say.wav" "the quick brown fox jumps over the lazy dog"

# Hold the shortcut; start speaking once the tray shows that it listens (its
# tooltip is not readable from here, so wait for the microphone to be opened by a
# client: the desktop's remapping module always holds an output of its own).
xdotool keydown ctrl+alt+space
within 10 sh -c "pactl list short source-outputs | awk '\$3 != \"-\"' | grep -q ." || fail "recording did not start"
paplay --device=vmic_sink "$work/say.wav"
xdotool keyup space alt ctrl

text=""
read_text() { text=$("$read_field" "$fields_pid" line) && [ -n "$text" ]; }
within 60 read_text || fail "nothing was pasted into the field"
echo "pasted: $text"

# The words are recognised from synthetic speech; demand most of them, in order,
# whatever capitals and punctuation the engine writes.
expected=(the quick brown fox over the lazy dog)
found=0
rest=" $(echo "$text" | tr '[:upper:]' '[:lower:]' | tr -d '[:punct:]') "
for word in "${expected[@]}"; do
    if [[ "$rest" == *" $word "* ]]; then
        found=$((found + 1))
        rest=" ${rest#* $word }"
    fi
done
[ "$found" -ge 6 ] || fail "only $found of ${#expected[@]} words arrived in order: \"$text\""

kill -TERM "$wispen_pid"
wait "$wispen_pid" || fail "wispen ended with status $? on SIGTERM"
"$grabber" space </dev/null >/dev/null || fail "Ctrl+Alt+Space is still held"
