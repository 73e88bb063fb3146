#!/usr/bin/env bash
# Runs a command inside the private desktop that `desktop.sh start DIR` brought up.
set -euo pipefail
dir=$1; shift
if [ ! -f "$dir/env" ]; then
    echo "in-desktop: no desktop in $dir (run desktop.sh start $dir first)" >&2
    exit 1
fi
# shellcheck source=/dev/null
. "$dir/env"
exec "$@"
