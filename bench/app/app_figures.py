#!/usr/bin/python3
# Figures of the whole application as a user meets it, measured inside the
# private desktop (tests/harness/desktop.sh): launch to tray icon, resident memory
# of `wispen` idle and over many dictations, the bundled service's memory, and the
# extra delay of the first dictation when the service has to start on demand.
#   app_figures.py WISPEN QT_FIELDS [--launches N] [--dictations N] [--budget SECONDS]
#                  [--stub-service] [--wrap COMMAND]
# Dictations are real: Control+Alt+Space is held through xdotool while espeak-ng
# speaks into the virtual microphone, and the transcript is read back from a Qt
# text field through AT-SPI. --stub-service answers every recording with the same
# words from this process instead of the bundled service, so that long memory runs
# spend no processor time on speech recognition; --wrap runs the application under
# a profiler such as "heaptrack -o FILE" (its memory then includes the profiler's);
# --launches 0 skips the launch timing.
import argparse
import http.server
import json
import os
import signal
import statistics
import subprocess
import sys
import shlex
import tempfile
import threading
import time

import warnings

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

warnings.filterwarnings("ignore", category=DeprecationWarning)

TRAY_MARK = b'"wispen" "wispen-rezuraz"'


def load_average():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def rss_mb(pid, field="VmRSS"):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith(field + ":"):
                    return int(line.split()[1]) / 1024.0
    except FileNotFoundError:
        pass
    return 0.0


# Resident memory, and the part of it that is the process's own (heap, stacks)
# rather than pages of shared libraries, which is where a leak would show.
def memory(pid):
    return f"{rss_mb(pid):.1f} MB ({rss_mb(pid, 'RssAnon'):.1f} MB private)"


def children_named(pid, name):
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                stat = f.read()
        except OSError:
            continue
        comm = stat[stat.index("(") + 1:stat.rindex(")")]
        ppid = int(stat[stat.rindex(")") + 2:].split()[1])
        if ppid == pid and comm.startswith(name[:15]):
            found.append(int(entry))
    return found


# The application started under a wrapper, stopped as the benchmark stops it.
class Wrapped:
    def __init__(self, pids):
        self.pid = pids[0]

    def send_signal(self, sig):
        os.kill(self.pid, sig)

    def wait(self, timeout=None):
        within(timeout or 3600, lambda: not os.path.exists(f"/proc/{self.pid}"), step=0.05)
        if os.path.exists(f"/proc/{self.pid}"):
            raise subprocess.TimeoutExpired("wispen", timeout)

    def kill(self):
        os.kill(self.pid, signal.SIGKILL)


def within(seconds, predicate, step=0.005):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return None


def tray_icon_shown():
    tree = subprocess.run(["xwininfo", "-root", "-tree"], capture_output=True).stdout
    return TRAY_MARK in tree


# Whether an application records; the desktop's own remapping module, which has no
# client, always holds an output of the microphone and is not counted.
def mic_open():
    out = subprocess.run(["pactl", "list", "short", "source-outputs"], capture_output=True,
                         text=True).stdout
    return any(len(line.split()) > 2 and line.split()[2] != "-" for line in out.splitlines())


def stop(process):
    process.send_signal(signal.SIGTERM)
    try:
        process.wait(10)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def find_field(pid, name):
    def find(node, depth=0):
        if node is None or depth > 40:
            return None
        if node.get_name() == name and node.get_text_iface() is not None:
            return node
        for i in range(node.get_child_count()):
            hit = find(node.get_child_at_index(i), depth + 1)
            if hit is not None:
                return hit
        return None

    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_process_id() == pid:
            return find(app)
    return None


def field_text(field):
    return Atspi.Text.get_text(field, 0, -1)


class StubService(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        self.rfile.read(int(self.headers.get("Content-Length", 0)))
        body = json.dumps({"text": "hello world"}).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def serve_stub():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 8731), StubService)
    threading.Thread(target=server.serve_forever, daemon=True).start()


def measure_launches(wispen, env, count):
    times = []
    for _ in range(count):
        start = time.monotonic()
        process = subprocess.Popen([wispen], env=env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        if within(10, tray_icon_shown, step=0.002) is None:
            stop(process)
            sys.exit("the tray icon did not appear")
        times.append((time.monotonic() - start) * 1000)
        stop(process)
        within(5, lambda: not tray_icon_shown())
    return times


class Dictation:
    def __init__(self, field, clip):
        self.field = field
        self.clip = clip

    # One push-to-talk dictation; returns the seconds from release to the
    # transcript's arrival, or None when nothing arrived.
    def run(self, timeout=60):
        before = field_text(self.field)
        subprocess.run(["xdotool", "keydown", "ctrl+alt+space"], check=True)
        if within(10, mic_open, step=0.01) is None:
            subprocess.run(["xdotool", "keyup", "space", "alt", "ctrl"])
            print("  recording did not start", file=sys.stderr)
            return None
        subprocess.run(["paplay", "--device=vmic_sink", self.clip], check=True)
        subprocess.run(["xdotool", "keyup", "space", "alt", "ctrl"], check=True)
        released = time.monotonic()
        if within(timeout, lambda: field_text(self.field) != before, step=0.01) is None:
            print("  no transcript arrived", file=sys.stderr)
            return None
        arrived = time.monotonic() - released
        # The next recording may only start once this one has fully ended.
        within(10, lambda: not mic_open(), step=0.01)
        return arrived


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("wispen")
    parser.add_argument("fields")
    parser.add_argument("--launches", type=int, default=10)
    parser.add_argument("--dictations", type=int, default=100)
    parser.add_argument("--budget", type=float, default=300, help="seconds for all dictations")
    parser.add_argument("--settle", type=float, default=3)
    parser.add_argument("--stub-service", action="store_true")
    parser.add_argument("--wrap", default="")
    args = parser.parse_args()
    if args.stub_service:
        serve_stub()

    work = tempfile.mkdtemp(prefix="wispen-figures-")
    env = dict(os.environ, HOME=f"{work}/home", XDG_CONFIG_HOME=f"{work}/home/.config")
    # The first launch opens the panel once; measure launches as a returning user.
    print(f"load average before: {load_average()}")
    if args.launches > 0:
        launches = measure_launches(args.wispen, env, args.launches + 1)[1:]
        print(f"launch to tray icon, median / max of {len(launches)}: "
              f"{statistics.median(launches):.0f} / {max(launches):.0f} ms "
              f"(load {load_average()})")

    fields = subprocess.Popen([args.fields], env=env, stdout=subprocess.PIPE, text=True)
    info = {}
    for line in fields.stdout:
        words = line.split()
        info[words[0]] = words[1:]
        if words[0] == "ready":
            break
    wrapper = subprocess.Popen(shlex.split(args.wrap) + [args.wispen], env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wispen = wrapper
    try:
        within(60, tray_icon_shown)
        if args.wrap:
            wispen = Wrapped(within(10, lambda: children_named(wrapper.pid, "wispen")))
        time.sleep(args.settle)
        print(f"wispen idle resident memory: {memory(wispen.pid)} (load {load_average()})")

        window = info["window"][0]
        x, y = info["line"][:2]
        subprocess.run(["xdotool", "windowactivate", "--sync", window], check=True)
        subprocess.run(["xdotool", "mousemove", "--window", window, x, y, "click", "1"],
                       check=True)
        field = within(10, lambda: find_field(fields.pid, "line"), step=0.1)
        if field is None:
            sys.exit("the text field is not reachable through AT-SPI")

        clip = f"{work}/short.wav"
        subprocess.run(["espeak-ng", "-v", "en-us+f5", "-s", "170", "-w", clip, "hello world"],
                       check=True)
        dictation = Dictation(field, clip)

        cold = dictation.run(timeout=120)
        if cold is None:
            sys.exit("the first dictation produced nothing")
        services = children_named(wispen.pid, "wispen-service")
        started_on_demand = bool(services)
        print(f"first dictation, release to transcript: {cold * 1000:.0f} ms "
              f"({'service started on demand' if started_on_demand else 'a service already ran'}"
              f", load {load_average()})")

        warm = []
        failures = 0
        private = {}
        began = time.monotonic()
        for n in range(2, args.dictations + 1):
            if time.monotonic() - began > args.budget:
                print(f"budget of {args.budget:.0f} s spent after {n - 1} dictations")
                break
            took = dictation.run()
            if took is None:
                failures += 1
            else:
                warm.append(took)
            if n in (2, 10, 25, 50, 75, 100) or n == args.dictations:
                # Long enough for the application to return what it freed once idle.
                time.sleep(args.settle)
                private[n] = rss_mb(wispen.pid, "RssAnon")
                print(f"  after {n} dictations: wispen {memory(wispen.pid)} "
                      f"(load {load_average()})", flush=True)
        # The first dictations load the encoder and warm caches up; growth after
        # them is what each dictation keeps.
        last = max(private, default=0)
        if 10 in private and last > 10:
            print(f"private memory growth from dictation 10 to {last}: "
                  f"{(private[last] - private[10]) * 1024 / (last - 10):.1f} kB a dictation")
        if warm:
            median = statistics.median(warm)
            print(f"later dictations, release to transcript, median of {len(warm)}: "
                  f"{median * 1000:.0f} ms; first dictation's extra delay: "
                  f"{(cold - median) * 1000:.0f} ms; {failures} without a transcript")
        time.sleep(args.settle)
        print(f"wispen resident memory after {1 + len(warm) + failures} dictations, idle: "
              f"{memory(wispen.pid)} (load {load_average()})")
        for pid in services:
            print(f"bundled service resident memory, idle while it runs: {rss_mb(pid):.1f} MB")
    finally:
        stop(wispen)
        if wispen is not wrapper:
            wrapper.wait()
        fields.kill()
        fields.wait()
    if not args.stub_service:
        idle_exit(os.path.join(os.path.dirname(args.wispen), "wispen-service"))
    return 0


# The application starts the service with a ten-minute --exit-when-idle; the same
# option with two seconds shows what is left of it once it is idle.
def idle_exit(service):
    process = subprocess.Popen([service, "--host", "127.0.0.1", "--port", "0",
                                "--exit-when-idle", "2"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(1)
    running = rss_mb(process.pid)
    try:
        process.wait(30)
        print(f"bundled service resident memory: {running:.1f} MB just started, "
              f"0 MB once idle (it exited after 2 idle seconds, status {process.returncode})")
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        print("bundled service did not exit when idle")


if __name__ == "__main__":
    sys.exit(main())
