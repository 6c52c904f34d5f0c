#!/usr/bin/env python3
"""compare_runs.py on made-up runs: what it must tell apart, and what it must
not hold against a run (the order of events, removals at disconnection,
differences below what the trace resolves)."""
import contextlib
import io
import json
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import compare_runs  # noqa: E402

from checks import check, failures, finish  # noqa: E402


def write_run(root, name, creations, removed_by_program=(), plans_refused=0, median=3.0, p95=150.0, teleports=0,
              loop_mean=10.0, exit_reason="USER CLOSED SIM", samples=120, lag_ms=10, lag_median=None, lag_p95=None):
    """creations: (tail, title, refused) in the order they were asked for."""
    d = os.path.join(root, name)
    os.makedirs(d)
    lines = [{"event": "start", "t": 0, "wall": 1.0}, {"event": "connected", "conn": 1, "t": 0.1}]
    objects = {}
    for i, (tail, title, refused) in enumerate(creations):
        r = {"op": "AICreateNonATCAircraft", "tail": tail, "title": title, "t": 1 + i}
        if refused:
            r["exception"] = 22
        else:
            objects[tail] = 3 + i
            r["object"] = 3 + i
        lines.append(r)
    for tail in removed_by_program:
        lines.append({"op": "AIRemoveObject", "object": objects[tail], "t": 50})
    # Objects that go with the connection: removed by the simulator, not the program.
    lines += [{"removed": o, "t": 99} for o in objects.values()]
    lines.append({"op": "AISetAircraftFlightPlan", "object": 3, "path": "C:\\x\\3.pln", "t": 5})
    for _ in range(plans_refused):
        lines.append({"op": "AISetAircraftFlightPlan", "object": 4, "path": "C:\\x\\4.pln", "t": 6, "exception": 23})
    with open(os.path.join(d, "simhost_trace.jsonl"), "w") as f:
        f.write("\n".join(json.dumps(x) for x in lines) + "\n")
    with open(os.path.join(d, "figures.txt"), "w") as f:
        f.write("AI objects             %d created, 0 removed, 3 moved, 3 tied to a reported aircraft\n"
                "distance at due time   median %.1f m, 95th percentile %.1f m, max 300.0 m (%d reports measured, "
                "2 due while their aircraft had no object)\n"
                "best fit behind due    %d ms late: median %.1f m, 95th percentile %.1f m\n"
                "largest position step  20.00 m (300 kt for its time), teleports %d\n" % (
                    len(objects), median, p95, samples, lag_ms, median if lag_median is None else lag_median,
                    p95 if lag_p95 is None else lag_p95, teleports))
    with open(os.path.join(d, "Log.txt"), "w") as f:
        f.write("Control loop period: mean %.2f ms, 99th percentile 12.0 ms, largest 30.0 ms (9000 ticks)\n"
                "Exiting: %s\n" % (loop_mean, exit_reason))
    return d


def failed(runs):
    labels = [r[0] for r in runs]
    with contextlib.redirect_stdout(io.StringIO()):
        return compare_runs.compare(labels, [compare_runs.summarise(r[1]) for r in runs])


with tempfile.TemporaryDirectory() as root:
    base = [("CPA1", "CPA B77W livery", False), ("HDA2", "HDA A320 livery", False), ("UAE3", "nope", True)]
    ref = write_run(root, "linux", base, removed_by_program=["HDA2"])

    # The same aircraft asked for in another order, the same figures within what the trace resolves.
    same = write_run(root, "same", list(reversed(base)), removed_by_program=["HDA2"], median=7.5, p95=160.0,
                     loop_mean=10.9)
    f = failed([("linux", ref), ("same", same)])
    check(f == [], "another order, a median 4.5 m off and a 6.7 %% larger p95 pass (%s)" % f)

    # The same paths flown 90 ms later: far off at the due time, the same once the lag is taken out.
    late = write_run(root, "late", base, removed_by_program=["HDA2"], median=12.0, p95=190.0, lag_ms=100,
                     lag_median=3.5, lag_p95=155.0)
    f = failed([("linux", ref), ("late", late)])
    check(f == [], "90 ms later on the same paths passes (%s)" % f)
    # Closer to the reports than the reference: not held against it.
    better = write_run(root, "better", base, removed_by_program=["HDA2"], median=0.5, p95=120.0)
    f = failed([("linux", ref), ("better", better)])
    check(f == [], "a 20 %% smaller p95 passes (%s)" % f)
    much_later = write_run(root, "much_later", base, removed_by_program=["HDA2"], lag_ms=200)
    f = failed([("linux", ref), ("much_later", much_later)])
    check(any("behind the due time" in x for x in f), "190 ms later than the reference is caught (%s)" % f)

    # Another livery for one aircraft, a removal the reference did not make.
    other = write_run(root, "other", [("CPA1", "CPA B77W livery", False), ("HDA2", "HDA A321 livery", False),
                                      ("UAE3", "nope", True)], removed_by_program=["HDA2", "CPA1"])
    f = failed([("linux", ref), ("other", other)])
    check(any("same livery" in x and "HDA2" in x for x in f), "a different livery is named")
    check(any("same aircraft created" in x for x in f), "created (tail, livery) pairs differ")
    check(any("same aircraft removed" in x and "CPA1" in x for x in f), "the extra removal is named")

    # An aircraft the other run never made.
    fewer = write_run(root, "fewer", base[:1] + base[2:], removed_by_program=[])
    f = failed([("linux", ref), ("fewer", fewer)])
    check(any("same aircraft created" in x and "HDA2" in x for x in f), "a missing aircraft is named")

    # Figures beyond a tenth and beyond the trace's resolution; a slow loop, teleports, a refused plan.
    worse = write_run(root, "worse", base, removed_by_program=["HDA2"], median=9.5, p95=180.0, teleports=2,
                      loop_mean=11.2, plans_refused=1, exit_reason="SIM WAS CLOSED")
    f = failed([("linux", ref), ("worse", worse)])
    for what in ("median at its lag", "p95 at its lag", "no teleports", "control loop period",
                 "every flight plan loaded", "closed by the user"):
        check(any(what in x for x in f), "caught: " + what)
    check(not any("same aircraft" in x for x in f), "nothing held against its aircraft")

    # Too few reports to compare their median and 95th percentile; the rest is still judged.
    few_ref = write_run(root, "few_ref", base, removed_by_program=["HDA2"], samples=9)
    few = write_run(root, "few", base, removed_by_program=["HDA2"], median=11.0, p95=170.0, samples=9, teleports=1)
    f = failed([("linux", few_ref), ("few", few)])
    check(not any("at its lag" in x or "behind the due" in x for x in f), "nine reports: the figures are not compared (%s)" % f)
    check(any("no teleports" in x for x in f), "nine reports: a teleport is still caught")

finish()
