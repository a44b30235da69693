#!/usr/bin/env python3
"""The window benchmarks on a private X server: how soon a window is on the
screen after the program starts (median of 10, from spawning the process to
the X server mapping the window, watched with xev), then bench_windows.

usage: bench-windows.py <build dir>
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
from x11session import X11Session  # noqa: E402


def time_to_map(x, command, runs=10):
    """Milliseconds from spawning `command` to the first window it maps."""
    times = []
    for _ in range(runs):
        watcher = subprocess.Popen(["xev", "-root", "-event", "substructure"], env=x.env, stdout=subprocess.PIPE,
                                   text=True, bufsize=1)
        time.sleep(0.3)
        start = time.monotonic()
        program = x.start(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for line in watcher.stdout:
            if line.startswith("MapNotify"):
                times.append((time.monotonic() - start) * 1000)
                break
        program.terminate()
        program.wait()
        watcher.terminate()
        watcher.wait()
    return statistics.median(times), min(times), max(times)


def main():
    build = sys.argv[1]
    bin_dir = os.path.join(build, "bin")
    with tempfile.TemporaryDirectory() as work:
        demo = subprocess.run([os.path.join(bin_dir, "sentrel-make-fixtures"), "--demo", os.path.join(work, "demo")],
                              check=True, capture_output=True, text=True).stdout.strip()
        other = os.path.join(work, "notes.txt")
        with open(other, "w") as f:
            f.write("notes\n")
        with X11Session(width=1280, height=1024, session_bus=True) as x:
            x.env["HOME"] = work
            sentrel = os.path.join(bin_dir, "sentrel")
            median, low, high = time_to_map(x, [sentrel])
            print(f"start-up: the splash skin window is on screen {median:.0f} ms after the program starts "
                  f"(median of 10; {low:.0f}-{high:.0f})")
            median, low, high = time_to_map(x, [sentrel, demo])
            print(f"start-up: the demo's document window, every value filled, is on screen {median:.0f} ms after "
                  f"the program starts (median of 10; {low:.0f}-{high:.0f})")
            result = subprocess.run([os.path.join(bin_dir, "bench_windows"), demo, other], env=x.env,
                                    capture_output=True, text=True, timeout=600)
            sys.stdout.write(result.stdout)
            if result.returncode != 0:
                sys.stderr.write(result.stderr)
                return result.returncode
    return 0


if __name__ == "__main__":
    sys.exit(main())
