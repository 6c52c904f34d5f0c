#!/usr/bin/env python3
"""Runs Ventrix_P3D against the simulator stand-in and checks what the log shows.

Usage: test_simhost_run.py <Ventrix_P3D> <simhost>
"""
import os
import re
import signal
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from world import make_world, read  # noqa: E402

EXE = os.path.abspath(sys.argv[1])
SIMHOST = os.path.abspath(sys.argv[2])
LIVGEN = os.path.abspath(sys.argv[3]) if len(sys.argv) > 3 else None
failures = []


def check(cond, what):
    print(("ok   " if cond else "FAIL ") + what, flush=True)
    if not cond:
        failures.append(what)


def wait_for(predicate, seconds):
    end = time.time() + seconds
    while time.time() < end:
        if predicate():
            return True
        time.sleep(0.1)
    return predicate()


class Run:
    def __init__(self, root, simhost_args):
        self.env, self.install = make_world(root, EXE, livgen=LIVGEN)
        self.log_path = os.path.join(self.install, "Log.txt")
        self.sim = subprocess.Popen([SIMHOST, "--port", "0"] + simhost_args, env=self.env, stdin=subprocess.PIPE,
                                    stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, errors="replace")
        self.sim.stdout.readline()  # the listening line: the ports are in the registry now
        self.prog = subprocess.Popen([EXE], cwd=self.install, env=self.env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, errors="replace")

    def log(self):
        return read(self.log_path)

    def finish(self, seconds, read=True):
        out = ""
        try:
            if read:
                out, _ = self.prog.communicate(timeout=seconds)
            else:
                self.prog.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            self.prog.kill()
            self.prog.wait()
        if self.sim.poll() is None:
            self.sim.kill()
        self.sim.wait()
        return out


def connected_flight_then_teleport():
    # Parked for 80 s, then put 60 nm away in an instant.
    with tempfile.TemporaryDirectory() as root:
        track = os.path.join(root, "track.csv")
        with open(track, "w") as f:
            f.write("0,47.4647,8.5492,1416,160,1\n80,47.4647,8.5492,1416,160,1\n80.01,48.4647,8.5492,1416,160,1\n")
        run = Run(root, ["--user", "track:" + track])
        check(wait_for(lambda: "SimConnect: User aircraft model:" in run.log(), 30), "user aircraft identified")
        log = run.log()
        m = re.search(r"^Lockheed Martin\u00ae Prepar3D\u00ae v5 \(5\.4\.9\.28482\) connected$", log, re.M)
        check(m is not None, "simulator name and version logged as connected")
        check("SimConnect: User aircraft title: Stand-in User Aircraft" in log, "user aircraft title logged")
        m = re.search(r"SimConnect: User aircraft model: B738, half wing span: (\d+\.\d) meter, category: Large", log)
        check(m is not None and 15 < float(m.group(1)) < 20, "model line with half wing span and category")
        # Once the control loop runs (no RealTraffic here: the traffic wait ends after 15 s), a status
        # shown now is cleared by the 25th once-a-second report after it.
        check(wait_for(lambda: "No traffic in this region?" in run.log(), 40), "control loop started")
        lines = []
        reader = threading.Thread(target=lambda: [lines.append((time.time(), l)) for l in run.prog.stdout],
                                  daemon=True)
        reader.start()
        time.sleep(1)
        run.prog.stdin.write("check AIRBORNE_ONLY\n")
        run.prog.stdin.flush()
        status = "Be aware, airborne live traffic only!"

        def shown_at():
            return next((t for t, l in list(lines) if l.startswith("[window]") and status in l), None)

        check(wait_for(lambda: shown_at() is not None, 5), "status shown")
        shown = shown_at() or time.time()

        def cleared_at():
            return next((t for t, l in list(lines) if t > shown and l.startswith("[window]") and status not in l),
                        None)

        check(wait_for(lambda: cleared_at() is not None, 40), "status cleared")
        took = (cleared_at() or time.time()) - shown
        check(20 < took < 35, "the reports drive the control loop: status cleared %.1f s later" % took)
        check(wait_for(lambda: "Exiting:" in run.log(), 80), "the cycle ends")
        run.finish(30, read=False)
        log = run.log()
        check("Teleport" in log, "teleport logged")
        check("Exiting: NEW FLIGHT" in log, "stopped with NEW FLIGHT")
        check("New flight detected, Ventrix_P3D will close, please restart manually ..." in log, "new flight notice")
        check("SimConnect closed ok" in log, "connection closed")
        check(run.prog.returncode == 0, "program returns 0 (got %s)" % run.prog.returncode)


def simulator_killed():
    with tempfile.TemporaryDirectory() as root:
        run = Run(root, [])
        check(wait_for(lambda: "SimConnect: User aircraft model:" in run.log(), 30), "connected before the kill")
        time.sleep(1)
        run.sim.send_signal(signal.SIGKILL)
        run.sim.wait()
        check(wait_for(lambda: run.prog.poll() is not None, 30), "program ends after the simulator went")
        run.finish(5)
        log = run.log()
        check("Flight Simulator no longer connected, Ventrix_P3D will stop ..." in log, "simulator gone logged")
        check("Exiting: SIM WAS CLOSED" in log, "stopped with SIM WAS CLOSED")
        check(run.prog.returncode == 0, "program returns 0 (got %s)" % run.prog.returncode)


def wrong_version():
    with tempfile.TemporaryDirectory() as root:
        run = Run(root, ["--p3d", "6"])
        check(wait_for(lambda: run.prog.poll() is not None, 40), "program ends on a v6 simulator")
        out = run.finish(5)
        log = run.log()
        m = re.search(r"^Error wrong P3D version 'Lockheed Martin\u00ae Prepar3D\u00ae v6 \(6\.0\.34\.31011\)' connects \.\.\. \?\)$",
                      log, re.M)
        check(m is not None, "wrong P3D version error logged")
        check("wrong P3D version" in out, "wrong P3D version error shown")
        check("Exiting: SIM WAS CLOSED" in log, "stopped with SIM WAS CLOSED")
        check("SimConnect: User aircraft title" not in log, "no user aircraft asked of a wrong simulator")


simulator_killed()
wrong_version()
connected_flight_then_teleport()
print("%d failed" % len(failures))
sys.exit(1 if failures else 0)
