#!/usr/bin/env bash
# Sets up and builds everything, then runs every test (unit and integration; the
# integration tests bring up their own private desktop and sound server).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh"
cd "$root/build"
ctest --output-on-failure --parallel "$(nproc)" "$@"
