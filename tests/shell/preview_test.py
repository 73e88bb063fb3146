#!/usr/bin/env python3
"""wispen --preview from the command line, without a display: each option list ends
with its status and its one output line, and the PNG it writes has the window's size."""
import os, re, struct, subprocess, sys, tempfile

WISPEN = sys.argv[1]
CLIPPED = "Recording HUD clipped: expected room for microphone, timer, level and stop control.\n"
# (arguments, status, output line pattern; PATH stands for the capture file)
ROWS = [
    (["--state", "recording", "--hud", "--capture", "PATH"], 0,
     r"PASS native recording popover window \d+x\d+"),
    (["--dark", "--state", "ready", "--capture", "PATH"], 0, r"PASS native ready popover window 316x\d+"),
    (["--light", "--settings", "--fixture-window", "--state", "error", "--capture", "PATH"], 0,
     r"PASS native error settings fixture-window 420x\d+"),
    (["--fixture-window", "--permissions-needed", "--capture", "PATH"], 0,
     r"PASS native idle popover fixture-window 316x\d+"),
    (["--capture", "PATH", "--state"], 0, r"PASS native idle popover window 316x\d+"),
    (["--state", "no-such-state", "--capture", "PATH"], 0, r"PASS native no-such-state popover window 316x\d+"),
    (["--state", "paste-fallback"], 2, r""),
    (["--hud", "--capture"], 2, r""),
    (["--state", "processing", "--capture", "/nonexistent/folder/shot.png"], 4, r""),
]


def main():
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    env.pop("DISPLAY", None)
    env.pop("DBUS_SESSION_BUS_ADDRESS", None)
    failed = 0
    with tempfile.TemporaryDirectory() as work:
        env["HOME"] = env["XDG_CONFIG_HOME"] = work
        for index, (arguments, status, pattern) in enumerate(ROWS):
            path = os.path.join(work, f"{index}.png")
            run = subprocess.run([WISPEN, "--preview"] + [path if a == "PATH" else a for a in arguments],
                                 env=env, capture_output=True, text=True, timeout=60)
            problems = []
            if run.returncode != status:
                problems.append(f"status {run.returncode}, expected {status}")
            if not re.fullmatch(pattern + ("\n" if pattern else ""), run.stdout):
                problems.append(f"printed {run.stdout!r}")
            if run.stderr not in ("", CLIPPED):
                problems.append(f"said {run.stderr!r}")
            if status == 0 and not problems:
                with open(path, "rb") as f:
                    header = f.read(24)
                size = struct.unpack(">II", header[16:24]) if header[:8] == b"\x89PNG\r\n\x1a\n" else "no PNG"
                if size != tuple(map(int, run.stdout.split()[-1].split("x"))):
                    problems.append(f"PNG size {size}, printed {run.stdout.split()[-1]}")
            stored = [f for _, _, files in os.walk(work) for f in files if not f.endswith(".png")]
            if stored:
                problems.append(f"wrote {stored}")
            if problems:
                failed += 1
                print(f"{' '.join(arguments)}: {'; '.join(problems)}")
    print(f"{len(ROWS) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
