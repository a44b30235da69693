"""A private X server (Xvfb) for end-to-end tests of windows, driven with
xdotool, with screenshots through ImageMagick's import; and, on request, the
windows' accessibility tree read over AT-SPI the way a screen reader reads it.

Windows and the mouse:

    with X11Session() as x:
        app = x.start([program, path])       # a child with DISPLAY set
        win = x.wait_window("^Probe$")       # X window id, once visible
        x.geometry(win); x.drag(a, b); x.click(p); x.screenshot("shot.png")
        x.focus(win)                         # the keyboard focus (no window
                                             # manager gives it otherwise)

The accessibility tree (X11Session(accessibility=True)): the session also
starts a D-Bus session bus and the accessibility bus of its own, so nothing
reaches the desktop session the tests are started from; its children see
that bus, with Qt's accessibility switched on.

    with X11Session(accessibility=True) as x:
        x.start([program])
        a11y = x.a11y                         # an Accessibility
        window = a11y.wait_window("Probe")   # a Node: top-level window by name
        button = window.find("push button", "Press Me")
        button.press()                       # the Action interface's "Press"
        label = window.find("label", re.compile("^Pressed"))
        print(label.name, label.text, label.states)
        headers, rows = window.find("table").table()
        print(window.dump())                 # an outline of every node

Accessibility (x.a11y):
    apps()                          the applications on the bus, as Nodes
    app(name=None, pid=None, timeout=20)   one application, by name or pid
    wait_window(name, app=None, timeout=20)
                                    a top-level window (frame, dialog, ...) of
                                    any application or of `app`, by name

Node (a snapshot of one accessible object; refresh() reads it again):
    role, name, description         strings: role as AT-SPI names it, lower
                                    case with spaces ("push button", "label",
                                    "text", "table", "table cell", "frame")
    text                            the Text interface's contents, or None
                                    (Qt gives a label none: its text is its
                                    name)
    states                          a frozenset: "enabled", "visible",
                                    "showing", "focused", "focusable",
                                    "editable", "checked", "selected", ...
                                    (Qt marks a read-only field both
                                    "editable" and "read only"; "focused"
                                    needs x.focus() on the window first)
    pid                             an application's process id (else None)
    actions                         the Action interface's names ("Press",
                                    "SetFocus", ...)
    depth                           depth below the node nodes() started at
    children()                      the direct children
    nodes()                         this node and everything below it
    find(role=None, name=None, timeout=5)
                                    the first node below (or this node) with
                                    that role and name; name is an exact
                                    string or a compiled regex (searched);
                                    waits up to timeout for it to appear
    find_all(role=None, name=None)  every such node, no waiting
    press(action=None)              does an action ("Press" by default, else
                                    the first); names it in the error if absent
    focus()                         the "SetFocus" action
    table()                         (headers, rows): a Table's column headers
                                    and its cells' texts, row by row
    refresh()                       a new snapshot of the same object
    wait(predicate, timeout=5, what=...)
                                    refreshes until predicate(node) holds
    line()                          role, name, text, states on one line
    dump()                          an indented outline of this subtree

Every wait has a timeout. A missing application or window raises
TimeoutError, a missing node or action LookupError, each with what was there
instead; a reader that stops answering for 15 s is ended with TimeoutError.

The tree is read by a child process (a11y_worker.py) under a Python that has
Debian's python3-pyatspi, connected to this session's bus only.
"""
import importlib.util
import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

_HERE = os.path.dirname(os.path.abspath(__file__))


class X11Session:
    def __init__(self, width=1280, height=1024, accessibility=False, session_bus=False):
        """accessibility: also read windows over AT-SPI (x.a11y), which
        needs a session bus; session_bus alone gives the children a private
        D-Bus session bus (Qt looks for one) without the accessibility bus."""
        self.width = width
        self.height = height
        self.accessibility = accessibility
        self.session_bus = session_bus or accessibility
        self.children = []
        self._services = []
        self._runtime_dir = None
        self._a11y = None
        self.server = None

    def __enter__(self):
        try:
            self._start()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def _start(self):
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
        if self.session_bus:
            self._start_bus()
        if self.accessibility:
            self._start_a11y_bus()

    def _start_bus(self):
        # A runtime directory of its own: the buses' sockets, dconf's files.
        self._runtime_dir = tempfile.mkdtemp(prefix="x11session-")
        self.env["XDG_RUNTIME_DIR"] = self._runtime_dir
        for leaked in ("DBUS_SESSION_BUS_ADDRESS", "DBUS_SESSION_BUS_PID", "AT_SPI_BUS_ADDRESS",
                       "SESSION_MANAGER", "DBUS_STARTER_ADDRESS", "DBUS_STARTER_BUS_TYPE"):
            self.env.pop(leaked, None)
        read_fd, write_fd = os.pipe()
        bus = self._service(["dbus-daemon", "--session", "--nofork", "--nopidfile",
                             f"--print-address={write_fd}"], pass_fds=(write_fd,))
        os.close(write_fd)
        with os.fdopen(read_fd) as out:
            ready, _, _ = select.select([out], [], [], 10)
            address = out.readline().strip() if ready else ""
        if not address:
            raise RuntimeError("dbus-daemon did not start")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address

    def _start_a11y_bus(self):
        self._service(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                      env=dict(self.env, GSETTINGS_BACKEND="memory"))
        # Until the launcher owns its name a client's lookup would have the
        # bus start a second launcher.
        deadline = time.monotonic() + 10
        while not self._bus_has("org.a11y.Bus"):
            if time.monotonic() > deadline:
                raise RuntimeError("at-spi-bus-launcher did not take the name org.a11y.Bus")
            time.sleep(0.05)
        self.env.pop("NO_AT_BRIDGE", None)
        self.env.update(QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1")

    def _bus_has(self, name):
        out = subprocess.run(
            ["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
             "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", f"string:{name}"],
            env=self.env, capture_output=True, text=True, timeout=10).stdout
        return "boolean true" in out

    def _service(self, command, **kwargs):
        # A process group of its own, so what it starts in turn (the buses'
        # activated services) ends with it.
        kwargs.setdefault("env", self.env)
        child = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL, start_new_session=True, **kwargs)
        self._services.append(child)
        return child

    def __exit__(self, *exc):
        if self._a11y is not None:
            self._a11y.close()
            self._a11y = None
        for child in self.children:
            if child.poll() is None:
                child.kill()
                child.wait()
        for service in reversed(self._services):
            _end_group(service)
        self._services = []
        if self.server is not None:
            self.server.terminate()
            self.server.wait(timeout=10)
            self.server = None
        if self._runtime_dir:
            shutil.rmtree(self._runtime_dir, ignore_errors=True)
            self._runtime_dir = None
        return False

    @property
    def a11y(self):
        """The accessibility tree of this session's applications."""
        if not self.accessibility:
            raise RuntimeError("this X11Session was not started with accessibility=True")
        if self._a11y is None:
            self._a11y = Accessibility(self.env)
        return self._a11y

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

    def focus(self, window):
        """Gives the window the keyboard focus: there is no window manager to
        do it, and until then no widget in it is "focused"."""
        self.run("windowfocus", "--sync", window)
        self.settle()

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


def _end_group(child, grace=5):
    """Ends a child started in a session of its own, and its group."""
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.killpg(child.pid, sig)
        except ProcessLookupError:
            pass
        try:
            child.wait(timeout=grace)
            return
        except subprocess.TimeoutExpired:
            continue


def _pyatspi_python():
    if importlib.util.find_spec("pyatspi") is not None:
        return sys.executable
    # A Python of its own (a virtualenv, pyenv) doesn't see Debian's modules.
    return "/usr/bin/python3"


def _matches(value, pattern):
    if pattern is None:
        return True
    if isinstance(pattern, re.Pattern):
        return pattern.search(value) is not None
    return value == pattern


def _role(role):
    return None if role is None else role.lower().replace("_", " ")


def _describe_query(role, name):
    parts = []
    if role is not None:
        parts.append(role)
    if name is not None:
        parts.append(f"/{name.pattern}/" if isinstance(name, re.Pattern) else repr(name))
    return " ".join(parts) or "any node"


class Accessibility:
    """The client side of a11y_worker.py: every call answers within
    `call_timeout` seconds or ends the worker with an error."""

    def __init__(self, env, call_timeout=15):
        self.call_timeout = call_timeout
        self._buffer = b""
        env = dict(env)
        env.pop("PYTHONHOME", None)
        self._worker = subprocess.Popen(
            [_pyatspi_python(), os.path.join(_HERE, "a11y_worker.py")], env=env,
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            self._answer()
        except Exception as error:
            raise RuntimeError(f"the AT-SPI reader did not start (is python3-pyatspi installed?): {error}") \
                from None

    def close(self):
        if self._worker.poll() is None:
            self._worker.stdin.close()
            try:
                self._worker.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self._worker.kill()
                self._worker.wait()

    def _answer(self):
        deadline = time.monotonic() + self.call_timeout
        out = self._worker.stdout.fileno()
        while b"\n" not in self._buffer:
            left = deadline - time.monotonic()
            ready = select.select([out], [], [], max(left, 0))[0] if left > 0 else []
            if not ready:
                self._worker.kill()
                raise TimeoutError(f"the AT-SPI reader gave no answer in {self.call_timeout} s")
            chunk = os.read(out, 65536)
            if not chunk:
                self._worker.wait()
                err = self._worker.stderr.read().decode(errors="replace").strip()
                raise RuntimeError(f"the AT-SPI reader stopped ({self._worker.returncode}): {err[-2000:]}")
            self._buffer += chunk
        line, self._buffer = self._buffer.split(b"\n", 1)
        answer = json.loads(line)
        if "error" in answer:
            raise LookupError(answer["error"])
        return answer["ok"]

    def call(self, op, **args):
        if self._worker.poll() is not None:
            raise RuntimeError("the AT-SPI reader has stopped")
        self._worker.stdin.write((json.dumps(dict(args, op=op)) + "\n").encode())
        self._worker.stdin.flush()
        return self._answer()

    def _node(self, data):
        return Node(self, data)

    def apps(self):
        """The applications registered on this session's accessibility bus."""
        return [self._node(data) for data in self.call("apps")]

    def app(self, name=None, pid=None, timeout=20):
        """The application with that name (exact string or compiled regex)
        or process id, once it has registered."""
        deadline = time.monotonic() + timeout
        while True:
            apps = self.apps()
            for app in apps:
                if _matches(app.name, name) and (pid is None or app.pid == pid):
                    return app
            if time.monotonic() > deadline:
                seen = ", ".join(f"{a.name!r} (pid {a.pid})" for a in apps) or "none"
                wanted = " ".join(filter(None, [name and _describe_query(None, name),
                                                pid and f"pid {pid}"])) or "any"
                raise TimeoutError(f"no application {wanted} in {timeout} s; applications: {seen}")
            time.sleep(0.1)

    def wait_window(self, name, app=None, timeout=20):
        """A top-level window (a child of an application: frame, dialog,
        window...) named `name` (exact string or compiled regex)."""
        deadline = time.monotonic() + timeout
        while True:
            seen = []
            for owner in ([app] if app is not None else self.apps()):
                for window in owner.children():
                    if _matches(window.name, name):
                        return window
                    seen.append(f"{owner.name!r}: {window.role} {window.name!r}")
            if time.monotonic() > deadline:
                raise TimeoutError(f"no window {_describe_query(None, name)} in {timeout} s; "
                                   f"windows: {'; '.join(seen) or 'none'}")
            time.sleep(0.1)


class Node:
    """One accessible object as it was when read."""

    def __init__(self, a11y, data):
        self._a11y = a11y
        self.handle = data["handle"]
        self.role = data["role"]
        self.name = data["name"]
        self.description = data["description"]
        self.text = data["text"]
        self.states = frozenset(data["states"])
        self.actions = list(data["actions"])
        self.depth = data["depth"]
        self.pid = data.get("pid")

    def __repr__(self):
        return f"<{self.role} {self.name!r}>"

    def line(self):
        """This node on one line: role, name, text, description, states."""
        out = [self.role, repr(self.name)]
        if self.text is not None and self.text != self.name:
            out.append(f"text={self.text!r}")
        if self.description:
            out.append(f"description={self.description!r}")
        out.append("[" + " ".join(sorted(self.states)) + "]")
        if self.actions:
            out.append("actions=" + ",".join(self.actions))
        return " ".join(out)

    def refresh(self):
        return self._a11y._node(self._a11y.call("describe", handle=self.handle))

    def children(self):
        return [self._a11y._node(data) for data in self._a11y.call("children", handle=self.handle)]

    def nodes(self):
        """This node and every node below it, depth first, in order."""
        return [self._a11y._node(data) for data in self._a11y.call("tree", handle=self.handle)]

    def dump(self, nodes=None):
        return "\n".join("  " * n.depth + n.line() for n in (nodes or self.nodes()))

    def find_all(self, role=None, name=None):
        role = _role(role)
        return [n for n in self.nodes() if (role is None or n.role == role) and _matches(n.name, name)]

    def find(self, role=None, name=None, timeout=5):
        """The first node with that role and name at or below this one;
        waits up to `timeout` seconds for it to appear."""
        role = _role(role)
        deadline = time.monotonic() + timeout
        while True:
            nodes = self.nodes()
            for n in nodes:
                if (role is None or n.role == role) and _matches(n.name, name):
                    return n
            if time.monotonic() > deadline:
                raise LookupError(f"no {_describe_query(role, name)} below {self!r} in {timeout} s; "
                                  f"found:\n{self.dump(nodes[:200])}")
            time.sleep(0.1)

    def wait(self, predicate, timeout=5, what="the expected state"):
        """This node read again until predicate(node) holds."""
        deadline = time.monotonic() + timeout
        node = self
        while True:
            node = node.refresh()
            if predicate(node):
                return node
            if time.monotonic() > deadline:
                raise TimeoutError(f"{self!r} did not reach {what} in {timeout} s; it is {node.line()}")
            time.sleep(0.1)

    def press(self, action=None):
        """Does the named action, "Press" by default (the first action when
        there is no "Press")."""
        if action is None and "Press" in self.actions:
            action = "Press"
        return self._a11y.call("action", handle=self.handle, name=action)

    def focus(self):
        return self.press("SetFocus")

    def table(self):
        """(headers, rows): the column headers and each row's cell texts."""
        table = self._a11y.call("table", handle=self.handle)
        return table["headers"], table["rows"]
