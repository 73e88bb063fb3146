#!/usr/bin/env bash
# Sets up and builds everything, then runs the application until it quits or this
# script is interrupted. Arguments are passed to the application.
#
# The application starts the bundled transcription service itself when it needs
# it. On a machine without a display it runs inside a private headless desktop.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
mkdir -p "$build"
log="$build/build.log"

echo "Building Wispen Rezuraz (log: $log)..."
if ! "$root/scripts/build.sh" >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "The build failed; the whole log is in $log." >&2
    exit 1
fi

app=""
desktop=""
# Ends the application with the signal this script received (it quits as on
# logout), then the private desktop, if one was started.
cleanup() {
    if [ -n "$app" ] && kill -0 "$app" 2>/dev/null; then
        kill "-${1:-TERM}" "$app" 2>/dev/null || true
        wait "$app" 2>/dev/null || true
    fi
    app=""
    if [ -n "$desktop" ]; then "$root/tests/harness/desktop.sh" stop "$desktop" >/dev/null; fi
    desktop=""
}
trap cleanup EXIT
trap 'cleanup INT; exit 130' INT
trap 'cleanup TERM; exit 143' TERM

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    desktop="$build/run-desktop"
    "$root/tests/harness/desktop.sh" start "$desktop" >/dev/null
    # shellcheck source=/dev/null
    . "$desktop/env"
fi

"$build/bin/wispen" "$@" &
app=$!

# Ready once the application owns its name on the session bus; a copy that was
# already running keeps the name, and this one hands over to it and leaves.
id=org.wispenrezuraz.WispenRezuraz
owner() {
    dbus-send --session --print-reply=literal --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.GetConnectionUnixProcessID "string:$id" 2>/dev/null | awk '{print $2}'
}
for _ in $(seq 1 200); do
    kill -0 "$app" 2>/dev/null || break
    [ "$(owner)" = "$app" ] && break
    sleep 0.05
done
if ! kill -0 "$app" 2>/dev/null; then
    status=0
    wait "$app" || status=$?
    app=""
    [ "$status" -eq 0 ] && echo "Wispen Rezuraz was already running: its menu is open."
    exit "$status"
fi
echo "Wispen Rezuraz is running: hold Ctrl+Alt+Space and speak."
if [ -n "$desktop" ]; then
    echo "No display was found, so it runs on a private desktop (display $DISPLAY)."
    echo "Look at it with: DISPLAY=$DISPLAY import -window root screen.png"
    echo "Speak into its microphone with: PULSE_SERVER=$PULSE_SERVER paplay --device=vmic_sink FILE.wav"
    echo "Hold the shortcut with: DISPLAY=$DISPLAY xdotool keydown ctrl+alt+space, then keyup."
fi
echo "Press Ctrl+C to quit."
status=0
wait "$app" || status=$?
app=""
exit "$status"
