#!/usr/bin/env python3
"""The accessibility harness on a window of known contents: a11y_probe is
started on a private X server and read over AT-SPI as a screen reader would.

usage: test_a11y_harness.py <a11y_probe>
"""
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import checks  # noqa: E402
from checks import check  # noqa: E402
from x11session import X11Session  # noqa: E402



def raises(call, error, *fragments):
    """Whether call() raises `error` with every fragment in its message."""
    try:
        call()
    except error as e:
        return all(f in str(e) for f in fragments)
    return False


def main():
    probe = sys.argv[1]
    with X11Session(width=1024, height=768, accessibility=True) as x:
        env = x.env
        check(env["DBUS_SESSION_BUS_ADDRESS"] != os.environ.get("DBUS_SESSION_BUS_ADDRESS"),
              "the session has a bus of its own")
        child = x.start([probe])
        a11y = x.a11y

        app = a11y.app(pid=child.pid)
        check(app.name == "a11y_probe", f"the probe is found by its pid: {app!r}")
        check(a11y.app("a11y_probe").pid == child.pid, "and by its name")

        window = a11y.wait_window("Probe")
        check(window.role == "frame" and "showing" in window.states, f"its window: {window.line()}")

        label = window.find("label", "Not pressed yet")
        path = window.find("text", "Path")
        check(path.text == "/Applications/Probe.app" and "read only" in path.states
              and path.description == "Where the probed file lives",
              f"the read-only field's text, state and description: {path.line()}")

        # The button is found by its name and pressed without the mouse.
        button = window.find("push button", "Press Me")
        check("Press" in button.actions and "enabled" in button.states, f"the button: {button.line()}")
        button.press()
        label = label.wait(lambda n: n.name == "Pressed 1 time", what="its text after the press")
        check(label.name == "Pressed 1 time", f"the press changed the label: {label.line()}")
        button.press()
        check(window.find("label", re.compile(r"^Pressed \d+ times$")).name == "Pressed 2 times",
              "a second press, found by a regex")

        # States come through as they are: a disabled button is not enabled.
        disabled = window.find("push_button", "Unavailable")
        check("enabled" not in disabled.states and "showing" in disabled.states,
              f"the disabled button: {disabled.line()}")

        # Once the window has the keyboard focus, its first field has it;
        # SetFocus moves it to the button.
        x.focus(x.wait_window("^Probe$"))
        path = path.wait(lambda n: "focused" in n.states, what="focus")
        button.focus()
        button = button.wait(lambda n: "focused" in n.states, what="focus")
        check("focused" not in path.refresh().states, "SetFocus moves the focus from the field to the button")

        headers, rows = window.find("table", "Attributes").table()
        check(headers == ["Key", "Value"], f"the table's headers: {headers}")
        check(rows == [["Quarantine", "0083"], ["Agent", "Firefox"], ["Signed", "Developer ID"]],
              f"the table's cells: {rows}")

        check(raises(lambda: window.find("push button", "Nowhere", timeout=0.5), LookupError,
                     "no push button 'Nowhere'", "Press Me", "Attributes"),
              "a missing node's error lists what was there")
        check(raises(lambda: a11y.wait_window("Nowhere", timeout=0.5), TimeoutError,
                     "'a11y_probe': frame 'Probe'"),
              "a missing window's error lists the windows")
        check(raises(lambda: label.press(), LookupError, "has no actions"),
              "pressing what cannot be pressed is an error")

        child.terminate()
        child.wait(timeout=10)
        bus_pids = [s.pid for s in x._services]

    # Everything the session started has ended with it.
    left = [pid for pid in bus_pids if os.path.exists(f"/proc/{pid}")
            and not open(f"/proc/{pid}/stat").read().split(") ")[1].startswith("Z")]
    check(not left, f"the buses ended with the session: {left}")
    address = env["DBUS_SESSION_BUS_ADDRESS"]
    gone = subprocess.run(["dbus-send", f"--bus={address}", "--print-reply", "--dest=org.freedesktop.DBus",
                           "/org/freedesktop/DBus", "org.freedesktop.DBus.ListNames"],
                          capture_output=True, timeout=10).returncode != 0
    check(gone, "its bus no longer answers")
    check(not os.path.exists(env["XDG_RUNTIME_DIR"]), "its runtime directory is removed")

    return checks.summary()


if __name__ == "__main__":
    try:
        sys.exit(main())
    except Exception as error:
        check(False, f"{type(error).__name__}: {error}")
        sys.exit(checks.summary())
