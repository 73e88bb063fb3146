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

# The whole application: launch, memory over 100 dictations, the bundled service.
# It runs in a network namespace of its own, so that the bundled service's fixed
# loopback port is ours and not a service someone else runs on this machine (the
# desktop's sockets are files, which the namespace does not hide).
echo "== app_figures"
fields=$(find "$build/tests/paste" -type f -name paste_qt_fields -perm -u+x | head -n1)
in_namespace() {
    "$root/tests/harness/in-desktop.sh" "$desktop" unshare --net sh -c 'ip link set lo up && exec "$@"' sh "$@"
}
in_namespace "$root/bench/app/app_figures.py" "$build/bin/wispen" "$fields"
# Memory over a hundred dictations, answered by the benchmark itself so that speech
# recognition neither slows the run past its budget nor loads the machine.
echo "== app_figures, memory"
in_namespace "$root/bench/app/app_figures.py" "$build/bin/wispen" "$fields" --launches 0 \
    --stub-service --budget 900
