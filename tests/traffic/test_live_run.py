#!/usr/bin/env python3
"""The whole road on a real recording: rtfeed replays it as RealTraffic,
Ventrix_P3D injects it into simhost. Objects must be created, move, be
removed again, never jump, and stay close to their reports at due time.

Usage: test_live_run.py <Ventrix_P3D> <simhost> <rtfeed> <livgen> <trace_fidelity>
Skips (exit 0) when the shared recordings are absent.
"""
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
exe, simhost, rtfeed, livgen, fidelity = sys.argv[1:6]
shared = os.environ.get("VNTX_SHARED_DIR", os.path.join(HERE, "..", "..", "..", "shared"))
rec = os.path.join(shared, "data", "traffic", "vhhh_arrivals_2018-05-01_fr24.csv")
regs = [os.path.join(shared, "data", "registrations", n)
        for n in ("dump1090_mutability_aircraft_db.csv", "vrs_standing_data_aircraft.csv")]
if not os.path.exists(rec):
    print("shared recordings absent: skipped")
    sys.exit(0)

failures = []


def check(cond, what):
    print(("ok   " if cond else "FAIL ") + what, flush=True)
    if not cond:
        failures.append(what)


with tempfile.TemporaryDirectory() as root:
    out = os.path.join(root, "run")
    args = [sys.executable, os.path.join(HERE, "..", "support", "live_run.py"), "--exe", exe, "--simhost", simhost,
            "--rtfeed", rtfeed, "--livgen", livgen, "--fidelity", fidelity, "--recording", rec,
            "--start", "30000", "--seconds", "90", "--tail", "45", "--densify", "5", "--recording-liveries",
            "--user", "22.308,113.918,70", "--out", out]
    for r in regs:
        if os.path.exists(r):
            args += ["--regdb", r]
    p = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=300)
    print(p.stdout)
    text = p.stdout

    def number(pattern):
        m = re.search(pattern, text)
        return float(m.group(1)) if m else None

    created = number(r"AI objects\s+(\d+) created")
    removed = number(r"AI objects\s+\d+ created, (\d+) removed")
    moved = number(r"removed, (\d+) moved")
    airborne = number(r"airborne aircraft\s+(\d+) reported")
    flown = number(r"reported, (\d+) flown")
    median = number(r"median ([\d.]+) m")
    p95 = number(r"95th percentile ([\d.]+) m")
    samples = number(r"\((\d+) reports measured")
    teleports = number(r"teleports (\d+)")
    untied = number(r"objects left alone\s+(\d+) never taken over")
    unplaced = number(r"never taken over, (\d+) never placed")
    asked = number(r"(\d+) creations asked")
    answered = number(r"creations asked, (\d+) created")
    check(p.returncode == 0, "the run ended cleanly")
    check(created is not None and created >= 1, "AI objects created (%s)" % created)
    check(moved is not None and moved >= 1, "objects moved (%s)" % moved)
    # Every object is gone at the end: removed when its aircraft stopped
    # reporting, or withdrawn when the program closed.
    check(removed is not None and removed == created, "every object removed again (%s of %s)" % (removed, created))
    # Some aircraft stop being reported or have no livery; most must be flown.
    check(airborne is not None and flown is not None and flown >= max(1, 0.6 * airborne),
          "airborne aircraft flown (%s of %s)" % (flown, airborne))
    check(teleports == 0, "no teleports")
    check(untied == 0 and unplaced == 0, "every object taken over and placed (%s, %s left alone)" % (untied, unplaced))
    check(asked is not None and asked == answered, "as many created as asked (%s of %s)" % (answered, asked))
    check(samples is not None and samples >= 10, "reports measured at their due time (%s)" % samples)
    check(median is not None and median < 50, "median distance at due time under 50 m (%s)" % median)
    check(p95 is not None and p95 < 300, "95th percentile under 300 m (%s)" % p95)
    log = open(os.path.join(out, "Log.txt"), encoding="utf-8", errors="replace").read()
    check("Exiting: USER CLOSED SIM" in log, "closed by the user")

print("%d failed" % len(failures))
sys.exit(1 if failures else 0)
