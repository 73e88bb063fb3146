#!/usr/bin/env bash
# Sets up and builds everything, makes sure a transcription service answers, then
# runs the application. Arguments are passed to the application.
#
# With the default service address, the bundled local service is started when
# nothing answers there yet, and stopped again when the application exits. A user
# who points the application elsewhere (--service-url) gets no local service.
# On a machine without a display, the application runs inside a private headless
# desktop (scripts/screenshot.sh shows it).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
default_url="http://127.0.0.1:8731"

"$root/scripts/build.sh"

service_url="$default_url"
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
    case "${args[$i]}" in
    --service-url) service_url="${args[$((i + 1))]:-}" ;;
    --service-url=*) service_url="${args[$i]#--service-url=}" ;;
    esac
done

started=()
cleanup() {
    for pid in "${started[@]}"; do kill "$pid" 2>/dev/null || true; done
    if [ -n "${desktop:-}" ]; then "$root/tests/harness/desktop.sh" stop "$desktop" >/dev/null; fi
}
trap cleanup EXIT

# Any HTTP answer means a service is there (it says 503 while it has no model).
answers() {
    local code
    code=$(curl -s -o /dev/null --max-time 1 -w '%{http_code}' "$1/healthz" 2>/dev/null) || true
    [ -n "$code" ] && [ "$code" != "000" ]
}

if [ "$service_url" = "$default_url" ] && ! answers "$default_url"; then
    echo "Starting the bundled transcription service on $default_url"
    "$build/service/wispen-service" --host 127.0.0.1 --port 8731 &
    started+=($!)
    # The service loads its speech model before it listens: a few seconds.
    for _ in $(seq 1 400); do
        answers "$default_url" && break
        kill -0 "${started[0]}" 2>/dev/null || { echo "The transcription service did not start." >&2; exit 1; }
        sleep 0.05
    done
    answers "$default_url" || { echo "The transcription service did not answer." >&2; exit 1; }
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    desktop="$build/run-desktop"
    echo "No display found: running inside a private headless desktop ($desktop)."
    "$root/tests/harness/desktop.sh" start "$desktop"
    # shellcheck source=/dev/null
    . "$desktop/env"
fi

"$build/Wispen/shell/wispen" "$@"
