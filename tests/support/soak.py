#!/usr/bin/env python3
"""A long run under a busy sky: simhost, rtfeed replaying a dense scenario of
real flights (rtfeed dense: N aircraft reporting at once around one airport)
and Ventrix_P3D in between, for a chosen time. Every minute (when the program
logs its "Load:" line) a row: the control loop's period, the tick's CPU time,
the frame flush time, queued messages, live aircraft and buffered reports
(from the program's line), its resident memory and open descriptors (from
/proc), the machine's load average and the airborne fidelity of the reports
due in that minute. At the end: the whole run's fidelity, the memory per
buffered report and per live aircraft, a summary against the limits, the
series as CSV and an SVG chart.

Memory per buffered report: for the first 30 s after the first report no
aircraft is flown (reports wait out the delay), so the resident memory grows
with the reports buffered alone; its slope against the reports sent is the
figure. Memory per live aircraft: from minute 5 on, the resident memory above
the memory before the first report, less the buffered reports' share,
divided by the aircraft the program holds.

Usage: soak.py --exe E --simhost S --rtfeed R --livgen L --fidelity F --chart C
               --out DIR [--minutes 30] [--aircraft 1000] [--seed 1]
               [--recording FILE]... [--regdb FILE]... [--centre LAT,LON]
               [--range NM] [--max-live N] [--strict]
Exit code 0 when the run ended cleanly, the program logged its load, every
creation asked was answered, every object created was moved and nothing
teleported; with --strict also the loop, tick, memory and fidelity limits.
"""
import argparse
import collections
import json
import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import live_run  # noqa: E402
from world import read  # noqa: E402

LOAD = re.compile(
    r"Load: loop period mean (?P<period_mean>[\d.]+) ms, 99th percentile (?P<period_p99>[\d.]+) ms, "
    r"largest (?P<period_max>[\d.]+) ms \((?P<ticks>\d+) ticks\); "
    r"tick CPU mean (?P<cpu_mean>\d+) us, 99th percentile (?P<cpu_p99>\d+) us, largest (?P<cpu_max>\d+) us"
    r"(?:; tick wall mean (?P<wall_mean>\d+) us, 99th percentile (?P<wall_p99>\d+) us, largest (?P<wall_max>\d+) us; "
    r"woke late mean (?P<late_mean>\d+) us, 99th percentile (?P<late_p99>\d+) us, largest (?P<late_max>\d+) us)?"
    r"(?:; frame flush mean (?P<flush_mean>\d+) us, 99th percentile (?P<flush_p99>\d+) us, "
    r"largest (?P<flush_max>\d+) us \((?P<frames>\d+) frames\); "
    r"queued (?P<queued>\d+) now, (?P<queued_max>\d+) at most in a frame)?"
    r"(?:; live (?P<active>\d+) active of (?P<aircraft>\d+) aircraft, (?P<buffered>\d+) buffered reports)?")

# The limits a long run is held to.
LIMITS = {"period_p99": 11.0, "period_max": 50.0, "cpu_mean": 200.0, "rss_growth": 0.01, "median": 50.0, "p95": 300.0}


def parse_load(line):
    """The figures of a "Load:" line (numbers; parts the line lacks are absent)."""
    m = LOAD.search(line)
    if not m:
        return None
    return {k: float(v) for k, v in m.groupdict().items() if v is not None}


def parse_figures(text):
    """trace_fidelity's airborne figures and faults."""
    f = {}
    m = re.search(r"distance at due time +median ([\d.]+) m, 95th percentile ([\d.]+) m, max ([\d.]+) m", text)
    if m:
        f["median"], f["p95"], f["max"] = (float(x) for x in m.groups())
    m = re.search(r"teleports (\d+)", text)
    if m:
        f["teleports"] = int(m.group(1))
    m = re.search(r"objects left alone +(\d+) never taken over, (\d+) never placed", text)
    if m:
        f["never_tied"], f["never_placed"] = int(m.group(1)), int(m.group(2))
    m = re.search(r"\((\d+) reports measured", text)
    if m:
        f["samples"] = int(m.group(1))
    return f


def slope(points):
    """Least-squares slope of y over x; None with fewer than 3 points or no spread."""
    if len(points) < 3:
        return None
    n = len(points)
    mx = sum(x for x, _ in points) / n
    my = sum(y for _, y in points) / n
    sxx = sum((x - mx) ** 2 for x, _ in points)
    if sxx == 0:
        return None
    return sum((x - mx) * (y - my) for x, y in points) / sxx


def rss_growth(rows, settle_minute=5):
    """Largest resident memory after the settling minute against the memory at
    it, as a fraction (None before the run is long enough)."""
    after = [r["rss_kb"] for r in rows if r["minute"] >= settle_minute]
    if len(after) < 2:
        return None
    return (max(after) - after[0]) / after[0]


def verdict(rows, figures, strict):
    """Lines "ok"/"FAIL" per limit, and whether every checked one holds."""
    lines, ok = [], True

    def check(name, value, limit, hard, fmt="%.2f"):
        nonlocal ok
        good = value is not None and value <= limit
        if hard and not good:
            ok = False
        shown = "n/a" if value is None else fmt % value
        lines.append("%-4s %-44s %s (limit %s)%s" % ("ok" if good else "FAIL", name, shown, fmt % limit,
                                                    "" if hard else ", not checked in this run"))

    loaded = [r for r in rows if "period_p99" in r]
    check("loop period 99th percentile, worst minute, ms",
          max((r["period_p99"] for r in loaded), default=None), LIMITS["period_p99"], strict)
    check("loop period largest, ms", max((r["period_max"] for r in loaded), default=None), LIMITS["period_max"], strict)
    ref = [r for r in rows if "ref_p99" in r]
    if ref:
        # Not the program's: the machine's own timing, for telling the two apart.
        lines.append("info machine: an empty loop in the same minutes: 99th percentile, worst minute %.1f ms, "
                     "largest %.1f ms" % (max(r["ref_p99"] for r in ref), max(r["ref_max"] for r in ref)))
    check("tick CPU mean, worst minute, us", max((r["cpu_mean"] for r in loaded), default=None), LIMITS["cpu_mean"],
          strict, "%.0f")
    check("resident memory growth after minute 5", rss_growth(rows), LIMITS["rss_growth"], strict, "%.4f")
    # A short run is all ramp-up: a thousand aircraft appear within minutes and
    # each new object starts behind its reports, so its fidelity is shown only.
    check("airborne distance median, m", figures.get("median"), LIMITS["median"], strict, "%.1f")
    check("airborne distance 95th percentile, m", figures.get("p95"), LIMITS["p95"], strict, "%.1f")
    check("teleports", figures.get("teleports"), 0, True, "%d")
    check("objects created and never taken over", figures.get("never_tied"), 0, True, "%d")
    check("objects created and never placed", figures.get("never_placed"), 0, True, "%d")
    return lines, ok


class Tail:
    """The complete lines a growing file gained since the last call."""

    def __init__(self, path):
        self.path, self.pos, self.rest = path, 0, ""

    def lines(self):
        if not os.path.exists(self.path):
            return []
        with open(self.path, encoding="utf-8", errors="replace") as f:
            f.seek(self.pos)
            data = f.read()
            self.pos = f.tell()
        data = self.rest + data
        parts = data.split("\n")
        self.rest = parts.pop()
        return parts


class Window:
    """The recent part of the feed's sent log and simhost's trace, enough for
    trace_fidelity to measure the reports due in the last minute."""

    KEEP = 150  # seconds

    def __init__(self, sent, trace):
        self.sent, self.trace = Tail(sent), Tail(trace)
        self.sent_lines = collections.deque()  # (send time, line)
        self.positions = collections.deque()   # (wall time, line)
        self.header, self.objects = [], []      # start record; creations, releases, removals
        self.wall_start = 0
        self.sent_count = 0

    def update(self):
        for line in self.sent.lines():
            if line:
                self.sent_lines.append((float(line.split("\t", 1)[0]), line))
                self.sent_count += 1
        for line in self.trace.lines():
            if not line:
                continue
            if '"pos"' in line:
                t = json.loads(line).get("t", 0)
                self.positions.append((self.wall_start + t, line))
            elif '"start"' in line and not self.header:
                self.header.append(line)
                self.wall_start = json.loads(line).get("wall", 0)
            elif any(k in line for k in ("AICreateNonATCAircraft", "removed", "AIReleaseControl", "FREEZE_")):
                self.objects.append(line)
        now = time.time()
        while self.sent_lines and self.sent_lines[0][0] < now - self.KEEP:
            self.sent_lines.popleft()
        while self.positions and self.positions[0][0] < now - self.KEEP:
            self.positions.popleft()

    def write(self, folder):
        sent, trace = os.path.join(folder, "window_sent.txt"), os.path.join(folder, "window_trace.jsonl")
        with open(sent, "w") as f:
            f.writelines(l + "\n" for _, l in self.sent_lines)
        with open(trace, "w") as f:
            f.writelines(l + "\n" for l in self.header + self.objects)
            f.writelines(l + "\n" for _, l in self.positions)
        return sent, trace


def proc_sample(pid):
    """(resident memory in kB, open descriptors, processor seconds used so far)
    of a process; (0, 0, 0) once it is gone."""
    try:
        rss = 0
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    rss = int(line.split()[1])
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        cpu = (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")  # utime + stime
        return rss, len(os.listdir("/proc/%d/fd" % pid)), cpu
    except (OSError, IndexError, ValueError):
        return 0, 0, 0


COLUMNS = ["minute", "period_mean", "period_p99", "period_max", "cpu_mean", "cpu_p99", "cpu_max", "wall_p99",
           "wall_max", "late_p99", "late_max", "flush_mean",
           "flush_p99", "flush_max", "queued", "queued_max", "active", "aircraft", "buffered", "rss_kb", "fds",
           "median", "p95", "cpu_pct", "ref_p99", "ref_max", "load1"]


PANELS = ["control loop period, ms (mean, 99th percentile, largest)=period_mean,period_p99,period_max@%g" % LIMITS["period_p99"],
          "an empty loop beside it: the machine's period, ms (99th percentile, largest)=ref_p99,ref_max@%g"
          % LIMITS["period_p99"],
          "tick CPU time, us (mean, 99th percentile)=cpu_mean,cpu_p99@%g" % LIMITS["cpu_mean"],
          "tick wall time and wake-up lateness, us (99th percentile)=wall_p99,late_p99",
          "frame flush, us (mean, 99th percentile)=flush_mean,flush_p99",
          "resident memory, kB=rss_kb", "open descriptors=fds",
          "messages to the simulator (queued now, most in a frame)=queued,queued_max",
          "aircraft (active, held) and buffered reports=active,aircraft,buffered",
          "airborne fidelity, m (median, 95th percentile)=median,p95@%g" % LIMITS["p95"],
          "program's processor use, % of one core=cpu_pct", "machine load average (1 min)=load1"]


def row_text(r):
    def g(k, f="%.0f"):
        return f % r[k] if k in r else "-"
    return ("%3d  %s/%s/%s ms  cpu %s/%s/%s us  wall %s/%s us  late %s/%s us  flush %s/%s/%s us  queued %s/%s  "
            "live %s/%s buf %s  rss %.1f MB fds %d  fid %s/%s m  cpu %s %%  machine %s/%s ms  load %.2f" % (
                r["minute"], g("period_mean", "%.2f"), g("period_p99", "%.1f"), g("period_max", "%.1f"),
                g("cpu_mean"), g("cpu_p99"), g("cpu_max"), g("wall_p99"), g("wall_max"), g("late_p99"),
                g("late_max"), g("flush_mean"), g("flush_p99"), g("flush_max"),
                g("queued"), g("queued_max"), g("active"), g("aircraft"), g("buffered"), r["rss_kb"] / 1024.0,
                r["fds"], g("median", "%.1f"), g("p95", "%.1f"), g("cpu_pct"), g("ref_p99", "%.1f"),
                g("ref_max", "%.1f"), r["load1"]))


def make_scenario(a, out):
    path = os.path.join(out, "scenario.rtrec")
    regdb = [x for r in a.regdb for x in ("--regdb", r)]
    subprocess.run([a.rtfeed, "dense", "--aircraft", str(a.aircraft), "--seed", str(a.seed), "--centre", a.centre,
                    "--seconds", str(a.minutes * 60 + 60), "--densify", "5"] + regdb + a.recording + [path],
                   check=True, stdout=open(os.path.join(out, "scenario.out"), "w"), stderr=subprocess.STDOUT)
    return path


def run(a):
    out = live_run.fresh_folder(a.out)
    scenario = make_scenario(a, out)
    print("soak: %s" % read(os.path.join(out, "scenario.out")).strip().replace("\n", "\nsoak: "))
    # live_run's world: the scenario's airline and type pairs get liveries too.
    a.recording_liveries, a.park_file, a.densify, a.start, a.regdb_args = True, "", 0, 0, []
    a.user = a.centre + ",0"
    a.set = ["MAX_LIVE_SEL=%d" % a.max_live] + a.set
    live = argparse.Namespace(**vars(a))
    live.recording = scenario
    live.regdb = []
    env, install, titles, tcp = live_run.prepare(live, out, max_pairs=2000)
    # A position record per object and second; the calls that set them leave no
    # record of their own (half a million lines a minute would slow simhost
    # down to where it, not the program, holds the traffic back).
    sim, prog, logs, trace, sent = live_run.start(live, env, install, titles, out, trace_interval="1",
                                                  simhost_args=("--quiet-op", "SetDataOnSimObject"))
    log_path = os.path.join(install, "Log.txt")
    feed, reference, ok, rows, early, first_sent = None, None, True, [], [], None
    window = Window(sent, trace)
    try:
        if not live_run.wait_for(lambda: "Waiting for RealTraffic to connect" in read(log_path), 60):
            print("soak: the program did not wait for RealTraffic")
            ok = False
            return False
        base_rss = proc_sample(prog.pid)[0]
        feed = live_run.start_feed(live, env, tcp, sent, logs, scenario, a.minutes * 60)
        started = time.time()
        log_tail = Tail(log_path)
        # The machine's own timing beside the program's: the same loop with
        # nothing to do, its figures every minute in the program's format.
        ref_path, ref_last = os.path.join(out, "machine_loop.txt"), None
        if a.reference:
            reference = subprocess.Popen([a.reference, "--every", "60", str(a.minutes * 60 + a.tail)],
                                         stdout=open(ref_path, "w"), stderr=subprocess.STDOUT)
            ref_tail = Tail(ref_path)
        last_row, last_cpu = started, proc_sample(prog.pid)[2]
        print("min  loop period mean/p99/max  tick CPU mean/p99/max  tick wall p99/max  woke late p99/max  frame flush  queued now/max  live active/"
              "aircraft, buffered reports  resident memory, descriptors  fidelity median/p95  load")
        while time.time() < started + a.minutes * 60 + a.tail and prog.poll() is None:
            time.sleep(1)
            window.update()
            rss, fds, cpu_s = proc_sample(prog.pid)
            if window.sent_count and first_sent is None:
                first_sent = time.time()
            if first_sent and time.time() - first_sent < 28:
                early.append((window.sent_count, rss))
            if a.reference:
                for line in ref_tail.lines():
                    ref_last = parse_load(line) or ref_last
            for line in log_tail.lines():
                load = parse_load(line)
                if not load:
                    continue
                now = time.time()
                # The whole program's processor use since the last row, in per
                # cent of one core (the loop's awake wait included).
                r = dict(load, minute=round((now - started) / 60), rss_kb=rss, fds=fds, load1=os.getloadavg()[0],
                         cpu_pct=100.0 * (cpu_s - last_cpu) / max(now - last_row, 1e-3))
                last_cpu = cpu_s
                if ref_last:
                    r.update(ref_p99=ref_last["period_p99"], ref_max=ref_last["period_max"])
                ws, wt = window.write(out)
                fid = subprocess.run(["nice", "-n", "19", a.fidelity, "--sent", ws, "--trace", wt, "--centre", a.centre,
                                      "--range", str(a.range), "--due-from", "%.3f" % last_row,
                                      "--due-to", "%.3f" % now], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                     text=True)
                f = parse_figures(fid.stdout)
                # Teleports are counted over the whole run only: a window cut
                # from the middle of a flight lacks the reports before it.
                r.update({k: f[k] for k in ("median", "p95") if k in f})
                rows.append(r)
                last_row = now
                print(row_text(r), flush=True)
    finally:
        if reference:
            reference.kill()
            reference.wait()
        ok = live_run.finish(prog, feed, sim, logs) and ok
    shutil.copyfile(log_path, os.path.join(out, "Log.txt"))
    ok = live_run.print_log_summary(read(log_path)) and ok
    fid = subprocess.run([a.fidelity, "--sent", sent, "--trace", trace, "--centre", a.centre, "--range", str(a.range)],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    print(fid.stdout, end="")
    figures = parse_figures(fid.stdout)
    with open(os.path.join(out, "series.csv"), "w") as f:
        f.write(",".join(COLUMNS) + "\n")
        for r in rows:
            f.write(",".join("%g" % r[c] if c in r else "" for c in COLUMNS) + "\n")
    chart = subprocess.run([a.chart, "--csv", os.path.join(out, "series.csv"), "--svg", os.path.join(out, "soak.svg"),
                            "--title", "Soak: %d aircraft reporting at once, %d minutes, by minute" % (a.aircraft, a.minutes)]
                           + [x for p in PANELS for x in ("--panel", p)])
    ok = chart.returncode == 0 and ok
    per_report = slope(early)
    print("memory per buffered report   %s" % ("%.0f bytes" % (per_report * 1024) if per_report else "n/a"))
    settled = [r for r in rows if r["minute"] >= 5 and r.get("aircraft")]
    if settled and per_report is not None:
        r = settled[-1]
        per_aircraft = ((r["rss_kb"] - base_rss) - per_report * r["buffered"]) / r["aircraft"]
        print("memory per live aircraft     %.1f kB (%d aircraft held, %d active, %d buffered reports, "
              "%.1f MB above the %.1f MB before traffic)" % (per_aircraft, r["aircraft"], r["active"], r["buffered"],
                                                             (r["rss_kb"] - base_rss) / 1024.0, base_rss / 1024.0))
    if not rows:
        print("soak: the program logged no load line")
        ok = False
    lines, limits_ok = verdict(rows, figures, a.strict)
    print("\n".join(lines))
    print("series: %s, chart: %s" % (os.path.join(out, "series.csv"), os.path.join(out, "soak.svg")))
    return ok and limits_ok


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    data = os.path.join(here, "..", "..", "data")
    p = argparse.ArgumentParser()
    for k in ("exe", "simhost", "rtfeed", "livgen", "fidelity", "chart", "out"):
        p.add_argument("--" + k, required=True)
    p.add_argument("--minutes", type=int, default=30)
    p.add_argument("--tail", type=float, default=45)
    p.add_argument("--aircraft", type=int, default=1000)
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--recording", action="append", default=[])
    p.add_argument("--regdb", action="append", default=[])
    p.add_argument("--centre", default="36.587,-121.843")
    p.add_argument("--range", type=int, default=100)
    p.add_argument("--max-live", type=int, default=500)
    p.add_argument("--strict", action="store_true", help="hold the loop, tick and memory figures to their limits")
    p.add_argument("--ground", action="append", default=[])
    p.add_argument("--set", action="append", default=[])
    p.add_argument("--reference", help="bench_control_loop, run beside the program as the machine's timing")
    a = p.parse_args()
    if not a.recording:
        a.recording = [os.path.join(data, "traffic", n) for n in
                       ("monterey_bay_2025-06-01_hour.rtrec", "lszh_ground_2019_arranged.rtrec")]
    if not a.regdb:
        a.regdb = [os.path.join(data, "registrations", "vrs_standing_data_aircraft.csv")]
    for k in ("exe", "simhost", "rtfeed", "livgen", "fidelity", "chart", "reference"):
        if getattr(a, k):
            setattr(a, k, os.path.abspath(getattr(a, k)))
    sys.exit(0 if run(a) else 1)


if __name__ == "__main__":
    main()
