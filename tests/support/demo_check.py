#!/usr/bin/env python3
"""Checks the Zurich demo's summary (what scripts/demo.sh prints after the
run) for what the demo is there to show:

  - the park airport's file came from the download server;
  - static aircraft were placed on Zurich's stands;
  - a live arrival parked on a stand ("live arrival  VJT796 parked on F70");
  - a live departure pushed back (or pulled out) from a stand and, with
    --take-off, took off ("live departure  AEE5ZH pushed back from A10, took off");
  - no AI object jumped (teleports 0).

Usage: demo_check.py SUMMARY [--arrival CS@STAND] [--departure CS@STAND] [--take-off]
Prints one ok/FAIL line per check; exit code 1 when any failed.
"""
import argparse
import re
import sys


def checks(text, arrival, departure, take_off):
    out = []

    def check(cond, what):
        out.append((bool(cond), what))

    m = re.search(r"^park files downloaded\s+(.*)$", text, re.M)
    check(m and re.search(r"\bLSZH\.xml \(200\)", m.group(1)), "Zurich's park file downloaded (%s)" % (m and m.group(1)))
    m = re.search(r"Parking summary: (\d+) static aircraft placed at (\w+), stands (\d+) free / (\d+) taken", text)
    check(m and int(m.group(1)) > 0 and m.group(2) == "LSZH", "static aircraft placed at LSZH (%s)" % (m and m.group(1)))
    arrivals = re.findall(r"^live arrival\s+(\S+) parked on (\S+)$", text, re.M)
    if arrival:
        cs, stand = arrival.split("@")
        check((cs, stand) in arrivals, "%s parked on %s (arrivals: %s)" % (cs, stand, arrivals))
    else:
        check(arrivals, "a live arrival parked (%s)" % arrivals)
    departures = re.findall(r"^live departure\s+(\S+) (pushed back|pulled out) from (\S+), (.*)$", text, re.M)
    wanted = [d for d in departures if not departure or (d[0], d[2]) == tuple(departure.split("@"))]
    check(wanted, "a live departure left its stand (%s)" % departures)
    if take_off:
        check(any(d[3] == "took off" for d in wanted), "and took off")
    m = re.search(r"teleports (\d+)", text)
    check(m and int(m.group(1)) == 0, "no teleports (%s)" % (m and m.group(1)))
    return out


def main():
    p = argparse.ArgumentParser()
    p.add_argument("summary")
    p.add_argument("--arrival", default="")
    p.add_argument("--departure", default="")
    p.add_argument("--take-off", action="store_true")
    a = p.parse_args()
    results = checks(open(a.summary, encoding="utf-8", errors="replace").read(), a.arrival, a.departure, a.take_off)
    for ok, what in results:
        print(("ok   " if ok else "FAIL ") + what)
    sys.exit(0 if all(ok for ok, _ in results) else 1)


if __name__ == "__main__":
    main()
