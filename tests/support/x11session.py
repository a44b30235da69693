"""A private X server (Xvfb) for end-to-end tests of windows, driven with
xdotool, with screenshots through ImageMagick's import."""
import os
import re
import subprocess
import time


class X11Session:
    def __init__(self, width=1280, height=1024):
        self.width = width
        self.height = height
        self.children = []

    def __enter__(self):
        read_fd, write_fd = os.pipe()
        self.server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", f"{self.width}x{self.height}x24",
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(read_fd) as display:
            number = display.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.env = dict(os.environ, DISPLAY=":" + number, QT_QPA_PLATFORM="xcb")
        self.env.pop("WAYLAND_DISPLAY", None)
        return self

    def __exit__(self, *exc):
        for child in self.children:
            if child.poll() is None:
                child.kill()
                child.wait()
        self.server.terminate()
        self.server.wait(timeout=10)
        return False

    def start(self, command, **kwargs):
        child = subprocess.Popen(command, env=self.env, **kwargs)
        self.children.append(child)
        return child

    def run(self, *args):
        return subprocess.run(["xdotool", *map(str, args)], env=self.env, capture_output=True, text=True,
                              timeout=30)

    def wait_window(self, name, timeout=20):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = self.run("search", "--onlyvisible", "--name", name).stdout.split()
            if found:
                return found[0]
            time.sleep(0.05)
        raise TimeoutError(f"no window named {name}")

    def geometry(self, window):
        """(x, y, width, height) in X's top-left coordinates."""
        self.settle()
        out = self.run("getwindowgeometry", "--shell", window).stdout
        values = dict(re.findall(r"(\w+)=(-?\d+)", out))
        return tuple(int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))

    def is_visible(self, window):
        self.settle()
        return window in self.run("search", "--onlyvisible", "--name", ".").stdout.split()

    def settle(self, seconds=0.25):
        time.sleep(seconds)

    def drag(self, start, end, steps=8):
        self.run("mousemove", *start)
        self.run("mousedown", 1)
        for i in range(1, steps + 1):
            x = start[0] + (end[0] - start[0]) * i // steps
            y = start[1] + (end[1] - start[1]) * i // steps
            self.run("mousemove", x, y)
            time.sleep(0.01)
        self.run("mouseup", 1)
        self.settle()

    def click(self, point):
        self.run("mousemove", *point)
        self.run("click", 1)
        self.settle()

    def screenshot(self, path):
        self.settle(0.3)
        subprocess.run(["import", "-window", "root", path], env=self.env, check=True, timeout=30)
