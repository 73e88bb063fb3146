#!/usr/bin/env bash
# Dictations end to end, as a user makes them: the application and the bundled
# service run for real inside the private desktop, and the real Control+Alt+Space is
# held with XTest (hold to talk) or pressed twice (toggle mode) while a voice speaks
# into the virtual microphone. Each round dictates into a Qt field, a GTK 3 text view
# and a GTK 4 entry; the words must land there, after a
# space when the field already ends in a word. In xterm the paste must be refused:
# nothing reaches the terminal, and the hint names Ctrl+Shift+V. Last, SIGTERM, as at
# logout, ends wispen through its shutdown: status 0 (the signal's default action
# would not give it) and Control+Alt+Space free for GRABBER.
#   dictation.sh WISPEN SERVICE QT_FIELDS GTK_FIELDS READ_FIELD GRABBER [ROUNDS]
# Prints "TARGET MODE: N of ROUNDS" for each field and mode (ROUNDS defaults to 1),
# and fails unless every dictation landed.
set -euo pipefail
wispen=$1 service=$2 qt_fields=$3 gtk_fields=$4 read_field=$5 grabber=$6 rounds=${7:-1}
work=$(mktemp -d) pids=() wispen_pid=""
trap 'kill "${pids[@]}" $wispen_pid 2>/dev/null || true; wait 2>/dev/null; rm -rf "$work"' EXIT

# shellcheck source-path=SCRIPTDIR/../harness source=helpers.sh
. "$(dirname "$0")/../harness/helpers.sh"

url=http://127.0.0.1:$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$service" --host 127.0.0.1 --port "${url##*:}" --workers 1 >"$work/service.log" 2>&1 & pids+=($!)

# The fields: name, program, field aimed at.
targets=(qt gtk3 gtk4)
declare -A program=([qt]="$qt_fields" [gtk3]="/usr/bin/python3 $gtk_fields 3"
                    [gtk4]="/usr/bin/python3 $gtk_fields 4")
declare -A field=([qt]=line [gtk3]=area [gtk4]=line)
declare -A app_pid app_window
for target in "${targets[@]}"; do
    ${program[$target]} >"$work/$target.log" 2>&1 & pids+=($!) app_pid[$target]=$!
done
for target in "${targets[@]}"; do
    within 30 grep -q '^ready' "$work/$target.log" || fail "the $target window did not appear"
    app_window[$target]=$(awk '/^window/ {print $2}' "$work/$target.log")
done

# A terminal that keeps every byte it receives: a paste would show up in the file.
xterm -title dictation-terminal -e sh -c "stty raw -echo; exec cat >'$work/terminal.bytes'" & pids+=($!)

within 60 curl -fs "$url/healthz" || fail "the service did not answer"
espeak-ng -v en-us+f5 -s 160 -w "$work/say.wav" "the quick brown fox jumps over the lazy dog"
expected=(the quick brown fox over the lazy dog)

# Starts the application with hold to talk on or off.
start_wispen() {
    [ -z "$wispen_pid" ] || { kill "$wispen_pid"; wait "$wispen_pid" || true; }
    mkdir -p "$work/home/.config/wispen-rezuraz"
    echo "{\"holdToTalk\": $1, \"hasOpened\": true}" >"$work/home/.config/wispen-rezuraz/settings.json"
    HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" \
        "$wispen" --service-url "$url" >"$work/wispen.log" 2>&1 &
    wispen_pid=$!
    within 20 tray_icon || fail "the tray icon did not appear"
}

# A client records from the microphone (the virtual microphone's own module always does).
microphone_open() { pactl list short source-outputs | grep -q protocol-native; }

# One dictation in the focused window with the real shortcut through XTest: hold mode
# holds the shortcut while the voice speaks; toggle mode presses it before and after.
dictate() {
    xdotool keydown ctrl+alt+space
    if [ "$1" = toggle ]; then sleep 0.1; xdotool keyup space alt ctrl; fi
    within 20 microphone_open || { xdotool keyup space alt ctrl; echo "recording did not start" >&2; return 1; }
    paplay --device=vmic_sink "$work/say.wav"
    if [ "$1" = toggle ]; then xdotool keydown ctrl+alt+space; sleep 0.1; fi
    xdotool keyup space alt ctrl
    within 20 eval '! microphone_open' || { echo "recording did not stop" >&2; return 1; }
}

# Clicks into the field $2 of window $1, whose centres file $3 lists.
focus() {
    local window=$1 x y
    read -r x y < <(awk -v f="$2" '$1 == f {print $2, $3}' "$3")
    xdotool windowactivate --sync "$window"
    xdotool mousemove --window "$window" "$x" "$y" click 1
    within 10 sh -c "xdotool getactivewindow | grep -qx '$window'"
    # Continue after what the field holds, as a user dictating on would.
    xdotool key --clearmodifiers End ctrl+End
}

# How many of the expected words the text holds in order, so one misheard word costs one.
words_found() {
    /usr/bin/python3 -c 'import difflib, re, sys
said, expected = re.findall(r"[a-z]+", sys.argv[1].lower()), sys.argv[2].split()
print(sum(b.size for b in difflib.SequenceMatcher(None, expected, said, False).get_matching_blocks()))' "$1" "${expected[*]}"
}

# Dictates into the target's field; true when the words landed after what the field
# held, separated from it by one space.
dictate_into() {
    local target=$1 mode=$2 before after added found
    said() { echo "$target $mode: $*" >&2; }
    before=$("$read_field" "${app_pid[$target]}" "${field[$target]}" 2>/dev/null) &&
        focus "${app_window[$target]}" "${field[$target]}" "$work/$target.log" ||
        { said "the field could not be read or focused"; return 1; }
    dictate "$mode" || return 1
    read_text() {
        # The space is typed before the paste arrives: wait for words.
        after=$("$read_field" "${app_pid[$target]}" "${field[$target]}" 2>/dev/null) &&
            [ "$after" != "$before" ] && [[ "${after#"$before"}" =~ [[:alnum:]] ]]
    }
    # A loaded machine transcribes slowly.
    within 60 read_text || { said "nothing was pasted: $(tray_detail | tr '\n' ' ')"; return 1; }
    added=${after#"$before"}
    [ "$added" != "$after" ] || [ -z "$before" ] ||
        { said "the field was changed, not added to: \"$after\""; return 1; }
    [ -z "$before" ] || [[ "$before" == *" " ]] || [[ "$added" =~ ^\ [[:alnum:]] ]] ||
        { said "no space before the new words: \"$after\""; return 1; }
    # Synthetic speech: five of the eight words in order is this dictation, also when
    # the engine hears "brown fox" as "round-fax".
    found=$(words_found "$added")
    [ "$found" -ge 5 ] || { said "only $found of ${#expected[@]} words arrived in order: \"$added\""; return 1; }
}

# The detail line the panel shows, read through AT-SPI after a click on the tray
# icon opened the panel; a second click closes it again.
tray_detail() {
    local icon
    icon=$(tray_icon)
    xdotool mousemove --window "$icon" 6 6 click 1 sleep 1
    "$read_field" "$wispen_pid"
    xdotool mousemove --window "$icon" 6 6 click 1
}

failures=0
for mode in hold toggle; do
    start_wispen "$([ $mode = hold ] && echo true || echo false)"
    for target in "${targets[@]}"; do
        landed=0
        for ((round = 1; round <= rounds; round++)); do
            if dictate_into "$target" "$mode"; then landed=$((landed + 1)); fi
        done
        echo "$target $mode: $landed of $rounds"
        failures=$((failures + rounds - landed))
    done
done

# A terminal is refused: the transcript stays on the clipboard, with the terminal's
# own paste key in the hint.
terminal=$(xdotool search --sync --name dictation-terminal | head -n1)
xdotool windowactivate --sync "$terminal"
dictate "$mode" || fail "the terminal dictation did not record"
hint="Terminal recordings use manual paste. Press Ctrl+Shift+V to paste."
detail=""
read_detail() { detail=$(tray_detail) && [[ "$detail" == *"$hint"* ]]; }
within 30 read_detail || fail "the terminal refusal showed \"$detail\""
[ ! -s "$work/terminal.bytes" ] || fail "the terminal received keystrokes: $(od -c "$work/terminal.bytes" | head -n3)"
echo "xterm: refused"

[ "$failures" -eq 0 ] || fail "$failures dictations did not land"

kill -TERM "$wispen_pid"
wait "$wispen_pid" || fail "wispen ended with status $? on SIGTERM"
"$grabber" || fail "Ctrl+Alt+Space is still held"
