#!/usr/bin/env python3
"""The demo's story lines and checker on made-up runs: the ground story is
read from the log lines and the simulator trace (a departure took off only
when its object left the ground after standing on it), and the checker
refuses a summary that lacks any of what the demo must show."""
import json
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import demo_check  # noqa: E402
from live_run import ground_story  # noqa: E402

from checks import check, failures, finish  # noqa: E402


LOG = """F70     : VJT796   parking, stand taken
F70     : VJT796   arrived at stand
A10     : AEE5ZH   leaves its stand
A10     : AEE5ZH   pushing back
B12     : SWR12    pulling out
"""

with tempfile.TemporaryDirectory() as root:
    trace = os.path.join(root, "trace.jsonl")
    with open(trace, "w") as f:
        for tail, ground in (("AEE5ZH", True), ("AEE5ZH", True), ("AEE5ZH", False), ("SWR12", False),
                             ("SWR12", True)):
            f.write(json.dumps({"pos": 3, "tail": tail, "on_ground": ground, "lat": 47.4, "lon": 8.5}) + "\n")
        f.write('{"event":"create","tail":"AEE5ZH"}\n')
    story = ground_story(LOG, trace)
    check("live arrival            VJT796 parked on F70" in story, "the arrival and its stand")
    check("live departure          AEE5ZH pushed back from A10, took off" in story, "the push-back and the take-off")
    # Airborne before it was ever on the ground is no take-off.
    check("live departure          SWR12 pulled out from B12, did not take off in the run" in story,
          "a pull-out that stays on the ground")
    check(ground_story(LOG, os.path.join(root, "none.jsonl"))[1].endswith("did not take off in the run"),
          "without a trace nothing took off")

good = "\n".join([
    "park files downloaded   LSZH.xml (200)",
    "Parking summary: 62 static aircraft placed at LSZH, stands 206 free / 63 taken, 2 live aircraft parked",
    "live arrival            VJT796 parked on F70",
    "live departure          AEE5ZH pushed back from A10, took off",
    "largest position step  3.10 m (40 kt for its time, object 9 at 12.0 s), teleports 0",
])


def passes(text, **kw):
    args = dict(arrival="VJT796@F70", departure="AEE5ZH@A10", take_off=True)
    args.update(kw)
    return all(ok for ok, _ in demo_check.checks(text, **args))


check(passes(good), "a full demo passes")
check(not passes(good.replace("LSZH.xml (200)", "none")), "the park file must have been downloaded")
check(not passes(good.replace("(200)", "(404)")), "a failed download is no download")
check(not passes(good.replace("62 static", "0 static")), "static aircraft must be placed")
check(not passes(good.replace("on F70", "on F71")), "the arrival on its own stand")
check(not passes(good.replace(", took off", ", did not take off in the run")), "the departure must take off")
check(passes(good.replace(", took off", ", did not take off in the run"), take_off=False),
      "a short run without the take-off")
check(not passes(good.replace("teleports 0", "teleports 2")), "no teleports")
finish()
