#!/usr/bin/env bash
# Builds everything, then runs the benchmarks inside a private desktop (the
# recorder and paste benchmarks need its sound server and X server). Arguments
# are passed to every benchmark, e.g. --benchmark_filter=Request.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
"$root/scripts/build.sh"

desktop="$build/bench-desktop"
"$root/tests/harness/desktop.sh" start "$desktop" >/dev/null
trap '"$root/tests/harness/desktop.sh" stop "$desktop" >/dev/null' EXIT

for bench in bench_core bench_audio bench_paste bench_service; do
    binary=$(find "$build/bench" -type f -name "$bench" -perm -u+x | head -n1)
    [ -n "$binary" ] || { echo "$bench was not built" >&2; exit 1; }
    echo "== $bench"
    "$root/tests/harness/in-desktop.sh" "$desktop" "$binary" "$@"
done
