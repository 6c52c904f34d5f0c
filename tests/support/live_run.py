#!/usr/bin/env python3
"""Live traffic through the whole program: simhost as the simulator with the
generated liveries installed and the user parked at an airport, rtfeed
replaying a real recording as RealTraffic (stamped with the time it sends),
Ventrix_P3D in a prepared install folder in between. Afterwards the feed's
record of what it sent and simhost's trace give the fidelity figures.

Usage: live_run.py --exe E --simhost S --rtfeed R --livgen L --fidelity F
                   --recording FILE --start S --seconds N --out DIR
                   [--user LAT,LON,HDG] [--centre LAT,LON] [--range NM]
                   [--max-median M] [--max-p95 M] [--set KEY=VALUE ...]
                   [--map-box LAT1,LON1,LAT2,LON2] [--landings]
Exit code 0 when the run ended cleanly, every creation asked was answered,
every object created was taken over and placed by the program, no object
jumped, and the figures are within the limits.
"""
import argparse
import json
import os
import random
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from world import make_world, read, set_parameter  # noqa: E402
import recording_liveries  # noqa: E402


def wait_for(predicate, seconds):
    end = time.time() + seconds
    while time.time() < end:
        if predicate():
            return True
        time.sleep(0.2)
    return predicate()


def install_realtraffic(env, range_nm):
    """RealTraffic as installed, on a free TCP port; returns the port (text)."""
    # RealTraffic counts as installed when its program file is there.
    rt = os.path.join(env["XDG_CONFIG_HOME"], "InsideSystems")
    os.makedirs(rt, exist_ok=True)
    open(os.path.join(rt, "RealTraffic.jar"), "w").close()
    tcp = str(20000 + random.randrange(20000))
    for k, v in (("AUTO_RANGE", "false"), ("RANGE", str(range_nm)), ("PORT_NUMBER", tcp), ("MAX_LIVE_SEL", "500")):
        set_parameter(env, k, v)
    return tcp


def start_simhost(simhost, env, titles, user, trace, log, extra=(), trace_interval="0"):
    """simhost with the user parked at LAT,LON,HDG, listening once this returns."""
    sim = subprocess.Popen([simhost, "--port", "0", "--titles", titles, "--user", "parked:" + user,
                            "--trace", trace, "--trace-interval", trace_interval] + list(extra),
                           env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=log, text=True)
    log.write(sim.stdout.readline())  # listening: the ports are in the registry now
    log.flush()
    return sim


def close_program(prog, seconds=60):
    """Asks the program to close as its window's close would; False if it had to be killed."""
    if prog.poll() is not None:
        return True
    try:
        prog.stdin.write("close\n")
        prog.stdin.flush()
    except OSError:
        pass
    try:
        prog.wait(timeout=seconds)
        return True
    except subprocess.TimeoutExpired:
        prog.kill()
        prog.wait()
        return False


HERE = os.path.dirname(os.path.abspath(__file__))


def traced_positions(trace):
    """The AI objects' position records of simhost's trace (none without one)."""
    if not os.path.exists(trace):
        return
    for l in open(trace):
        if '"pos"' not in l or '"tail"' not in l:
            continue
        try:
            yield json.loads(l)
        except ValueError:
            continue


def ground_story(log, trace):
    """What live aircraft did on the ground, one line each, from Log.txt and
    the simulator's trace: "VJT796 parked on F70", "AEE5ZH pushed back from
    A10, took off" (or "..., did not take off in the run")."""
    lines = []
    for m in re.finditer(r"^(\S+)\s*: (\S+)\s+arrived at stand$", log, re.M):
        lines.append("live arrival            %s parked on %s" % (m.group(2), m.group(1)))
    airborne_after_ground = set()
    on_ground = set()
    for p in traced_positions(trace):
        tail = p.get("tail")
        if p.get("on_ground"):
            on_ground.add(tail)
        elif tail in on_ground:
            airborne_after_ground.add(tail)
    for m in re.finditer(r"^(\S+)\s*: (\S+)\s+(pushing back|pulling out)$", log, re.M):
        how = "pushed back" if m.group(3) == "pushing back" else "pulled out"
        flown = "took off" if m.group(2) in airborne_after_ground else "did not take off in the run"
        lines.append("live departure          %s %s from %s, %s" % (m.group(2), how, m.group(1), flown))
    return lines


def ground_elevation(boxes, lat, lon):
    """The elevation (ft) simhost gives the ground at lat, lon: the first of
    its --ground boxes (LAT1,LON1,LAT2,LON2,FT) that holds the point, else 0."""
    for b in boxes:
        la1, lo1, la2, lo2, ft = (float(x) for x in b.split(","))
        if min(la1, la2) <= lat <= max(la1, la2) and min(lo1, lo2) <= lon <= max(lo1, lo2):
            return ft
    return 0.0


def landing_story(trace, boxes):
    """Each object the trace shows landing from the air, one line each: its
    first traced height above the ground and its heights 60 s and 5 s before
    its wheels touched, so that a reader sees it descend and flare onto the
    runway ("live landing  CPA676 first traced 3350 ft above ground at 41 s,
    descending 820 ft 60 s and 40 ft 5 s before, touched down at 352 s")."""
    points = {}
    for p in traced_positions(trace):
        try:
            points.setdefault(p["pos"], []).append(
                (float(p["t"]), float(p["alt"]) - ground_elevation(boxes, p["lat"], p["lon"]),
                 bool(p.get("on_ground")), p.get("tail", "")))
        except (KeyError, TypeError, ValueError):
            continue
    lines = []
    for pts in points.values():
        down = next((i for i, p in enumerate(pts) if p[2] and i > 0 and not pts[i - 1][2]), None)
        if down is None or pts[0][2]:
            continue  # never airborne before standing on the ground: no landing

        def height_before(seconds):
            t = pts[down][0] - seconds
            return max((p for p in pts[:down] if p[0] <= t), key=lambda p: p[0], default=pts[0])[1]

        lines.append("live landing            %s first traced %.0f ft above ground at %.0f s, descending %.0f ft "
                     "60 s and %.0f ft 5 s before, touched down at %.0f s"
                     % (pts[down][3], pts[0][1], pts[0][0], height_before(60), height_before(5), pts[down][0]))
    return lines


def prepare(a, out, max_pairs=400):
    """The world of a live run in the fresh folder out: the install folder, the
    generated liveries (and the recording's, with a.recording_liveries), the
    settings. Returns (env, install folder, titles file, RealTraffic's TCP port)."""
    env, install = make_world(out, a.exe, livgen=a.livgen, livery_files=400)
    titles = os.path.join(out, "liveries", "titles.txt")
    if a.recording_liveries:
        # Liveries for the airline and type pairs the recording flies, in a second livery folder.
        extra = os.path.join(out, "recording_liveries")
        pairs = recording_liveries.pairs_of(a.recording, max_pairs)
        if a.park_file:
            # And for the aircraft the park file parks there, so that static ones find theirs.
            fleet = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "data", "registrations",
                                 "fg_ai_fleet.csv")
            pairs += [p for p in recording_liveries.pairs_of_park_file(a.park_file, fleet) if p not in pairs]
        set_parameter(env, "lfolder1", recording_liveries.write_tree(pairs, extra))
        both = os.path.join(out, "titles.txt")
        with open(both, "w") as f:
            f.write(read(titles) + read(os.path.join(extra, "titles.txt")))
        titles = both
    tcp = install_realtraffic(env, a.range)
    if a.park_file and not getattr(a, "serve", ""):
        # The park airport's file as the user's own: no download needed.
        code = os.path.splitext(os.path.basename(a.park_file))[0]
        folder = os.path.join(install, "airports", "my_thirdparty")
        os.makedirs(folder, exist_ok=True)
        shutil.copyfile(a.park_file, os.path.join(folder, code + ".xml"))
    for k, v in (s.split("=", 1) for s in a.set):
        set_parameter(env, k, v)
    return env, install, titles, tcp


def start_download_server(tree, env, out):
    """The maker's download server on loopback (HTTPS), serving tree; the
    program's settings point at it. None when it did not start."""
    ready = os.path.join(out, "server.env")
    server = subprocess.Popen([sys.executable, os.path.join(HERE, "download_server.py"), "--tree", tree,
                               "--ready-file", ready], stdin=subprocess.DEVNULL,
                              stdout=open(os.path.join(out, "server.out"), "w"), stderr=subprocess.STDOUT)
    if not wait_for(lambda: os.path.exists(ready) or server.poll() is not None, 60) or server.poll() is not None:
        print("live_run: the download server did not start")
        return None
    for line in read(ready).splitlines():
        k, _, v = line.partition("=")
        if k in ("VNTX_DOWNLOAD_BASE", "VNTX_DOWNLOAD_CA", "VNTX_DOWNLOAD_LOG"):
            env[k] = v
    # The server's data versions are new to this install: it takes the
    # data files and scans the add-on airports, of which it has none.
    addons = os.path.join(out, "addon_airports")
    os.makedirs(addons, exist_ok=True)
    set_parameter(env, "afolder0", addons)
    return server


def start(a, env, install, titles, out, trace_interval="0", simhost_args=()):
    """simhost (ready when this returns), then Ventrix_P3D. Returns
    (simhost, program, logs, trace path, sent path)."""
    trace = os.path.join(out, "simhost_trace.jsonl")
    sent = os.path.join(out, "rtfeed_sent.txt")
    logs = {n: open(os.path.join(out, n + ".out"), "w") for n in ("simhost", "rtfeed", "ventrix")}
    ground = [x for g in a.ground for x in ("--ground", g)]
    sim = start_simhost(a.simhost, env, titles, a.user, trace, logs["simhost"], ground + list(simhost_args),
                        trace_interval)
    prog = subprocess.Popen([a.exe], cwd=install, env=env, stdin=subprocess.PIPE, stdout=logs["ventrix"],
                            stderr=subprocess.STDOUT, text=True)
    return sim, prog, logs, trace, sent


def start_feed(a, env, tcp, sent, logs, recording, seconds):
    return subprocess.Popen([a.rtfeed, "--port", tcp, "--traffic-port", env["VNTX_TRAFFIC_PORT"],
                             "--weather-port", env["VNTX_WEATHER_PORT"], "--shift", "now", "--start", str(a.start),
                             "--duration", str(seconds), "--densify", str(a.densify), "--sent", sent, "--hold",
                             "--quiet"] + a.regdb + [recording], stdout=logs["rtfeed"], stderr=subprocess.STDOUT)


def finish(prog, feed, sim, logs):
    """Closes the program as the window's close button would, then the feed and
    simhost. False when the program did not close or failed."""
    ok = True
    if not close_program(prog):
        print("live_run: the program did not close")
        ok = False
    if feed and feed.poll() is None:
        feed.terminate()
        feed.wait()
    try:
        sim.stdin.write("exit\n")
        sim.stdin.flush()
        sim.wait(timeout=10)
    except (OSError, subprocess.TimeoutExpired):
        sim.kill()
        sim.wait()
    for f in logs.values():
        f.close()
    if prog.returncode != 0:
        print("live_run: the program returned %s" % prog.returncode)
        ok = False
    return ok


def print_log_summary(log):
    """Prints the program's summary lines; False when a creation it asked for
    was never answered."""
    ok = True
    lines = log.splitlines()
    for i, l in enumerate(lines):
        if l.startswith(("Live traffic summary:", "Control loop period:", "Parking summary:")):
            print(l)
        if l.startswith("Live traffic summary:"):
            # Every creation the program asked for was answered: created or refused.
            m = re.search(r"(\d+) creations asked, (\d+) created, \d+ removed, (\d+) refused", l)
            if not m or int(m.group(2)) + int(m.group(3)) != int(m.group(1)):
                print("live_run: creations asked and created differ")
                ok = False
        if l.startswith("Matches at step:"):
            print("Livery matches per step: " + ", ".join(x.strip() for x in lines[i + 1:i + 8]))
    return ok


def fresh_folder(path):
    """The folder, emptied (made when missing); returns its absolute path."""
    out = os.path.abspath(path)
    if os.path.exists(out):
        shutil.rmtree(out)
    os.makedirs(out)
    return out


def run(a):
    out = fresh_folder(a.out)
    env, install, titles, tcp = prepare(a, out)
    server = None
    if a.serve:
        # The program fetches the park airport's stock file from it.
        server = start_download_server(a.serve, env, out)
        if not server:
            return False
    sim, prog, logs, trace, sent = start(a, env, install, titles, out)
    log_path = os.path.join(install, "Log.txt")
    feed = None
    ok = True
    try:
        if not wait_for(lambda: "Waiting for RealTraffic to connect" in read(log_path), 60):
            print("live_run: the program did not wait for RealTraffic")
            ok = False
        else:
            feed = start_feed(a, env, tcp, sent, logs, a.recording, a.seconds)
            # The reports are due 30 s after they arrive; then the aircraft that
            # stopped reporting are flown on and removed.
            # rtfeed holds the link after its last report; stop it at the end.
            time.sleep(a.seconds + a.tail)
    finally:
        ok = finish(prog, feed, sim, logs) and ok
        if server:
            # The server's folder goes with it: its request log first.
            requests = read(env["VNTX_DOWNLOAD_LOG"])
            server.terminate()
            server.wait()
    log = read(log_path)
    shutil.copyfile(log_path, os.path.join(out, "Log.txt"))
    args = [a.fidelity, "--sent", sent, "--trace", trace, "--centre", a.centre or a.user.rsplit(",", 1)[0],
            "--range", str(a.range), "--svg", os.path.join(out, "traffic_map.svg")]
    if a.park_file:
        args += ["--stands", a.park_file]
    if a.map_box:
        args += ["--map-box", a.map_box]
    if a.max_median:
        args += ["--max-median", str(a.max_median)]
    if a.max_p95:
        args += ["--max-p95", str(a.max_p95)]
    fid = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    sent_count = sum(1 for _ in open(sent)) if os.path.exists(sent) else 0
    print("datagrams sent         %d" % sent_count)
    ok = print_log_summary(log) and ok
    if server:
        fetched = [l for l in requests.splitlines() if "/archive/" in l]
        print("park files downloaded   %s" % (", ".join(l.split()[1].rsplit("/", 1)[-1] + " (" + l.split()[-1] + ")"
                                                    for l in fetched) or "none"))
    for line in ground_story(log, trace):
        print(line)
    if a.landings:
        for line in landing_story(trace, a.ground):
            print(line)
    print(fid.stdout, end="")
    with open(os.path.join(out, "figures.txt"), "w") as f:
        f.write(fid.stdout)
    if fid.returncode != 0:
        print("live_run: the simulator's trace shows a fault (see the figures above)")
    return ok and fid.returncode == 0


def main():
    p = argparse.ArgumentParser()
    for k in ("exe", "simhost", "rtfeed", "livgen", "fidelity", "recording", "out"):
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
    p.add_argument("--max-median", type=float, default=0)
    p.add_argument("--max-p95", type=float, default=0)
    p.add_argument("--ground", action="append", default=[], help="LAT1,LON1,LAT2,LON2,FT: simhost's ground elevation")
    p.add_argument("--park-file", default="", help="a park file installed as airports/my_thirdparty/CODE.xml"
                   " (without --serve), drawn on the map")
    p.add_argument("--serve", default="", help="a download tree (tools/refdata's) served over HTTPS on loopback")
    p.add_argument("--set", action="append", default=[], help="KEY=VALUE: one more setting")
    p.add_argument("--map-box", default="", help="LAT1,LON1,LAT2,LON2: the map shows this area (an airport)")
    p.add_argument("--landings", action="store_true", help="a line for each object the trace shows landing from the air")
    a = p.parse_args()
    a.regdb = [x for r in a.regdb for x in ("--regdb", r)]
    for k in ("exe", "simhost", "rtfeed", "livgen", "fidelity"):
        setattr(a, k, os.path.abspath(getattr(a, k)))
    sys.exit(0 if run(a) else 1)


if __name__ == "__main__":
    main()
