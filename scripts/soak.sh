#!/usr/bin/env bash
# Soak of the whole dictation path: ROUNDS dictations (default 10) each into a Qt
# field, a GTK 3 text view and a GTK 4 entry, in hold-to-talk and in toggle mode,
# through the real application, bundled service and shortcut inside a private
# desktop, then one that xterm must refuse. Prints "TARGET MODE: N of ROUNDS" for
# each field and mode, and fails unless every dictation landed.
#   scripts/soak.sh [rounds]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
rounds=${1:-10}
[[ "$rounds" =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [rounds, a positive number]" >&2; exit 2; }
"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target wispen wispen-service paste_qt_fields shortcut_grabber --parallel "$(nproc)"

desktop="$build/soak-desktop"
"$root/tests/harness/desktop.sh" start "$desktop" >/dev/null
trap '"$root/tests/harness/desktop.sh" stop "$desktop" >/dev/null' EXIT
"$root/tests/harness/in-desktop.sh" "$desktop" "$root/tests/e2e/dictation.sh" \
    "$build/bin/wispen" "$build/bin/wispen-service" \
    "$build/tests/paste/paste_qt_fields" "$root/tests/paste/gtk_fields.py" \
    "$root/tests/paste/read_field.py" "$build/tests/shortcut/shortcut_grabber" "$rounds"
