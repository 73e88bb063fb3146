#!/usr/bin/env bash
# A private headless desktop for the integration tests, and for trying the
# application on a machine without a display:
#   desktop.sh start DIR   starts Xvfb, openbox, a tray, a D-Bus session, the AT-SPI
#                          bus (accessibility enabled) and PulseAudio with a virtual
#                          microphone "vmic", all inside DIR, and waits until each
#                          part answers; DIR/env then holds the variables to use it.
#   desktop.sh stop DIR    stops exactly what start started, nothing else.
# Test audio is played into the microphone with `paplay --device=vmic_sink FILE`.
set -euo pipefail

usage() { echo "usage: $0 start|stop DIR" >&2; exit 2; }
[ $# -eq 2 ] || usage
action=$1 dir=$2 deadline_s=20

pids="$dir/pids"

# True once a system tray owns the _NET_SYSTEM_TRAY_S0 selection of screen 0.
tray_owned() {
    python3 -c 'import ctypes, sys
x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = x.XInternAtom.restype = x.XGetSelectionOwner.restype = ctypes.c_void_p
d = ctypes.c_void_p(x.XOpenDisplay(None) or sys.exit(1))
atom = ctypes.c_void_p(x.XInternAtom(d, b"_NET_SYSTEM_TRAY_S0", 0))
sys.exit(0 if x.XGetSelectionOwner(d, atom) else 1)'
}

# shellcheck source-path=SCRIPTDIR source=helpers.sh
. "$(dirname "$0")/helpers.sh"

# Polls a command until it succeeds or the deadline passes.
wait_for() {
    local what=$1; shift
    within "$deadline_s" "$@" || { echo "desktop: $what did not answer within ${deadline_s}s" >&2; return 1; }
}

# Starts a command in a session of its own so that stop can end it with every
# child it made; remembers the process group.
launch() {
    local name=$1; shift
    setsid "$@" >"$dir/log/$name.log" 2>&1 < /dev/null &
    echo "$name $!" >> "$pids"
}

stop_all() {
    [ -f "$pids" ] || return 0
    # Reverse order: the sound server and the buses go after their clients.
    tac "$pids" | while read -r name pid; do
        kill -TERM -- "-$pid" 2>/dev/null || kill -TERM "$pid" 2>/dev/null || true
    done
    local end=$((SECONDS + 5))
    while read -r name pid; do
        while kill -0 "$pid" 2>/dev/null && [ $SECONDS -lt $end ]; do sleep 0.05; done
        kill -KILL -- "-$pid" 2>/dev/null || kill -KILL "$pid" 2>/dev/null || true
    done < "$pids"
    rm -f "$pids"
}

start() {
    if [ -f "$pids" ]; then stop_all; fi
    rm -rf "$dir"
    mkdir -p "$dir/runtime" "$dir/log" "$dir/home" "$dir/pulse"
    chmod 700 "$dir" "$dir/runtime"
    trap 'stop_all' ERR

    export XDG_RUNTIME_DIR="$dir/runtime" HOME="$dir/home" XDG_CONFIG_HOME="$dir/home/.config" \
        XDG_CACHE_HOME="$dir/home/.cache" XDG_DATA_HOME="$dir/home/.local/share"

    # X server on the first free display number.
    exec 3>"$dir/display"
    launch xvfb Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset +extension XTEST
    exec 3>&-
    wait_for "Xvfb" test -s "$dir/display"
    export DISPLAY=":$(head -n1 "$dir/display")"

    # Session bus.
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/bus"
    launch dbus dbus-daemon --session --nofork --nopidfile --address="$DBUS_SESSION_BUS_ADDRESS"
    wait_for "the session bus" dbus-send --session --dest=org.freedesktop.DBus --print-reply \
        /org/freedesktop/DBus org.freedesktop.DBus.ListNames

    # Window manager: answers once it has set its supporting-WM check on the root.
    launch openbox openbox --sm-disable
    wait_for "openbox" sh -c "xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'"

    # Tray (XEmbed system tray) on the top edge.
    launch trayer trayer --edge top --align right --widthtype request --height 24 \
        --SetDockType true --transparent false --tint 0xdddddd
    wait_for "the tray" tray_owned

    # Accessibility bus, switched on.
    launch atspi /usr/libexec/at-spi-bus-launcher --launch-immediately
    wait_for "the AT-SPI bus" dbus-send --session --dest=org.a11y.Bus --print-reply \
        /org/a11y/bus org.a11y.Bus.GetAddress
    dbus-send --session --dest=org.a11y.Bus --print-reply /org/a11y/bus \
        org.freedesktop.DBus.Properties.Set string:org.a11y.Status string:IsEnabled \
        variant:boolean:true >/dev/null
    wait_for "the AT-SPI registry" sh -c "dbus-send --session --dest=org.a11y.Bus --print-reply \
        /org/a11y/bus org.freedesktop.DBus.Properties.Get string:org.a11y.Status string:IsEnabled \
        | grep -q 'boolean true'"

    # Sound server with a virtual microphone: what is played into vmic_sink is
    # what the default source "vmic" hears.
    export PULSE_RUNTIME_PATH="$dir/pulse" PULSE_STATE_PATH="$dir/pulse" PULSE_SERVER="unix:$dir/pulse/native"
    launch pulseaudio pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit \
        --use-pid-file=no --log-target=stderr \
        -L "module-native-protocol-unix socket=$dir/pulse/native auth-anonymous=1" \
        -L "module-null-sink sink_name=vmic_sink" \
        -L "module-remap-source master=vmic_sink.monitor source_name=vmic" \
        -L "module-always-sink"
    wait_for "PulseAudio" pactl info
    pactl set-default-source vmic
    pactl set-default-sink vmic_sink
    # A silent low-latency stream keeps the null sink running, so the first buffer
    # of a new recording arrives in tens of milliseconds instead of seconds.
    launch keepalive pacat --playback --device=vmic_sink --latency-msec=20 /dev/zero
    wait_for "the microphone" sh -c "pactl list short sources | grep -q vmic"

    export WISPEN_DESKTOP_DIR=$dir QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
    {
        for name in XDG_RUNTIME_DIR HOME XDG_CONFIG_HOME XDG_CACHE_HOME XDG_DATA_HOME DISPLAY \
            DBUS_SESSION_BUS_ADDRESS PULSE_RUNTIME_PATH PULSE_STATE_PATH PULSE_SERVER \
            WISPEN_DESKTOP_DIR QT_QPA_PLATFORM QT_LINUX_ACCESSIBILITY_ALWAYS_ON; do
            echo "export $name='${!name}'"
        done
        echo "unset WAYLAND_DISPLAY"
    } > "$dir/env"
    trap - ERR
    echo "desktop: ready on $DISPLAY ($dir)"
}

case "$action" in
start) start ;;
stop) stop_all; echo "desktop: stopped ($dir)" ;;
*) usage ;;
esac
