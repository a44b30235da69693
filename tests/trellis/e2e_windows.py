#!/usr/bin/env python3
"""The window chrome on a real X server: starts Xvfb, runs trellis_demo and
drives it with xdotool as a user's mouse would.

usage: e2e_windows.py <trellis_demo> [screenshot.png]
"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import checks  # noqa: E402
from checks import check  # noqa: E402
from x11session import X11Session  # noqa: E402



def main():
    demo = sys.argv[1]
    shot = sys.argv[2] if len(sys.argv) > 2 else None
    with X11Session(width=1280, height=1024) as x:
        app = x.start([demo], stdout=subprocess.PIPE)
        check(app.stdout.readline().strip() == b"ready", "the demo starts")
        splash = x.wait_window("^Welcome to Sentrel$")
        about = x.wait_window("^About Sentrel$")
        if shot:
            x.screenshot(shot)

        # Dragged by its body, the splash moves by the drag.
        start = x.geometry(splash)
        check(start == (100, 324, 440, 300), f"the splash is where it was put: {start}")
        x.drag((300, 420), (350, 470))
        check(x.geometry(splash) == (150, 374, 440, 300), f"the splash moved by the drag: {x.geometry(splash)}")

        # Dragged by its lower right corner, it resizes within its limits.
        x.drag((150 + 430, 374 + 290), (150 + 470, 374 + 320))
        check(x.geometry(splash) == (150, 374, 480, 330), f"the splash resized: {x.geometry(splash)}")
        # Past a limit the window slides so that the corner stays under the pointer.
        for limit, delta, size in (("maximum", (300, 200), (600, 400)), ("minimum", (-400, -300), (300, 200))):
            left, top, width, height = x.geometry(splash)
            corner = (left + width - 10, top + height - 10)
            end = (corner[0] + delta[0], corner[1] + delta[1])
            x.drag(corner, end)
            left, top, width, height = x.geometry(splash)
            check((width, height) == size and (left + width - 10, top + height - 10) == end,
                  f"the splash stops at its {limit} under the pointer: {(left, top, width, height)}")

        # Dragged upward past the top of the screen, its top edge stops there.
        x.drag((250, 450), (250, 20))
        check(x.geometry(splash)[1] == 0, f"the splash stops at the top of the screen: {x.geometry(splash)}")

        # A click on a transparent corner of the splash reaches the window below.
        left, top, _, _ = x.geometry(splash)
        x.click((left + 1, top + 1))
        line = app.stdout.readline().decode().strip()
        check(line == f"below clicked {left + 1} {1024 - (top + 1)}", f"the click went through the corner: {line!r}")

        # The about box moves when dragged and hides when clicked.
        x.drag((800, 400), (820, 430))
        check(x.geometry(about)[:2] == (720, 354), f"the about box moved: {x.geometry(about)}")
        check(x.is_visible(about), "the dragged about box stays on screen")
        x.click((830, 440))
        check(not x.is_visible(about), "the clicked about box hides")

        app.terminate()
        app.wait(timeout=10)

    return checks.summary()


if __name__ == "__main__":
    sys.exit(main())
