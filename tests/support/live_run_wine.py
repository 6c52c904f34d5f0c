#!/usr/bin/env python3
"""live_run.py's twin for the Windows build: Ventrix_P3D.exe and simhost.exe
under Wine (WINEPREFIX, DISPLAY and a running wineserver come from the caller,
scripts/live-windows.sh), rtfeed and the figure tools of the Linux build
around them. The same world as the Linux run: generated liveries and those of
the recording's airline and type pairs, RealTraffic installed, the user parked
at an airport; the same settings, the same summary lines and figures.

Usage: live_run_wine.py --exe EXE --simhost SIMHOST_EXE --input FOLDER --rtfeed R --livgen L --fidelity F
                        --recording FILE --start S --seconds N --out DIR
                        [--transport pipe|tcp] [--kill-simhost-after S] [--appdata-user NAME]
                        [--screenshot PNG] [--set KEY=VALUE ...] (and live_run.py's other options)
  pipe: simhost.exe listens on the simulator's named pipe only (no TCP port),
        and the program finds it by the default of SimConnect.cfg;
  tcp:  simhost.exe has no pipe; SimConnect.cfg in the install folder asks
        for IPv4, the port comes from the registry simhost.exe wrote.
  --kill-simhost-after S: S seconds after the traffic reader started,
        simhost.exe is ended as Task Manager ends a program (taskkill /f); the
        program must end its cycle with SIM WAS CLOSED.
  --appdata-user NAME: the roaming application-data folder moves to
        C:\\users\\NAME\\AppData\\Roaming (NAME may hold letters beyond ASCII),
        so that every flight plan lies below it.
Exit code 0 when the run ended cleanly and the figures are within the limits.
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from live_run import wait_for  # noqa: E402
from world import make_liveries, read, set_parameter, write_parameters  # noqa: E402
import recording_liveries  # noqa: E402

QUIET = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
P3D_KEY = r"HKLM\SOFTWARE\Lockheed Martin\Prepar3D v5"
PORTS_KEY = r"HKCU\SOFTWARE\Lockheed Martin\Prepar3D v5"
SHELL_FOLDERS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders"


def winpath(path):
    """A Unix path as Wine's Z: drive shows it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine_env():
    env = dict(os.environ)
    # Wine reads command lines in the Unix locale's character set: UTF-8, so
    # that names beyond ASCII reach the registry as they are.
    env["LC_ALL"] = "C.UTF-8"
    return env


def wine(*args, check=True):
    r = subprocess.run(["wine"] + list(args), env=wine_env(), **QUIET, timeout=60)
    if check and r.returncode != 0:
        raise RuntimeError("wine %s returned %d" % (" ".join(args), r.returncode))


def shell_folder(name):
    """The current value of a user shell folder (None when not set)."""
    r = subprocess.run(["wine", "reg", "query", SHELL_FOLDERS, "/v", name], env=wine_env(), stdin=subprocess.DEVNULL,
                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, errors="replace", timeout=60)
    for line in r.stdout.splitlines():
        parts = line.split(None, 2)
        if len(parts) == 3 and parts[0] == name:
            return parts[2]
    return None


def roaming_folder(user):
    return os.path.join(os.environ["WINEPREFIX"], "drive_c", "users", user, "AppData", "Roaming")


def screenshot(path):
    xwd = path + ".xwd"
    with open(xwd, "wb") as f:
        subprocess.run(["xwd", "-root", "-silent"], stdout=f, check=True)
    desktop = os.environ.get("WIN_DESKTOP", "1280x640")
    subprocess.run(["/usr/bin/convert", "xwd:" + xwd, "-crop", desktop + "+0+0", "+repage", path], check=True)
    os.remove(xwd)


def prepare(a, out):
    """The install folder, settings, liveries and registry; returns (env, install, titles, appdata)."""
    install = os.path.join(out, "install")
    os.makedirs(os.path.join(install, "docs"))
    shutil.copytree(a.input, os.path.join(install, "input"))
    sim = os.path.join(out, "P3Dv5")
    os.makedirs(sim)
    wine("reg", "add", P3D_KEY, "/v", "SetupPath", "/d", winpath(sim), "/f", "/reg:64")
    # The simulator's ports of an earlier run must not lead the program astray.
    wine("reg", "delete", PORTS_KEY, "/f", check=False)
    if a.appdata_user:
        appdata = roaming_folder(a.appdata_user)
        a.appdata_before = shell_folder("AppData")
        wine("reg", "add", SHELL_FOLDERS, "/v", "AppData", "/t", "REG_EXPAND_SZ",
             "/d", "C:\\users\\%s\\AppData\\Roaming" % a.appdata_user, "/f")
    else:
        appdata = roaming_folder(os.environ.get("WIN_USER") or subprocess.check_output(["id", "-un"], text=True).strip())
    shutil.rmtree(os.path.join(appdata, "Ventrix_P3D"), ignore_errors=True)
    os.makedirs(appdata, exist_ok=True)
    # world.py's settings helpers find parameters.xml below XDG_CONFIG_HOME.
    env = wine_env()
    env["XDG_CONFIG_HOME"] = appdata
    base = random.randrange(20000, 60000, 2)
    env["VNTX_WEATHER_PORT"] = str(base)
    env["VNTX_TRAFFIC_PORT"] = str(base + 1)
    tree = make_liveries(a.livgen, os.path.join(out, "liveries"), 400)
    write_parameters(env, {"PROGRAM_VERSION": "11.9.2", "SCAN_LIVERIES": "true", "SCAN_AIRPORTS": "false",
                           "lfolder0": winpath(tree)})
    titles = os.path.join(out, "liveries", "titles.txt")
    if a.recording_liveries:
        extra = os.path.join(out, "recording_liveries")
        pairs = recording_liveries.pairs_of(a.recording, 400)
        set_parameter(env, "lfolder1", winpath(recording_liveries.write_tree(pairs, extra)))
        both = os.path.join(out, "titles.txt")
        with open(both, "w") as f:
            f.write(read(titles) + read(os.path.join(extra, "titles.txt")))
        titles = both
    rt = os.path.join(appdata, "InsideSystems")
    os.makedirs(rt, exist_ok=True)
    open(os.path.join(rt, "RealTraffic.jar"), "w").close()
    env["VNTX_RT_PORT"] = str(20000 + random.randrange(20000))
    for k, v in [("AUTO_RANGE", "false"), ("RANGE", str(a.range)), ("PORT_NUMBER", env["VNTX_RT_PORT"]),
                 ("MAX_LIVE_SEL", "500")] + [s.split("=", 1) for s in a.set]:
        set_parameter(env, k, v)
    if a.transport == "tcp":
        with open(os.path.join(install, "SimConnect.cfg"), "w") as f:
            f.write("[SimConnect]\r\nProtocol=IPv4\r\nAddress=127.0.0.1\r\n")
    return env, install, titles, appdata


def run(a):
    out = os.path.abspath(a.out)
    if os.path.exists(out):
        shutil.rmtree(out)
    os.makedirs(out)
    env, install, titles, appdata = prepare(a, out)
    trace = os.path.join(out, "simhost_trace.jsonl")
    sent = os.path.join(out, "rtfeed_sent.txt")
    logs = {n: open(os.path.join(out, n + ".out"), "w") for n in ("simhost", "rtfeed", "ventrix")}
    transport = ["--port", "-1"] if a.transport == "pipe" else ["--pipe", ""]
    sim = subprocess.Popen(["wine", a.simhost] + transport +
                           ["--titles", winpath(titles), "--user", "parked:" + a.user, "--trace", winpath(trace),
                            "--trace-interval", "0"],
                           env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=logs["simhost"], text=True)
    logs["simhost"].write(sim.stdout.readline())  # listening: the ports are in the registry now
    logs["simhost"].flush()
    prog = subprocess.Popen(["wine", a.exe], cwd=install, env=env, stdin=subprocess.DEVNULL, stdout=logs["ventrix"],
                            stderr=subprocess.STDOUT)
    log_path = os.path.join(install, "Log.txt")
    feed = None
    ok = True
    killed = False
    try:
        if not wait_for(lambda: "Waiting for RealTraffic to connect" in read(log_path), 90):
            print("live_run_wine: the program did not wait for RealTraffic")
            ok = False
        else:
            feed = subprocess.Popen([a.rtfeed, "--port", env["VNTX_RT_PORT"], "--traffic-port", env["VNTX_TRAFFIC_PORT"],
                                     "--weather-port", env["VNTX_WEATHER_PORT"], "--shift", "now", "--start",
                                     str(a.start), "--duration", str(a.seconds), "--densify", str(a.densify), "--sent",
                                     sent, "--hold", "--quiet"] + a.regdb + [a.recording],
                                    stdout=logs["rtfeed"], stderr=subprocess.STDOUT)
            started = time.time()
            if a.kill_simhost_after is not None:
                ok = wait_for(lambda: "Traffic Reader connected" in read(log_path), 60) and ok
                time.sleep(a.kill_simhost_after)
                wine("taskkill", "/f", "/im", os.path.basename(a.simhost))
                killed = True
                if not wait_for(lambda: prog.poll() is not None, 60):
                    print("live_run_wine: the program still runs 60 s after simhost.exe was ended")
                    ok = False
            else:
                total = a.seconds + a.tail
                if a.screenshot:
                    time.sleep(total / 2)
                    screenshot(a.screenshot)
                time.sleep(max(0.0, total - (time.time() - started)))
    finally:
        if prog.poll() is None:
            # The close button: WM_CLOSE to the main window.
            wine("taskkill", "/im", os.path.basename(a.exe), check=False)
            try:
                prog.wait(timeout=60)
            except subprocess.TimeoutExpired:
                wine("taskkill", "/f", "/im", os.path.basename(a.exe), check=False)
                prog.wait()
                print("live_run_wine: the program did not close")
                ok = False
        if feed and feed.poll() is None:
            feed.terminate()
            feed.wait()
        if not killed:
            try:
                sim.stdin.write("exit\n")
                sim.stdin.flush()
                sim.wait(timeout=20)
            except (OSError, subprocess.TimeoutExpired):
                wine("taskkill", "/f", "/im", os.path.basename(a.simhost), check=False)
        sim.wait()
        for f in logs.values():
            f.close()
        if a.appdata_user:
            if a.appdata_before is None:
                wine("reg", "delete", SHELL_FOLDERS, "/v", "AppData", "/f", check=False)
            else:
                wine("reg", "add", SHELL_FOLDERS, "/v", "AppData", "/t", "REG_EXPAND_SZ", "/d", a.appdata_before, "/f")
    if prog.returncode != 0:
        print("live_run_wine: the program returned %s" % prog.returncode)
        ok = False
    log = read(log_path)
    shutil.copyfile(log_path, os.path.join(out, "Log.txt"))
    print("transport              %s" % a.transport)
    lines = log.splitlines()
    for i, l in enumerate(lines):
        if l.startswith("Live traffic summary:") or l.startswith("Control loop period:"):
            print(l)
        if l.startswith("Matches at step:"):
            print("Livery matches per step: " + ", ".join(x.strip() for x in lines[i + 1:i + 8]))
    if killed:
        return ok
    args = [a.fidelity, "--sent", sent, "--trace", trace, "--centre", a.centre or a.user.rsplit(",", 1)[0],
            "--range", str(a.range), "--svg", os.path.join(out, "traffic_map.svg")]
    fid = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    print("datagrams sent         %d" % (sum(1 for _ in open(sent)) if os.path.exists(sent) else 0))
    print(fid.stdout, end="")
    with open(os.path.join(out, "figures.txt"), "w") as f:
        f.write(fid.stdout)
    return ok and fid.returncode == 0


def main():
    p = argparse.ArgumentParser()
    for k in ("exe", "simhost", "input", "rtfeed", "livgen", "fidelity", "recording", "out"):
        p.add_argument("--" + k, required=True)
    p.add_argument("--start", type=float, default=0)
    p.add_argument("--seconds", type=float, default=120)
    p.add_argument("--tail", type=float, default=45)
    p.add_argument("--user", default="36.587,-121.843,257")
    p.add_argument("--centre", default="")
    p.add_argument("--range", type=int, default=40)
    p.add_argument("--regdb", action="append", default=[])
    p.add_argument("--densify", type=float, default=0)
    p.add_argument("--recording-liveries", action="store_true")
    p.add_argument("--set", action="append", default=[])
    p.add_argument("--transport", choices=("pipe", "tcp"), default="pipe")
    p.add_argument("--kill-simhost-after", type=float, default=None)
    p.add_argument("--appdata-user", default="")
    p.add_argument("--screenshot", default="")
    a = p.parse_args()
    a.regdb = [x for r in a.regdb for x in ("--regdb", r)]
    for k in ("exe", "simhost", "input", "rtfeed", "livgen", "fidelity"):
        setattr(a, k, os.path.abspath(getattr(a, k)))
    sys.exit(0 if run(a) else 1)


if __name__ == "__main__":
    main()
