"""Reads the accessibility tree for x11session.py's Accessibility client.

Runs as a child of the test, on the session's own D-Bus bus, under a Python
that has Debian's pyatspi (the test itself may run under another Python).
pyatspi connects to the bus once, when it is imported, so a process of its
own per X session is what keeps one session's bus from leaking into the next.

Protocol: one JSON request per line on stdin, one JSON answer per line on
stdout: {"ok": result} or {"error": message}. Nodes travel as handles, small
integers that stay valid for the life of this process.
"""
import json
import sys
import traceback

import pyatspi
from gi.repository import Atspi

# A node walk stops here: a runaway tree (a huge table) must not hang a test.
MAX_NODES = 5000

handles = {}
handle_of = {}


def handle(acc):
    key = id(acc)
    if key in handle_of and handles.get(handle_of[key]) is acc:
        return handle_of[key]
    number = len(handles) + 1
    handles[number] = acc
    handle_of[key] = number
    return number


def node(number):
    try:
        return handles[number]
    except KeyError:
        raise LookupError(f"no node with handle {number}") from None


def safe(call, default=None):
    try:
        return call()
    except Exception:
        return default


def text_of(acc):
    text = safe(acc.queryText)
    if text is None:
        return None
    return safe(lambda: text.getText(0, -1))


def actions_of(acc):
    action = safe(acc.queryAction)
    if action is None:
        return []
    return [safe(lambda i=i: action.getName(i), "") for i in range(safe(lambda: action.nActions, 0))]


def describe(acc, depth=0):
    safe(acc.clear_cache)
    states = safe(lambda: acc.getState().getStates(), [])
    return {
        "handle": handle(acc),
        "role": safe(acc.getRoleName, "unknown"),
        "name": safe(lambda: acc.name, "") or "",
        "description": safe(lambda: acc.description, "") or "",
        "text": text_of(acc),
        "states": sorted(pyatspi.stateToString(s) for s in states),
        "actions": actions_of(acc),
        "depth": depth,
    }


def children(acc):
    count = safe(lambda: acc.childCount, 0) or 0
    found = []
    for i in range(count):
        child = safe(lambda i=i: acc.getChildAtIndex(i))
        if child is not None:
            found.append(child)
    return found


def op_apps():
    desktop = pyatspi.Registry.getDesktop(0)
    safe(desktop.clear_cache)
    result = []
    for app in children(desktop):
        entry = describe(app)
        entry["pid"] = safe(app.get_process_id, 0)
        result.append(entry)
    return result


def op_children(handle):
    return [describe(child, 1) for child in children(node(handle))]


def op_describe(handle):
    return describe(node(handle))


def op_tree(handle):
    result = []
    stack = [(node(handle), 0)]
    while stack and len(result) < MAX_NODES:
        acc, depth = stack.pop()
        result.append(describe(acc, depth))
        stack.extend((child, depth + 1) for child in reversed(children(acc)))
    return result


def op_action(handle, name):
    acc = node(handle)
    names = actions_of(acc)
    if not names:
        raise LookupError(f"the {safe(acc.getRoleName)} {acc.name!r} has no actions")
    if name is None:
        index = 0
    elif name in names:
        index = names.index(name)
    else:
        raise LookupError(f"the {safe(acc.getRoleName)} {acc.name!r} has no action {name!r}; it has {names}")
    return bool(acc.queryAction().doAction(index))


def op_table(handle):
    acc = node(handle)
    table = safe(acc.queryTable)
    if table is None:
        raise LookupError(f"the {safe(acc.getRoleName)} {acc.name!r} has no Table interface")
    rows, columns = table.nRows, table.nColumns

    def cell(acc):
        if acc is None:
            return ""
        text = text_of(acc)
        return text if text else (acc.name or "")

    headers = []
    for c in range(columns):
        header = safe(lambda c=c: table.getColumnHeader(c))
        headers.append(cell(header) if header is not None else safe(lambda c=c: table.getColumnDescription(c), ""))
    cells = [[cell(safe(lambda r=r, c=c: table.getAccessibleAt(r, c))) for c in range(columns)]
             for r in range(rows)]
    return {"headers": headers, "rows": cells}


OPS = {"apps": op_apps, "children": op_children, "describe": op_describe, "tree": op_tree,
       "action": op_action, "table": op_table}


def main():
    # A call to an application that stopped answering fails after 2 s
    # rather than libatspi's default of 25.
    Atspi.set_timeout(2000, 2000)
    print(json.dumps({"ok": "ready"}), flush=True)
    for line in sys.stdin:
        try:
            request = json.loads(line)
            op = OPS[request.pop("op")]
            answer = {"ok": op(**request)}
        except Exception as error:
            answer = {"error": f"{type(error).__name__}: {error}",
                      "trace": traceback.format_exc(limit=3)}
        print(json.dumps(answer), flush=True)


if __name__ == "__main__":
    main()
