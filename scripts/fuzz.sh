#!/usr/bin/env bash
# Builds and runs the fuzzers for a bounded time each (default 60 seconds; pass a
# number of seconds to change it). With clang they are libFuzzer fuzzers,
# otherwise a mutating driver over the same seed corpus; both under ASan/UBSan.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
"$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build" >/dev/null
cmake --build "$root/build" --target MicrophoneMappingFuzzer --parallel "$(nproc)"
fuzzer="$root/build/fuzz/keyboard/MicrophoneMappingFuzzer"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$root/fuzz/keyboard/corpus/." "$work/"
"$fuzzer" -max_total_time="$seconds" "$work"
