#!/usr/bin/env python3
"""Opens a file in a desktop program on a private X server (Xvfb, with a
session bus of its own), waits for the document window named after the file,
saves a screenshot of the screen and closes everything again: a look at the
program's window on a machine without a display.

usage: show-window.py PROGRAM FILE SCREENSHOT.png [TIMEOUT_SECONDS]
"""
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
from x11session import X11Session  # noqa: E402


def main():
    if len(sys.argv) not in (4, 5):
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    program, path, shot = sys.argv[1:4]
    timeout = float(sys.argv[4]) if len(sys.argv) == 5 else 20
    title = os.path.basename(os.path.normpath(path))
    log_path = os.path.splitext(shot)[0] + ".log"
    with X11Session(session_bus=True) as x, open(log_path, "wb") as log:
        child = x.start([program, path], stdout=log, stderr=subprocess.STDOUT)
        try:
            x.wait_window(re.escape(title), timeout=timeout)
        except TimeoutError:
            state = f"it exited with status {child.returncode}" if child.poll() is not None else "it is still running"
            print(f"no window named {title} appeared in {timeout:g} s ({state}); its output is in {log_path}",
                  file=sys.stderr)
            x.screenshot(shot)
            print(f"the screen as it was: {shot}", file=sys.stderr)
            return 1
        x.screenshot(shot)
        child.terminate()
        try:
            child.wait(timeout=10)
        except subprocess.TimeoutExpired:
            child.kill()
            child.wait()
    print(f"the window {title}: {shot}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
