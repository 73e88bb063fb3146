# shellcheck shell=bash
# Helpers the scripts that run inside the private desktop share; sourced, not run.

fail() { echo "FAIL: $*" >&2; exit 1; }

# Polls a command for up to $1 seconds; true once it succeeded.
within() {
    local end=$((SECONDS + $1)); shift
    until "$@" >/dev/null 2>&1; do [ $SECONDS -lt $end ] || return 1; sleep 0.05; done
}

# Our tray icon's window: the one of our windows no larger than an icon. Fails while
# there is none. Reads the whole tree, as a reader that stopped early could end
# xwininfo with SIGPIPE and fail a search that found the icon.
tray_icon() {
    xwininfo -root -tree | awk '/"wispen" "wispen-rezuraz"/ && !icon { for (i = 1; i <= NF; i++)
        if ($i ~ /^[0-9]+x[0-9]+[+]/) { split($i, s, /[x+]/); if (s[1] <= 64) icon = $1 } }
        END { if (!icon) exit 1; print icon }'
}
