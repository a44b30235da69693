"""The checks of an end-to-end script: each prints "ok" or "FAIL" and what it
checked; the script ends with the closing line "N passed, N failed"."""
passed = 0
failures = []


def check(condition, what):
    """Records one check; answers whether it held."""
    global passed
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if condition:
        passed += 1
    else:
        failures.append(what)
    return bool(condition)


def summary():
    """Prints the closing line; answers the script's exit status."""
    print(f"{passed} passed, {len(failures)} failed", flush=True)
    return 1 if failures else 0
