"""The "ok" / "FAIL" lines the Python tests print, and the failures counted."""
import sys

failures = []


def check(cond, what):
    print(("ok   " if cond else "FAIL ") + what, flush=True)
    if not cond:
        failures.append(what)


def finish():
    """Prints how many checks failed and exits with 1 when any did."""
    print("%d failed" % len(failures))
    sys.exit(1 if failures else 0)
