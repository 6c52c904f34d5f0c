#!/usr/bin/env python3
"""soak.py's pieces on made-up input: the program's load line with and
without its optional parts, the fidelity tool's figures, memory growth,
the limits, and the live windows of growing files."""
import json
import os
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import soak  # noqa: E402

from checks import check, failures, finish  # noqa: E402


FULL = ("12:00:01 Load: loop period mean 10.01 ms, 99th percentile 10.6 ms, largest 23.4 ms (5994 ticks); "
        "tick CPU mean 87 us, 99th percentile 410 us, largest 1290 us; tick wall mean 95 us, 99th percentile 430 us, "
        "largest 5210 us; woke late mean 12 us, 99th percentile 40 us, largest 16500 us; frame flush mean 310 us, 99th percentile "
        "900 us, largest 2100 us (1180 frames); queued 0 now, 512 at most in a frame; live 498 active of 1003 "
        "aircraft, 8120 buffered reports")


def test_load_line():
    r = soak.parse_load(FULL)
    check(r is not None and r["period_p99"] == 10.6 and r["period_max"] == 23.4 and r["ticks"] == 5994,
          "the loop period figures are read")
    check(r["cpu_mean"] == 87 and r["flush_p99"] == 900 and r["queued_max"] == 512, "tick and flush figures are read")
    check(r["wall_max"] == 5210 and r["late_p99"] == 40 and r["late_max"] == 16500,
          "the tick's wall time and the wake-up lateness are read")
    check(r["active"] == 498 and r["aircraft"] == 1003 and r["buffered"] == 8120, "live traffic figures are read")
    # Without a simulator link or live traffic the line ends after the tick.
    short = soak.parse_load(FULL.split("; tick wall")[0])
    check(short is not None and "flush_mean" not in short and "active" not in short and short["cpu_p99"] == 410,
          "a line without the other parts still gives the loop and tick")
    check(soak.parse_load("Control loop period: mean 10.00 ms, 99th percentile 10.1 ms, largest 11.0 ms") is None,
          "the end-of-cycle summary is not a load line")


def test_figures_and_limits():
    text = ("objects left alone     0 never taken over, 2 never placed (of 40 that lived 10 s or more)\n"
            "distance at due time   median 12.5 m, 95th percentile 140.0 m, max 900.1 m (300 reports measured, 4 due while their aircraft had no object)\n"
            "largest position step  80.00 m (150 kt for its time, object 7 at 3.0 s), teleports 1\n")
    f = soak.parse_figures(text)
    check(f == {"median": 12.5, "p95": 140.0, "max": 900.1, "teleports": 1, "never_tied": 0, "never_placed": 2,
                "samples": 300}, "the fidelity figures are read: %s" % f)
    rows = [{"minute": m, "rss_kb": kb, "period_p99": 10.4, "period_max": 20, "cpu_mean": 90}
            for m, kb in ((1, 50000), (4, 90000), (5, 100000), (10, 100500), (30, 100900))]
    check(abs(soak.rss_growth(rows) - 0.009) < 1e-9, "growth counts from minute 5, not from the start")
    check(soak.rss_growth(rows[:3]) is None, "no growth figure before a second sample after minute 5")
    rows[-1]["rss_kb"] = 101500
    lines, ok = soak.verdict(rows, dict(f, teleports=0, never_placed=0), strict=True)
    check(not ok and any(l.startswith("FAIL resident memory growth") for l in lines),
          "1.5 % growth fails a strict run")
    lines, ok = soak.verdict(rows, dict(f, teleports=0, never_placed=0), strict=False)
    check(ok and any("not checked in this run" in l for l in lines), "a short run reports the growth but passes")
    lines, ok = soak.verdict(rows, f, strict=False)
    check(not ok, "a teleport or an object never placed fails every run")
    lines, ok = soak.verdict(rows, {}, strict=False)
    check(not ok, "a run without fidelity figures fails")
    lines, ok = soak.verdict(rows, dict(f, teleports=0, never_placed=0, p95=800.0), strict=False)
    check(ok, "a short run shows a ramp-up's fidelity without failing on it")
    lines, ok = soak.verdict(rows[:-1], dict(f, teleports=0, never_placed=0, p95=800.0), strict=True)
    check(not ok and any(l.startswith("FAIL airborne distance 95th") for l in lines),
          "a long run is held to the fidelity limits")
    check(soak.slope([(0, 1000), (100, 1050), (200, 1100)]) == 0.5 and soak.slope([(1, 1), (1, 2), (1, 3)]) is None,
          "slope of memory over reports; none without spread")


def test_tail_and_window():
    with tempfile.TemporaryDirectory() as d:
        sent, trace = os.path.join(d, "sent.txt"), os.path.join(d, "trace.jsonl")
        now = time.time()
        with open(trace, "w") as f:
            f.write(json.dumps({"event": "start", "t": 0, "wall": now - 400}) + "\n")
            f.write(json.dumps({"t": 1, "op": "AICreateNonATCAircraft", "object": 3, "tail": "N101"}) + "\n")
            f.write(json.dumps({"t": 2, "pos": 3, "lat": 1}) + "\n")      # 398 s ago: dropped
            f.write(json.dumps({"t": 390, "pos": 3, "lat": 2}) + "\n")    # 10 s ago: kept
            f.write('{"t": 391, "op": "SetDataOn')                         # half a line
        with open(sent, "w") as f:
            f.write("%.3f\tRTTFC,old\n%.3f\tRTTFC,new\n" % (now - 300, now - 5))
        w = soak.Window(sent, trace)
        w.update()
        ws, wt = w.write(d)
        lines = open(wt).read().splitlines()
        check(len(lines) == 3 and '"start"' in lines[0] and "AICreate" in lines[1] and '"lat": 2' in lines[2],
              "the window keeps the start, the creation and recent positions: %s" % lines)
        check(open(ws).read() == "%.3f\tRTTFC,new\n" % (now - 5) and w.sent_count == 2,
              "old sent lines leave the window but are counted")
        with open(trace, "a") as f:
            f.write('Object", "object": 3}\n')
        check(w.trace.lines() == ['{"t": 391, "op": "SetDataOnObject", "object": 3}'],
              "a line written in two pieces is read once, whole")


def main():
    test_load_line()
    test_figures_and_limits()
    test_tail_and_window()
    finish()


if __name__ == "__main__":
    main()
