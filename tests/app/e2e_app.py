#!/usr/bin/env python3
"""The desktop program on a real X server, read through the accessibility
tree as a screen reader reads it, and driven as a user would.

usage: e2e_app.py <sentrel> <sentrel-make-fixtures>
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import checks  # noqa: E402
from checks import check  # noqa: E402
from x11session import X11Session  # noqa: E402

QUARANTINE = "user.com.apple.quarantine"
RECORD = b"0083;674a1c00;Firefox;6F1C3E2A-58B4-4C1D-9E0F-2B7A9D4C8E51"



def attributes(path):
    return {name: os.getxattr(path, name) for name in os.listxattr(path)}


def showing_windows(x, app):
    """Names of the application's windows a user sees."""
    return sorted(w.name for w in app.refresh().children() if "showing" in w.states)


def wait_until(predicate, timeout=10):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.1)
    return predicate()


def sandboxed(command, work, info):
    """The command under bubblewrap as a Flatpak application runs: its own
    root with the system's folders, and /.flatpak-info."""
    build = os.path.dirname(os.path.dirname(os.path.realpath(command[0])))
    args = ["bwrap", "--tmpfs", "/", "--ro-bind", "/usr", "/usr", "--ro-bind", "/etc", "/etc",
            "--ro-bind-try", "/var/cache/fontconfig", "/var/cache/fontconfig",
            "--symlink", "usr/bin", "/bin", "--symlink", "usr/sbin", "/sbin",
            "--symlink", "usr/lib", "/lib", "--symlink", "usr/lib64", "/lib64",
            "--bind", "/tmp", "/tmp", "--ro-bind", build, build, "--bind", work, work,
            "--dev", "/dev", "--proc", "/proc", "--ro-bind", info, "/.flatpak-info", "--die-with-parent"]
    return args + command


def main():
    sentrel, make_fixtures = sys.argv[1], sys.argv[2]
    work = tempfile.mkdtemp(prefix="sentrel-e2e-")
    try:
        app_path = subprocess.run([make_fixtures, "--demo", os.path.join(work, "demo")], check=True,
                                  capture_output=True, text=True).stdout.strip()
        notes = os.path.join(work, "notes.txt")
        with open(notes, "w") as f:
            f.write("plain text\n")
        os.setxattr(app_path, "user.xdg.origin.url", b"https://downloads.example.org/SentrelDemoReader.zip")
        os.setxattr(app_path, "user.com.example.binary", bytes(range(256)))
        home = os.path.join(work, "home")
        os.makedirs(home)
        marker = os.path.join(work, "terminal-started")
        terminal = os.path.join(work, "fake-terminal")
        with open(terminal, "w") as f:
            f.write(f"#!/bin/sh\ntouch '{marker}'\n")
        os.chmod(terminal, 0o755)
        env = dict(HOME=home, TERMINAL=terminal, XDG_DATA_HOME=os.path.join(home, ".local/share"))

        with X11Session(accessibility=True) as x:
            x.env.update(env)
            a11y = x.a11y

            # No file: the splash alone invites a drop.
            proc = x.start([sentrel], stderr=subprocess.DEVNULL)
            app = a11y.app(pid=proc.pid)
            a11y.wait_window("Welcome to Sentrel", app=app)
            check(showing_windows(x, app) == ["Welcome to Sentrel"], f"launched alone, only the splash: {showing_windows(x, app)}")
            proc.terminate()
            proc.wait(timeout=20)

            # The demo: what it is, where it came from, who signed it.
            os.setxattr(app_path, QUARANTINE, RECORD)
            before = attributes(app_path)
            proc = x.start([sentrel, app_path], stderr=subprocess.DEVNULL)
            app = a11y.app(pid=proc.pid)
            window = a11y.wait_window("Sentrel Demo Reader.app", app=app)
            check(showing_windows(x, app) == ["Sentrel Demo Reader.app"], "the splash hides when a document opens")
            for role, name, what in (
                    ("label", "com.sentrel.demo.Reader", "the signing identifier"),
                    ("label", "Apple 'Developer ID' Credentials", "the credential kind"),
                    ("label", "Firefox", "the quarantine agent"),
                    ("label", re.compile('^H"[0-9A-F]{40}"$'), "a SHA-1 fingerprint"),
                    ("label", re.compile("^Quarantined"), "the quarantine state")):
                try:
                    node = window.find(role, name)
                    check(True, f"{what} reads: {node.name}")
                except LookupError as error:
                    check(False, f"{what}: {error}")
            # The verdict comes from a background check, a moment later.
            check(wait_until(lambda: bool(window.find_all("label", "Not genuine"))),
                  "the forged demo signature reads Not genuine")
            check(bool(window.find_all("label", "untrusted")), "its signer kind reads untrusted")
            # Every control by its visible name.
            for role, name in (("push button", "Remove from Quarantine"), ("menu item", "File"),
                               ("menu item", "Open…"), ("menu item", "Open Recent"), ("menu item", "Close"),
                               ("menu item", "Quit"), ("menu item", "About Sentrel")):
                check(bool(window.find_all(role, name)), f"the {role} '{name}' is reachable")

            # Remove from Quarantine: the record goes, nothing else changes.
            button = window.find("push button", "Remove from Quarantine")
            check("enabled" in button.states, "the removal button is enabled while quarantined")
            button.press()
            check(wait_until(lambda: QUARANTINE not in attributes(app_path)), "the quarantine attribute is gone")
            after = attributes(app_path)
            before.pop(QUARANTINE)
            check(after == before, "every other attribute is byte-identical")
            try:
                window.find("label", "Not quarantined")
                check(True, "the window says not quarantined")
            except LookupError as error:
                check(False, f"the window says not quarantined: {error}")
            check(button.wait(lambda b: "enabled" not in b.states, what="disabled") is not None,
                  "the removal button is disabled afterwards")
            proc.terminate()
            proc.wait(timeout=20)

            # In a sandbox: the panel with the command; the file is left alone.
            if shutil.which("bwrap"):
                os.setxattr(app_path, QUARANTINE, RECORD)
                info = os.path.join(work, "flatpak-info")
                with open(info, "w") as f:
                    f.write("[Application]\nname=org.sentrel.Sentrel\nruntime=runtime/org.example.Platform/x86_64/1\n")
                proc = x.start(sandboxed([sentrel, app_path], work, info), stderr=subprocess.DEVNULL)
                window = a11y.wait_window("Sentrel Demo Reader.app")
                window.find("push button", "Remove from Quarantine").press()
                panel = a11y.wait_window("Remove from Quarantine")
                title = "Remove Sentrel Demo Reader.app from Quarantine"
                command = f'xattr -d com.apple.quarantine "{app_path}"'
                check(bool(panel.find_all("label", title)), f"the panel's title: {title}")
                shown = [t for t in panel.find_all("text") if t.description == "Command"]
                check(len(shown) == 1 and shown[0].text == command and "read only" in shown[0].states,
                      f"the panel's command: {command}")
                time.sleep(0.5)
                check(attributes(app_path).get(QUARANTINE) == RECORD, "the sandboxed program leaves the attribute")
                panel.find("push button", "Open Terminal").press()
                check(wait_until(lambda: os.path.exists(marker)), "the launch button starts the terminal")
                proc.terminate()
                proc.wait(timeout=20)
            else:
                check(False, "bubblewrap is not installed")

            # Two documents: closing one keeps the splash hidden, closing both brings it back.
            proc = x.start([sentrel, app_path, notes], stderr=subprocess.DEVNULL)
            app = a11y.app(pid=proc.pid)
            a11y.wait_window("Sentrel Demo Reader.app", app=app)
            a11y.wait_window("notes.txt", app=app)
            for name in ("notes.txt", "Sentrel Demo Reader.app"):
                x.focus(x.wait_window(f"^{re.escape(name)}$"))
                x.run("key", "ctrl+w")
                wait_until(lambda: name not in showing_windows(x, app))
                if name == "notes.txt":
                    check(showing_windows(x, app) == ["Sentrel Demo Reader.app"],
                          f"one closed, the splash stays hidden: {showing_windows(x, app)}")
            check(wait_until(lambda: showing_windows(x, app) == ["Welcome to Sentrel"]),
                  f"both closed, the splash is back: {showing_windows(x, app)}")

            # Quit from the menu ends the program.
            x.focus(x.wait_window("^Welcome to Sentrel$"))
            x.run("key", "ctrl+q")
            try:
                proc.wait(timeout=20)
                check(True, "Quit ends the program")
            except subprocess.TimeoutExpired:
                check(False, "Quit ends the program")
                proc.kill()
    finally:
        shutil.rmtree(work, ignore_errors=True)

    return checks.summary()


if __name__ == "__main__":
    sys.exit(main())
