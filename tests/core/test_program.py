#!/usr/bin/env python3
"""Starts the program as a user would and checks what it leaves behind.

Usage: test_program.py <path to Ventrix_P3D>
"""
import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from world import make_liveries, make_world as world, read, set_parameter, write_parameters  # noqa: E402

EXE = os.path.abspath(sys.argv[1])
LIVGEN = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else None
failures = []


def check(cond, what):
    print(("ok   " if cond else "FAIL ") + what)
    if not cond:
        failures.append(what)


def production_run():
    with tempfile.TemporaryDirectory() as root:
        env, install = world(root, EXE)
        r = subprocess.run([EXE, "--PRODUCTION"], cwd=install, env=env, stdin=subprocess.DEVNULL,
                           capture_output=True, text=True, timeout=60)
        check(r.returncode == 0, "production run returns 0 (got %d)" % r.returncode)
        log = read(os.path.join(install, "Log.txt"))
        first = log.splitlines()[0]
        check(re.fullmatch(r"\w{3} \w{3} \d\d \d\d:\d\d:\d\d \d{4} \(utc\) Ventrix_P3D version 11\.9\.2 for Prepar3D v5/v6",
                           first) is not None, "Log.txt starts with the header line: " + first)
        if os.path.isdir(os.path.join(install, "input")) and os.listdir(os.path.join(install, "input")):
            for what in ("dbase records read", "publishers read", "airports read"):
                check(re.search(r"^\d+ " + what + "$", log, re.M) is not None, "reference data: " + what)
        params = os.path.join(env["XDG_CONFIG_HOME"], "Ventrix_P3D", "parameters.xml")
        check(os.path.exists(params), "parameters.xml created in the roaming application-data folder")
        values = {p.get("name"): p.get("value") for p in ET.parse(params).getroot()}
        check(values.get("SCAN_LIVERIES") == "true" and values.get("SCAN_AIRPORTS") == "true", "both scans on")
        for key, default in [("RANGE", "40"), ("MAX_LIVE_SEL", "500"), ("PORT_NUMBER", "10747"),
                             ("LAST_EPOCH_TIME:", "0"), ("AR_ABOVE_HEIGHT", "48000"), ("parking_percentage", "30"),
                             ("COLLISION_LIVE_PARKED_GND", "false"), ("MAIN_WINDOW_X", "400")]:
            check(values.get(key) == default, "%s=%s" % (key, default))
        check(len(values) >= 60, "every key written (%d)" % len(values))
        for d in ["output/info", "output/errors", "airports/learned", "airports/my_thirdparty",
                  "airports/my_ORBX", "input/my_regcodes"]:
            check(os.path.isdir(os.path.join(install, d)), "working folder " + d)
        if "Exiting: USER CLOSED SIM" not in log and LIVGEN:
            # A first run scans the liveries, and without a livery folder that is the user's to fix.
            check("Error Exit Ventrix_P3D first!   Then set one or more lfolder parameters" in r.stdout,
                  "first run asks for a livery folder")
            check("Exiting: SYSTEM ERROR" in log, "... and ends with SYSTEM ERROR")
            set_parameter(env, "lfolder0", make_liveries(LIVGEN, os.path.join(root, "liveries"), 30, 5))
            r = subprocess.run([EXE, "/production"], cwd=install, env=env, stdin=subprocess.DEVNULL,
                               capture_output=True, text=True, timeout=120)
            check(r.returncode == 0, "second production run returns 0 (got %d)" % r.returncode)
            log = read(os.path.join(install, "Log.txt"))
            check(re.search(r"^\d+ liveries found in ", log, re.M) is not None, "liveries scanned")
            values = {p.get("name"): p.get("value") for p in ET.parse(params).getroot()}
            check(values.get("SCAN_LIVERIES") == "false", "the scan switches itself off")
        check("Exiting: USER CLOSED SIM" in log, "log says Exiting: USER CLOSED SIM")


def second_instance_and_terminal_commands():
    with tempfile.TemporaryDirectory() as root:
        env, install = world(root, EXE)
        params = {"PROGRAM_VERSION": "11.9.2", "SCAN_LIVERIES": "false", "SCAN_AIRPORTS": "false"}
        if LIVGEN:
            params.update({"SCAN_LIVERIES": "true", "lfolder0": make_liveries(LIVGEN, os.path.join(root, "liveries"))})
        write_parameters(env, params)
        first = subprocess.Popen([EXE], cwd=install, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                 stderr=subprocess.STDOUT, text=True)
        log_path = os.path.join(install, "Log.txt")
        deadline = time.time() + 20
        while time.time() < deadline and not (os.path.exists(log_path) and "RealTraffic" in read(log_path)):
            time.sleep(0.1)
        other = os.path.join(root, "other")
        os.makedirs(os.path.join(other, "docs"))
        r = subprocess.run([EXE], cwd=other, env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=20)
        check(r.returncode in (-1, 255), "second instance returns -1 (got %d)" % r.returncode)
        check(os.listdir(other) == ["docs"], "second instance writes nothing")
        # The window's commands on standard input: tick a box, pick a list entry (the
        # RANGE list takes a choice once the automatic range is off), then close.
        first.stdin.write("check AIRBORNE_ONLY\ncheck AUTO_RANGE\nselect RANGE 25\nclose\n")
        first.stdin.flush()
        try:
            out, _ = first.communicate(timeout=30)
        except subprocess.TimeoutExpired:
            first.kill()
            out, _ = first.communicate()
        check(first.returncode == 0, "closed through the terminal returns 0 (got %s)" % first.returncode)
        if "Be aware" not in out:
            print(out)
        check("Be aware, airborne live traffic only!" in out, "check box message shown")
        log = read(log_path)
        check("Close window button clicked, closing Ventrix_P3D ..." in log, "close button logged")
        check("Exiting: USER CLOSED SIM" in log, "first instance ends with USER CLOSED SIM")
        params = os.path.join(env["XDG_CONFIG_HOME"], "Ventrix_P3D", "parameters.xml")
        values = {p.get("name"): p.get("value") for p in ET.parse(params).getroot()}
        check(values.get("AIRBORNE_ONLY") == "true" and values.get("RANGE") == "25", "commands written to parameters.xml")


def wrong_folder_then_sigterm():
    with tempfile.TemporaryDirectory() as root:
        env, install = world(root, EXE, docs=False)
        p = subprocess.Popen([EXE], cwd=install, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, text=True)
        log_path = os.path.join(install, "Log.txt")
        deadline = time.time() + 20
        while time.time() < deadline and not (os.path.exists(log_path) and "must be run" in read(log_path)):
            time.sleep(0.1)
        time.sleep(0.3)
        check(p.poll() is None, "program waits for the user after a system error")
        p.send_signal(signal.SIGTERM)
        out, _ = p.communicate(timeout=30)
        log = read(log_path)
        check("Error Ventrix_P3D must be run from the Ventrix_P3D folder!" in log, "wrong-folder error logged")
        check("Error Ventrix_P3D must be run from the Ventrix_P3D folder!" in out, "wrong-folder error shown")
        check("Exiting: SYSTEM ERROR" in log and "User closed Ventrix_P3D" in log, "ends with SYSTEM ERROR once closed")
        check(p.returncode == 0, "returns 0 after the close (got %s)" % p.returncode)


production_run()
second_instance_and_terminal_commands()
wrong_folder_then_sigterm()
print("%d passed, %d failed" % (0 if failures else 1, len(failures)))
sys.exit(1 if failures else 0)
