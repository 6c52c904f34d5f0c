#!/usr/bin/env python3
"""The whole main window through the terminal of the Linux build, as a person
would use it: the program between simhost and rtfeed takes the window's
commands on standard input; their effects are read from what it prints,
parameters.xml and Log.txt.

Usage: test_terminal_program.py <Ventrix_P3D> <simhost> <rtfeed> <livgen>
The live traffic part (the call sign list from aircraft in the simulator)
needs the shared Hong Kong recording and is skipped without it.
"""
import os
import random
import re
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from world import make_world, read, read_parameters, set_parameter, write_parameters  # noqa: E402
import recording_liveries  # noqa: E402

EXE, SIMHOST, RTFEED, LIVGEN = (os.path.abspath(a) for a in sys.argv[1:5])
SHARED = os.environ.get("VNTX_SHARED_DIR", os.path.join(HERE, "..", "..", "..", "shared"))
RECORDING = os.path.join(SHARED, "data", "traffic", "vhhh_arrivals_2018-05-01_fr24.csv")
failures = []


def check(cond, what):
    print(("ok   " if cond else "FAIL ") + what, flush=True)
    if not cond:
        failures.append(what)
    return cond


class Program:
    """Ventrix_P3D with its standard input and output, and its Log.txt."""

    def __init__(self, env, install):
        self.env, self.install = env, install
        self.lines = []
        self.lock = threading.Lock()
        self.p = subprocess.Popen([EXE], cwd=install, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT, text=True, bufsize=1)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.p.stdout:
            with self.lock:
                self.lines.append(line.rstrip("\n"))

    def out(self):
        with self.lock:
            return list(self.lines)

    def log(self):
        return read(os.path.join(self.install, "Log.txt"))

    def send(self, command):
        self.mark = len(self.out())  # what the command printed comes after this
        self.p.stdin.write(command + "\n")
        self.p.stdin.flush()

    def since_send(self):
        return self.out()[self.mark:]

    def wait(self, predicate, seconds, what):
        end = time.time() + seconds
        while time.time() < end:
            if predicate():
                return True
            if self.p.poll() is not None:
                break
            time.sleep(0.1)
        return check(predicate(), what)

    def wait_out(self, text, seconds=15, since_send=True):
        lines = self.since_send if since_send else self.out
        return self.wait(lambda: any(text in l for l in lines()), seconds, "shown: " + text)

    def wait_log(self, text, seconds=30, count=1):
        return self.wait(lambda: self.log().count(text) >= count, seconds, "logged%s: %s" % (
            "" if count == 1 else " %d times" % count, text))

    def wait_parameter(self, key, value, seconds=10):
        return self.wait(lambda: read_parameters(self.env).get(key) == value, seconds,
                         "parameters.xml: %s=%s" % (key, value))

    def close(self):
        if self.p.poll() is None:
            try:
                self.send("close")
            except OSError:
                pass
        try:
            self.p.wait(timeout=60)
        except subprocess.TimeoutExpired:
            self.p.kill()
            self.p.wait()
        return self.p.returncode


def live_window(root):
    """Before and after the RealTraffic connection, the destination, blocking
    by typing and from the call sign list of the aircraft in the simulator."""
    env, install = make_world(root, EXE, livgen=LIVGEN, livery_files=200)
    titles = os.path.join(root, "liveries", "titles.txt")
    live = os.path.exists(RECORDING)
    if live:
        extra = os.path.join(root, "recording_liveries")
        set_parameter(env, "lfolder1", recording_liveries.write_tree(recording_liveries.pairs_of(RECORDING, 400), extra))
        both = os.path.join(root, "titles.txt")
        with open(both, "w") as f:
            f.write(read(titles) + read(os.path.join(extra, "titles.txt")))
        titles = both
    os.makedirs(os.path.join(env["XDG_CONFIG_HOME"], "InsideSystems"), exist_ok=True)
    open(os.path.join(env["XDG_CONFIG_HOME"], "InsideSystems", "RealTraffic.jar"), "w").close()
    tcp = str(random.randrange(20000, 40000))
    # An add-on folder without airports: the scan the window asks for runs and finds nothing.
    addons = os.path.join(root, "Addons")
    os.makedirs(addons)
    # The recording's arrivals within 40 nm (on the ground the automatic range would take 10).
    for k, v in (("PORT_NUMBER", tcp), ("SCAN_AIRPORTS", "false"), ("AUTO_RANGE", "false"), ("RANGE", "40"),
                 ("afolder0", addons)):
        set_parameter(env, k, v)
    sim = subprocess.Popen([SIMHOST, "--port", "0", "--titles", titles, "--user", "parked:22.308,113.918,70"],
                           env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    sim.stdout.readline()  # listening: its ports are in the registry now
    prog = Program(env, install)
    feed = None
    try:
        # Before RealTraffic has connected, a scan switched on restarts the cycle at once.
        prog.wait_log("Waiting for RealTraffic to connect", 90)
        prog.send("check SCAN_AIRPORTS")
        prog.wait_out("[window] status: Your airports will be scanned")
        prog.wait_parameter("SCAN_AIRPORTS", "true")
        prog.wait_log("Exiting: NEW SETTINGS")
        prog.wait_log("Restarting after 2 seconds")
        prog.wait_log("Waiting for RealTraffic to connect", 60, count=2)
        # The restarted cycle scanned and switched the scan off again.
        prog.wait_log("airports scan ends")
        prog.wait_parameter("SCAN_AIRPORTS", "false")

        feed = subprocess.Popen([RTFEED, "--port", tcp, "--traffic-port", env["VNTX_TRAFFIC_PORT"],
                                 "--weather-port", env["VNTX_WEATHER_PORT"], "--shift", "now", "--start", "30000",
                                 "--duration", "150", "--densify", "5", "--hold", "--quiet", RECORDING if live else
                                 os.path.join(HERE, "..", "..", "data", "traffic", "monterey_bay_2025-06-01_hour.rtrec")],
                                stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
        prog.wait_log("RealTraffic connected", 30)
        prog.wait_out("[window] rt: RT", 10, since_send=False)

        # After the connection it only announces the scan for the next start.
        prog.send("check SCAN_AIRPORTS")
        prog.wait_out("[window] status: Your airports will be scanned at the next start of Ventrix_P3D")
        prog.wait_parameter("SCAN_AIRPORTS", "true")
        prog.send("check SCAN_AIRPORTS")
        prog.wait_parameter("SCAN_AIRPORTS", "false")
        check(prog.log().count("Exiting: NEW SETTINGS") == 1, "no second restart")

        # The destination box checks the airports catalogue.
        prog.send("enter DESTINATION vhhh")
        prog.wait_out("[window] status: New destination: VHHH")
        prog.wait_parameter("DESTINATION", "VHHH")
        prog.send("enter DESTINATION zzzz")
        prog.wait_out("[window] status: destination 'ZZZZ' is unknown ...")

        # The block box.
        prog.send("enter BLOCK_CALLSIGN ab")
        prog.wait_out("[window] status: callsign 'ab' is not valid")
        prog.send("enter BLOCK_CALLSIGN dlh4ab")
        prog.wait_parameter("BLOCK_CALLSIGN", "DLH4AB")
        prog.wait_out("[window] BLOCK_CALLSIGN = DLH4AB")
        prog.send("button Block")
        prog.wait_out("[window] 'Block' is disabled")

        if live:
            # The call sign list from the live aircraft in the simulator, then "Block".
            live_count = re.compile(r"\[window\] live: live:\s+([1-9]\d*)")
            prog.wait(lambda: any(live_count.search(l) for l in prog.out()), 150, "live aircraft in the simulator")
            prog.send("button cs->oid:")
            listed = re.compile(r"\[window\] callsigns = (\w+)")
            if prog.wait(lambda: any(listed.search(l) for l in prog.since_send()), 15, "call sign list filled"):
                callsign = next(listed.search(l).group(1) for l in prog.since_send() if listed.search(l))
                prog.send("select callsigns " + callsign)
                prog.wait_out("[window] Block")
                prog.send("button Block")
                if len(callsign) >= 4:
                    if prog.wait_parameter("BLOCK_CALLSIGN", callsign.upper()):
                        print("ok   %s blocked from the call sign list" % callsign)
                else:
                    prog.wait_out("[window] status: callsign '%s' is not valid" % callsign)
        else:
            print("shared recording absent: the call sign list part is skipped")
    finally:
        rc = prog.close()
        if feed:
            feed.terminate()
            feed.wait()
        sim.terminate()  # no trace to finish
        sim.wait()
    check(rc == 0, "closed through the terminal returns 0 (got %s)" % rc)
    check("Exiting: USER CLOSED SIM" in prog.log(), "the last cycle ends with USER CLOSED SIM")
    if failures:
        print("\n".join(prog.out()[-80:]))


def error_line(root):
    """While an error line is set status texts are not shown; typing an install
    path clears it and restarts the program."""
    env, install = make_world(root, EXE, p3d=False)
    write_parameters(env, {"PROGRAM_VERSION": "11.9.2", "SCAN_LIVERIES": "false", "SCAN_AIRPORTS": "false"})
    sim_folder = os.path.join(root, "Prepar3D v5")
    os.makedirs(sim_folder)
    prog = Program(env, install)
    try:
        prog.wait_out("[window] error: Error No P3D install path detected, type full Install Path above, and press Enter",
                      30, since_send=False)
        prog.send("check AIRBORNE_ONLY")
        prog.wait_out("[window] AIRBORNE_ONLY = on")
        prog.wait_parameter("AIRBORNE_ONLY", "true")
        check(not any("Be aware" in l for l in prog.out()), "the warning is not shown while the error line is set")
        check("Be aware" not in prog.log(), "... nor logged")

        prog.send("enter ALL_INSTALL_PATH " + os.path.join(root, "missing"))
        prog.wait_out("[window] status: This install path does not exist: " + os.path.join(root, "missing"))
        prog.wait_out("[window] error cleared")
        prog.send("enter ALL_INSTALL_PATH " + sim_folder)
        prog.wait_out("[window] status: Install path exists, Ventrix_P3D will restart")
        prog.wait_parameter("SIM_INSTALL_PATH", sim_folder)
        prog.wait_log("Restarting after 3 seconds")
        prog.wait_log(" parameters ", 30, count=2)
        check("User closed Ventrix_P3D" not in prog.log(), "restarted without waiting for the user")
    finally:
        rc = prog.close()
    check(rc == 0, "closed through the terminal returns 0 (got %s)" % rc)
    if failures:
        print("\n".join(prog.out()[-60:]))


for scenario in [globals()[n] for n in sys.argv[5:]] or (error_line, live_window):
    print("--- " + scenario.__name__, flush=True)
    with tempfile.TemporaryDirectory() as root:
        scenario(root)
print("%d failed" % len(failures))
sys.exit(1 if failures else 0)
