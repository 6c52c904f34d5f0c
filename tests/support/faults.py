#!/usr/bin/env python3
"""Faults laid on the real program end to end: its simulator killed and
started again, the simulator hung, the RealTraffic feed dropped and back, its
traffic port taken, a datagram flood, a read-only install folder, a full disk,
SIGTERM during a livery scan, every download cut half way. Each scenario
checks what the program said, that it recovered or stopped by itself, and
that every file it had written is still whole.

Usage: faults.py --build DIR [--shared DIR] [--out DIR] [--stall S] [--only NAME ...] [--jobs N]
Exit code 0 when every scenario passed; prints a table of what happened.
Scenarios that need the shared recording skip without it.
"""
import argparse
import concurrent.futures
import os
import resource
import shutil
import signal
import socket
import subprocess
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from fault_run import FaultRun, leftovers, parse_xml  # noqa: E402
from live_run import wait_for  # noqa: E402
import download_server  # noqa: E402
from world import parameters_path, read, set_parameter  # noqa: E402


class Scenario:
    def __init__(self, name):
        self.name = name
        self.said = []
        self.checked = []
        self.failures = []
        self.began = time.time()
        self.seconds = 0

    def saw(self, text):
        self.said.append(text)

    def check(self, cond, what):
        self.checked.append(("ok " if cond else "FAIL ") + what)
        if not cond:
            self.failures.append(what)
        return cond


def first_line(log, *needles):
    for line in log.splitlines():
        if any(n in line for n in needles):
            return line.strip()
    return ""


def files_whole(sc, run, expect_scan=True):
    """Every file the program writes whole is still parseable, with no temporary files left."""
    sc.check(parse_xml(parameters_path(run.env)) is not None, "parameters.xml parses")
    scanned = os.path.join(run.install, "output", "LiveriesScanned.xml")
    if expect_scan:
        sc.check(parse_xml(scanned) is not None, "LiveriesScanned.xml parses")
    left = leftovers(run.out)
    sc.check(not left, "no temporary files left (%s)" % ", ".join(os.path.basename(f) for f in left[:3]))


def with_traffic(sc, run):
    """simhost, the program and the feed, until the program has created traffic."""
    run.start_simhost()
    run.start_program()
    if not sc.check(run.waits_for_realtraffic(), "the program waits for RealTraffic"):
        return False
    run.start_feed()
    return sc.check(wait_for(lambda: run.created() >= 2, 120), "traffic created in simhost")


def sim_killed(sc, a):
    run = FaultRun(a.tools, os.path.join(a.out, sc.name), a.recording)
    if with_traffic(sc, run):
        run.kill_simhost()
        sc.check(wait_for(lambda: run.prog.poll() is not None, 30), "the program stops by itself")
        log = run.log()
        sc.saw(first_line(log, "no longer connected"))
        sc.check("Exiting: SIM WAS CLOSED" in log, "Exiting: SIM WAS CLOSED")
        sc.check(run.prog.returncode == 0, "exit code 0 (%s)" % run.prog.returncode)
        sc.check("Live traffic summary:" in log, "the closing summaries are written")
        files_whole(sc, run)
        run.drop_feed()
        # The simulator back: a new start of the program finds it and flies traffic again.
        run.start_simhost()
        run.start_program()
        if sc.check(run.waits_for_realtraffic(), "the program started again waits for RealTraffic"):
            run.start_feed()
            sc.check(wait_for(lambda: run.created() >= 2, 120), "traffic created in the new simhost")
        sc.check("Exiting: SIM WAS CLOSED" in read(os.path.join(run.install, "Log0.txt")),
                 "the first run's log kept as Log0.txt")
    sc.check(run.close(), "closed on request")
    files_whole(sc, run)


def sim_stalled(sc, a):
    run = FaultRun(a.tools, os.path.join(a.out, sc.name), a.recording)
    if with_traffic(sc, run):
        before = run.created()
        run.command_simhost("stall %g" % a.stall)
        stalled_at = time.time()
        # While the simulator is hung the program's window stays answerable and it does not end.
        wait_for(lambda: run.prog.poll() is not None, a.stall)
        sc.check(run.prog.poll() is None, "still running through a %g s stall" % a.stall)
        sc.saw("%d objects before the stall" % before)
        # Awake again, the program goes on placing its objects.
        trace = lambda: len(run.trace())  # noqa: E731
        size = trace()
        sc.check(wait_for(lambda: trace() > size + 1000, 60), "simhost sees the program's operations again")
        sc.saw("nothing said, the objects placed again %.0f s after the stall began" % (time.time() - stalled_at))
    sc.check(run.close(), "closed on request")
    sc.check(run.prog.returncode == 0, "exit code 0 (%s)" % run.prog.returncode)
    files_whole(sc, run)


def feed_dropped(sc, a):
    run = FaultRun(a.tools, os.path.join(a.out, sc.name), a.recording)
    if with_traffic(sc, run):
        run.drop_feed()
        sc.check(wait_for(lambda: "RealTraffic gone?" in run.said(), 60), "the program notices the feed is gone")
        sc.saw(first_line(run.said(), "RealTraffic gone?"))
        sc.check(run.prog.poll() is None, "still running without the feed")
        before = run.created()
        run.start_feed()
        sc.check(wait_for(lambda: "RealTraffic re-connected" in run.said(), 60), "the program takes the feed back")
        sc.saw(first_line(run.said(), "RealTraffic re-connected"))
        sc.check(wait_for(lambda: run.created() > before, 120), "new traffic created from the feed that came back")
    sc.check(run.close(), "closed on request")
    sc.check(run.prog.returncode == 0, "exit code 0 (%s)" % run.prog.returncode)
    files_whole(sc, run)


def port_taken(sc, a):
    """The UDP traffic port is held by another program: the traffic socket cannot bind."""
    run = FaultRun(a.tools, os.path.join(a.out, sc.name), a.recording)
    holder = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    holder.bind(("0.0.0.0", int(run.env["VNTX_TRAFFIC_PORT"])))
    try:
        run.start_simhost()
        run.start_program()
        if sc.check(run.waits_for_realtraffic(), "the program waits for RealTraffic"):
            run.start_feed()
            sc.check(wait_for(lambda: "Restarting after" in run.said(), 90), "the reader's error leads to a restart")
            sc.saw(first_line(run.said(), "stopped with error"))
            # Closed during the countdown, the program ends instead of restarting.
            closing = time.time()
            sc.check(run.close(20), "a close during the restart countdown ends the program")
            sc.saw("ended %.1f s after the close" % (time.time() - closing))
            sc.check(run.prog.returncode == 0, "exit code 0 (%s)" % run.prog.returncode)
    finally:
        holder.close()
    run.close()
    sc.check("Exiting: READER ERROR" in run.log(), "the reader's error logged as the exit reason")
    files_whole(sc, run)


def flood(sc, a):
    """50,000 datagrams a second for some seconds on the traffic port, between real reports."""
    run = FaultRun(a.tools, os.path.join(a.out, sc.name), a.recording)
    if with_traffic(sc, run):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        target = ("127.0.0.1", int(run.env["VNTX_TRAFFIC_PORT"]))
        junk = [b"garbage", b"{\"not\": \"traffic\"}", b"x" * 1400,
                b"AITFC,999999,22.3,113.9,1000,0,200,0,0,0,XYZ,BAD,B-XXX,,,,,,"]
        sent = 0
        start = time.time()
        while time.time() - start < a.flood_seconds:
            due = int((time.time() - start) * 50000)
            while sent < due:
                try:
                    s.sendto(junk[sent % len(junk)], target)
                except OSError:
                    pass
                sent += 1
        s.close()
        sc.saw("%d datagrams in %.1f s" % (sent, time.time() - start))
        sc.check(run.prog.poll() is None, "still running after the flood")
        size = len(run.trace())
        sc.check(wait_for(lambda: len(run.trace()) > size + 1000, 30), "objects still placed after the flood")
    sc.check(run.close(), "closed on request")
    sc.check(run.prog.returncode == 0, "exit code 0 (%s)" % run.prog.returncode)
    sc.saw(first_line(run.log(), "Control loop period"))
    files_whole(sc, run)


def scan_once(run, sc):
    """A first start that scans the liveries, closed once it waits for the simulator."""
    run.start_program()
    ok = wait_for(lambda: "liveries scan ends" in run.log() or run.prog.poll() is not None, 120)
    run.close()
    sc.check(ok and run.prog.returncode == 0, "a first run scanned and closed")
    run.logs = []


def reading_below(pid, folder):
    """True while the process has a file below folder open."""
    try:
        fds = os.listdir("/proc/%d/fd" % pid)
    except OSError:
        return False
    for fd in fds:
        try:
            if os.readlink("/proc/%d/fd/%s" % (pid, fd)).startswith(folder):
                return True
        except OSError:
            pass
    return False


def sigterm_scan(sc, a):
    run = FaultRun(a.tools, os.path.join(a.out, sc.name), None, livery_files=40)
    scan_once(run, sc)
    scanned = os.path.join(run.install, "output", "LiveriesScanned.xml")
    before = read(scanned)
    # A much larger tree the second time, so that the signal lands in the scan.
    big = os.path.join(run.out, "big")
    subprocess.run([a.tools["livgen"], big, "6000", "7"], check=True, stdout=subprocess.DEVNULL)
    set_parameter(run.env, "lfolder0", os.path.join(big, "tree"))
    set_parameter(run.env, "SCAN_LIVERIES", "true")
    run.start_program()
    sc.check(wait_for(lambda: reading_below(run.prog.pid, big), 60), "the scan is reading the livery tree")
    run.prog.send_signal(signal.SIGTERM)
    term = time.time()
    sc.check(wait_for(lambda: run.prog.poll() is not None, 30), "stops within 30 s of SIGTERM")
    sc.saw("ended %.1f s after SIGTERM with %s" % (time.time() - term, run.prog.returncode))
    sc.check(run.prog.returncode == 0, "exit code 0 (%s)" % run.prog.returncode)
    sc.saw(first_line(run.log(), "Livery scan stopped") or "no word of the stop")
    sc.check(read(scanned) == before, "LiveriesScanned.xml is the first run's, unchanged")
    sc.check(parse_xml(parameters_path(run.env)).find("parameter[@name='SCAN_LIVERIES']").get("value") == "true",
             "SCAN_LIVERIES stays set for the next start")
    run.close()
    files_whole(sc, run)


def read_only_install(sc, a):
    run = FaultRun(a.tools, os.path.join(a.out, sc.name), None, livery_files=10)
    scan_once(run, sc)
    log_before = read(run.log_path)
    mounted = False
    if os.geteuid() == 0:
        # As root a mode does not stop writes; a read-only bind mount does.
        mounted = subprocess.run(["mount", "--bind", run.install, run.install],
                                 stderr=subprocess.DEVNULL).returncode == 0
        if mounted:
            subprocess.run(["mount", "-o", "remount,bind,ro", run.install], stderr=subprocess.DEVNULL)
    else:
        for root, dirs, files in os.walk(run.install):
            for d in dirs + files:
                os.chmod(os.path.join(root, d), 0o555 if d in dirs else 0o444)
        os.chmod(run.install, 0o555)
    sc.saw("read-only by " + ("a bind mount" if mounted else "file modes"))
    try:
        open(os.path.join(run.install, "probe"), "w").close()
        os.remove(os.path.join(run.install, "probe"))
        sc.check(False, "the install folder is read-only")
    except OSError:
        pass
    try:
        run.start_program()
        ended = wait_for(lambda: run.prog.poll() is not None, 30)
        out = read(os.path.join(run.out, "ventrix.out"))
        sc.saw((out.strip().splitlines() or ["(nothing on its output)"])[-1][:120])
        sc.saw("ended by itself with %s" % run.prog.returncode if ended else "still running")
        sc.check(run.close(), "ends, or closes on request")
        sc.check(read(run.log_path) == log_before, "the previous Log.txt is untouched")
    finally:
        if mounted:
            subprocess.run(["umount", run.install])
        else:
            for root, dirs, files in os.walk(run.install):
                for d in dirs + files:
                    os.chmod(os.path.join(root, d), 0o755 if d in dirs else 0o644)
            os.chmod(run.install, 0o755)
    files_whole(sc, run)


def mount_full(folder, keep):
    """A small tmpfs over folder holding its files as they were, then filled up; False when mounting is not possible."""
    saved = folder + ".saved"
    shutil.copytree(folder, saved, symlinks=True)
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=4m", "tmpfs", folder], stderr=subprocess.DEVNULL).returncode:
        shutil.rmtree(saved)
        return False
    for name in os.listdir(saved):
        src = os.path.join(saved, name)
        if name in keep:
            os.symlink(src, os.path.join(folder, name))  # read, and written, off the full disk
        elif os.path.isdir(src) and not os.path.islink(src):
            shutil.copytree(src, os.path.join(folder, name), symlinks=True)
        else:
            shutil.copy2(src, os.path.join(folder, name), follow_symlinks=False)
    try:
        with open(os.path.join(folder, "filler"), "wb") as f:
            while True:
                f.write(b"\0" * 4096)
                f.flush()
    except OSError:
        pass
    return True


def full_disk(sc, a):
    """The install and settings folders on disks with no room left, after a first run wrote its files there.
    The data files (input) stay off the full disk: the program deciphers them there at every start."""
    run = FaultRun(a.tools, os.path.join(a.out, sc.name), None, livery_files=40,
                   logs=os.path.join(a.out, sc.name + "_logs"))
    scan_once(run, sc)
    scanned = os.path.join(run.install, "output", "LiveriesScanned.xml")
    set_parameter(run.env, "SCAN_LIVERIES", "true")
    settings = os.path.dirname(parameters_path(run.env))
    kept = {p: read(p) for p in (parameters_path(run.env), scanned, run.log_path)}
    mounts = []
    limit = None
    if os.geteuid() == 0:
        for folder, keep in ((run.install, {"input"}), (settings, set())):
            if mount_full(folder, keep):
                mounts.append(folder)
    if len(mounts) == 2:
        sc.saw("install and settings folders on full tmpfs disks")
    else:
        # No mount here: a file-size limit makes every write past 1 kB fail as a full disk would.
        for m in mounts:
            subprocess.run(["umount", m])
        mounts = []
        limit = 1024
        sc.saw("RLIMIT_FSIZE 1 kB, SIGXFSZ ignored (tmpfs not mountable)")

    def limited():
        if limit:
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
    try:
        run.start_program(preexec=limited)
        # Past the scan it waits for the simulator (the window says so), unless it stopped at an error.
        reached = wait_for(lambda: "Waiting for Prepar3D" in run.said() or "[window] error:" in run.said() or
                           run.prog.poll() is not None, 120)
        out = read(os.path.join(run.logs_dir, "ventrix.out")).strip().splitlines()
        sc.saw("window: " + (out or [""])[-1][:100])
        sc.check(reached and "[window] error:" not in run.said(), "scanned and waits for the simulator")
        sc.check(run.close(), "closes on request")
        sc.check(run.prog.returncode == 0, "exit code 0 (%s)" % run.prog.returncode)
        for p, text in kept.items():
            if p == run.log_path:
                # The last run's log, kept as a generation or added to.
                sc.check(read(p).startswith(text) or read(os.path.join(run.install, "Log0.txt")) == text,
                         "the last run's Log.txt is kept")
            else:
                sc.check(read(p) == text or parse_xml(p) is not None, os.path.basename(p) + " is still whole")
        sc.saw("LiveriesScanned.xml %s" % ("unchanged" if read(scanned) == kept[scanned] else "replaced whole"))
        sc.saw(first_line(run.said(), "could not be written"))
        sc.check(not leftovers(run.out), "no temporary files left")
    finally:
        for m in mounts:
            subprocess.run(["umount", m])


def download_cut(sc, a):
    """Every download cut half way (the server sends half the body and closes), the data files' first."""
    tree = os.path.join(os.path.abspath(a.build), "server")
    if not os.path.isdir(tree):
        sc.saw("no server tree in the build: skipped")
        return
    run = FaultRun(a.tools, os.path.join(a.out, sc.name), None, livery_files=10)
    server, served = download_server.start_background(tree, run.out)
    try:
        inputs = {n: read_bytes(os.path.join(run.install, "input", n)) for n in os.listdir(
            os.path.join(run.install, "input")) if n.endswith(".enc")}
        env = dict(run.env, VNTX_DOWNLOAD_BASE=served["VNTX_DOWNLOAD_BASE"] + "_test/cut/",
                   VNTX_DOWNLOAD_CA=served["VNTX_DOWNLOAD_CA"], NO_PROXY="localhost,127.0.0.1")
        run.start_program(env=env)
        sc.check(wait_for(lambda: run.prog.poll() is not None or "Waiting for Prepar3D" in run.said()
                          or "[window] error:" in run.said(), 120), "past the update check")
        log = run.said()
        sc.saw(first_line(log, "Download error", "failed to download", "failed?") or "nothing said")
        sc.check("/_test/cut/" in read(served["VNTX_DOWNLOAD_LOG"]), "downloads were asked and cut")
        sc.check(run.close(), "closes on request")
        sc.check(run.prog.returncode == 0, "exit code 0 (%s)" % run.prog.returncode)
        for n, data in inputs.items():
            sc.check(read_bytes(os.path.join(run.install, "input", n)) == data, n + " unchanged")
        sc.check(not os.path.exists(os.path.join(run.install, "new_version")), "no new_version folder")
        files_whole(sc, run)
    finally:
        server.terminate()
        server.wait()


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


SCENARIOS = {
    "sim_killed": sim_killed,
    "sim_stalled": sim_stalled,
    "feed_dropped": feed_dropped,
    "port_taken": port_taken,
    "flood": flood,
    "sigterm_scan": sigterm_scan,
    "read_only_install": read_only_install,
    "full_disk": full_disk,
    "download_cut": download_cut,
}
NEEDS_RECORDING = {"sim_killed", "sim_stalled", "feed_dropped", "port_taken", "flood"}


def run_one(name, a):
    sc = Scenario(name)
    try:
        SCENARIOS[name](sc, a)
    except Exception:  # a fault in the driver is a failed scenario, not a lost table
        sc.failures.append(traceback.format_exc().strip().splitlines()[-1])
        sc.checked.append("FAIL " + traceback.format_exc())
    sc.seconds = time.time() - sc.began
    return sc


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--build", required=True)
    p.add_argument("--shared", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..",
                                                    "shared"))
    p.add_argument("--out", default="")
    p.add_argument("--stall", type=float, default=30)
    p.add_argument("--flood-seconds", type=float, default=5)
    p.add_argument("--only", action="append", default=[])
    p.add_argument("--jobs", type=int, default=4)
    a = p.parse_args()
    b = os.path.abspath(a.build)
    a.tools = {"exe": os.path.join(b, "src", "core", "Ventrix_P3D"), "simhost": os.path.join(b, "tools", "simhost",
               "simhost"), "rtfeed": os.path.join(b, "tools", "rtfeed", "rtfeed"),
               "livgen": os.path.join(b, "tools", "livgen", "livgen")}
    a.out = os.path.abspath(a.out or os.path.join(b, "faults"))
    if os.path.exists(a.out):
        shutil.rmtree(a.out)
    os.makedirs(a.out)
    a.recording = os.path.join(a.shared, "data", "traffic", "vhhh_arrivals_2018-05-01_fr24.csv")
    names = a.only or list(SCENARIOS)
    if not os.path.exists(a.recording):
        print("faults: the shared recording is absent; skipping " + ", ".join(n for n in names if n in NEEDS_RECORDING))
        names = [n for n in names if n not in NEEDS_RECORDING]
    with concurrent.futures.ThreadPoolExecutor(max_workers=a.jobs) as pool:
        results = list(pool.map(lambda n: run_one(n, a), names))
    failed = 0
    print("%-18s | %-70s | %-8s | %s" % ("scenario", "what the program said / did", "time", "result"))
    for sc in results:
        said = "; ".join(s for s in sc.said if s)
        print("%-18s | %-70s | %6.0f s | %s" % (sc.name, said[:200], sc.seconds,
                                                 "ok" if not sc.failures else "FAILED"))
        for c in sc.checked:
            print("    " + c)
        failed += bool(sc.failures)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
