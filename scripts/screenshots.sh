#!/usr/bin/env bash
# Renders the application's surfaces in sample states, light and dark, into docs/
# with the preview mode (no display needed), for the README.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" >/dev/null
wispen="$root/build/bin/wispen"
mkdir -p "$root/docs"
shot() {
    local name=$1; shift
    QT_QPA_PLATFORM=offscreen "$wispen" --preview "$@" --capture "$root/docs/$name.png" >/dev/null
    echo "docs/$name.png"
}
shot panel-recording --light --state recording
shot panel-error-dark --dark --state error
shot hud-recording --light --hud --state recording
shot hud-copied-dark --dark --hud --state ready
shot settings --light --settings
