#!/usr/bin/env python3
"""The demo's story lines and checker on made-up runs: the ground story is
read from the log lines and the simulator trace (a departure took off only
when its object left the ground after standing on it; a landing is an object
first traced in the air that then stood on the ground), and the checker
refuses a summary that lacks any of what a scene must show."""
import json
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import demo_check  # noqa: E402
from live_run import ground_story, landing_story  # noqa: E402

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

with tempfile.TemporaryDirectory() as root:
    trace = os.path.join(root, "trace.jsonl")
    boxes = ["22.28,113.88,22.33,113.95,28"]
    with open(trace, "w") as f:
        def pos(obj, tail, t, alt, ground, lon=113.90):
            f.write(json.dumps({"pos": obj, "tail": tail, "t": t, "alt": alt, "on_ground": ground, "lat": 22.31,
                                "lon": lon}) + "\n")
        # CPA676 from 3,528 ft over the airport's ground (28 ft) down onto the runway.
        for t in range(0, 100, 5):
            pos(7, "CPA676", t, 3556 - 36 * t, False)
        pos(7, "CPA676", 100, 34, True)
        pos(7, "CPA676", 101, 34, True)
        # Over the sea (no ground box: 0 ft) the height is the altitude.
        pos(8, "HDA1", 0, 2000, False, lon=113.70)
        pos(8, "HDA1", 70, 30, False, lon=113.70)
        pos(8, "HDA1", 71, 28, True, lon=113.70)
        pos(9, "CPA292", 0, 34, True)  # on the ground all along: a taxiing aircraft, no landing
        pos(9, "CPA292", 1, 34, True)
        pos(10, "SWR5", 0, 34, True)   # a take-off is no landing either
        pos(10, "SWR5", 1, 300, False)
        f.write("not json\n")
    story = landing_story(trace, boxes)
    check(story == ["live landing            CPA676 first traced 3528 ft above ground at 0 s, descending 2088 ft "
                    "60 s and 108 ft 5 s before, touched down at 100 s",
                    "live landing            HDA1 first traced 2000 ft above ground at 0 s, descending 2000 ft "
                    "60 s and 2000 ft 5 s before, touched down at 71 s"], "the landings and their heights (%s)" % story)
    check(landing_story(os.path.join(root, "none.jsonl"), boxes) == [], "without a trace no landing")

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

landing = "\n".join([
    "park files downloaded   VHHH.xml (200)",
    "Parking summary: 76 static aircraft placed at VHHH, stands 85 free / 74 taken, 1 live aircraft parked",
    "live arrival            CPA676 parked on N66",
    "live landing            CPA676 first traced 3398 ft above ground at 37 s, descending 449 ft 60 s and 40 ft "
    "5 s before, touched down at 361 s",
    "largest position step  16.81 m (306 kt for its time, object 81 at 286.8 s), teleports 0",
    "landings               1 touchdowns, 1 rolled out, 1 left the runway, 1 ended removed or standing",
])


def lands(text, **kw):
    args = dict(arrival="", departure="", take_off=False, airport="VHHH", landing="CPA676", no_departure=True)
    args.update(kw)
    return all(ok for ok, _ in demo_check.checks(text, **args))


check(lands(landing), "a landing from the air that parks passes")
check(not passes(landing.replace("VHHH", "LSZH", 1)), "the scene's own airport's park file")
check(not lands(landing, no_departure=False), "without --no-departure a departure is still asked for")
check(not lands(landing, landing="CPA292"), "the landing of the aircraft named")
check(not lands(landing.replace("CPA676 parked on N66", "HDA1 parked on N12")), "the named aircraft must park")
check(not lands(landing.replace("first traced 3398 ft", "first traced 640 ft")), "first seen well above the field")
check(not lands(landing.replace("and 40 ft 5 s", "and 0 ft 5 s")), "still in the air 5 s before touchdown")
check(not lands(landing.replace("descending 449 ft", "descending 20 ft")), "still coming down in its last minute")
check(not lands(landing.replace("descending 449 ft", "descending 3500 ft")), "not climbing before it came down")
check(not lands(landing.replace("1 rolled out", "0 rolled out")), "the trace's roll-out")
check(not lands(landing.replace("1 left the runway", "0 left the runway")), "the trace's runway exit")
check(not lands(landing.replace("teleports 0", "teleports 1")), "no teleports here either")
finish()
