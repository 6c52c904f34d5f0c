#!/usr/bin/env python3
"""The airport scan in the running program: a first start with SCAN_AIRPORTS
on scans the afolder tree (generated airports, and the real LEAB package when
../shared is there), writes the park files, the report and tblo.zip, and
switches SCAN_AIRPORTS off in parameters.xml and enables the window's tblo
button; the next start does not scan again, leaves the park files as they
are and counts them in the window.

Usage: test_scan_program.py <Ventrix_P3D> <bglgen> <livgen>
"""
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from world import make_liveries, make_world, read, read_parameters, write_parameters  # noqa: E402

EXE = os.path.abspath(sys.argv[1])
BGLGEN = os.path.abspath(sys.argv[2])
LIVGEN = os.path.abspath(sys.argv[3])
SHARED = os.environ.get("VNTX_SHARED_DIR") or os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                                           "..", "shared")
LEAB = os.path.join(SHARED, "data", "scenery_bgl", "leab")
failures = []


def check(cond, what):
    print(("ok   " if cond else "FAIL ") + what)
    if not cond:
        failures.append(what)


def run_until(install, env, text, shown, seconds=60):
    """Starts the program, waits until Log.txt holds text and the window (the
    terminal) has printed shown, then closes it. Returns Log.txt and the
    window's lines."""
    log = os.path.join(install, "Log.txt")
    if os.path.exists(log):
        os.remove(log)  # else the last start's "Exiting:" would end the wait at once
    p = subprocess.Popen([EXE], cwd=install, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT, text=True, bufsize=1)
    lines = []

    def reader():
        for line in p.stdout:
            lines.append(line.rstrip("\n"))

    thread = threading.Thread(target=reader, daemon=True)
    thread.start()
    deadline = time.time() + seconds
    while time.time() < deadline and "Exiting:" not in read(log) and not (
            text in read(log) and any(shown in l for l in list(lines))):
        time.sleep(0.1)
    try:
        p.stdin.write("close\n")
        p.stdin.flush()
        p.wait(timeout=30)
    except (OSError, subprocess.TimeoutExpired):
        p.kill()
        p.wait()
    thread.join(timeout=10)
    return read(log), lines


def stand_count(path):
    root = ET.fromstring("<r>" + read(path).split("?>", 1)[-1] + "</r>")
    return len(root.findall("./parkpositions/parkpos"))


with tempfile.TemporaryDirectory() as root:
    env, install = make_world(root, EXE)
    addons = os.path.join(root, "Addons")
    out = subprocess.run([BGLGEN, addons, "EDDB", "NZWN"], check=True, capture_output=True, text=True).stdout
    generated = {line.split()[0]: int(line.split()[1]) for line in out.splitlines()}
    codes = set(generated)
    if os.path.isdir(LEAB):
        shutil.copytree(LEAB, os.path.join(addons, "LEAB ARV187", "scenery"))
        codes.add("LEAB")
    # The liveries are scanned first (the program needs them), then the airports.
    write_parameters(env, {"PROGRAM_VERSION": "11.9.2", "SCAN_LIVERIES": "true", "SCAN_AIRPORTS": "true",
                           "lfolder0": make_liveries(LIVGEN, os.path.join(root, "liveries")), "afolder0": addons})

    log, window = run_until(install, env, "airports scan ends", "[window] tblo")
    check("++++++++++++++++++++++++ airports scan  starts" in log, "the first start scans (not a manual scan)")
    check("From parameter afolder0: " + addons in log, "the afolder is logged")
    check("airports scan ends" in log, "the scan ends")
    check(read_parameters(env).get("SCAN_AIRPORTS") == "false", "SCAN_AIRPORTS is switched off in parameters.xml")
    thirdparty = os.path.join(install, "airports", "my_thirdparty")
    found = {f[:-4] for f in os.listdir(thirdparty) if f.endswith(".xml")} if os.path.isdir(thirdparty) else set()
    check(found == codes, "a park file for each add-on airport: %s" % sorted(found))
    for code, stands in generated.items():
        check(stand_count(os.path.join(thirdparty, code + ".xml")) == stands, "%s has its %d stands" % (code, stands))
    report = read(os.path.join(install, "output", "info", "AirportsScanLog.txt"))
    check("Scanning for addon  airports in " + addons in report, "AirportsScanLog.txt written")
    check(os.path.getsize(os.path.join(install, "tblo", "tblo.zip")) > 0, "tblo.zip written")
    # The window's button that opens the archive is enabled once it is packed.
    check("[window] tblo" in window, "the tblo button is enabled")
    before = {f: read(os.path.join(thirdparty, f)) for f in os.listdir(thirdparty)}
    counted = "[window] thirdp: # thirdp: %d" % len(before)

    log, window = run_until(install, env, "RealTraffic", counted)
    check("airports scan" not in log, "the next start does not scan again")
    check({f: read(os.path.join(thirdparty, f)) for f in os.listdir(thirdparty)} == before,
          "the park files stay as the scan left them")
    check(counted in window, "the next start counts the %d files the scan left in my_thirdparty" % len(before))

print("%d passed, %d failed" % (0 if failures else 1, len(failures)))
sys.exit(1 if failures else 0)
