#!/usr/bin/env python3
"""Checks a demo scene's summary (what scripts/demo.sh prints after the
run) for what the scene is there to show:

  - the park airport's file came from the download server;
  - static aircraft were placed on its stands (--airport, LSZH unless told);
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


def checks(text, arrival, departure, take_off, airport="LSZH", landing="", no_departure=False):
    out = []

    def check(cond, what):
        out.append((bool(cond), what))

    m = re.search(r"^park files downloaded\s+(.*)$", text, re.M)
    check(m and re.search(r"\b%s\.xml \(200\)" % re.escape(airport), m.group(1)),
          "%s's park file downloaded (%s)" % (airport, m and m.group(1)))
    m = re.search(r"Parking summary: (\d+) static aircraft placed at (\w+), stands (\d+) free / (\d+) taken", text)
    check(m and int(m.group(1)) > 0 and m.group(2) == airport,
          "static aircraft placed at %s (%s)" % (airport, m and m.group(1)))
    arrivals = re.findall(r"^live arrival\s+(\S+) parked on (\S+)$", text, re.M)
    if arrival:
        cs, stand = arrival.split("@")
        check((cs, stand) in arrivals, "%s parked on %s (arrivals: %s)" % (cs, stand, arrivals))
    elif landing:
        check(any(cs == landing for cs, _ in arrivals), "%s parked on a stand (arrivals: %s)" % (landing, arrivals))
    else:
        check(arrivals, "a live arrival parked (%s)" % arrivals)
    if landing:
        out.extend(landing_checks(text, landing))
    if not no_departure:
        departures = re.findall(r"^live departure\s+(\S+) (pushed back|pulled out) from (\S+), (.*)$", text, re.M)
        wanted = [d for d in departures if not departure or (d[0], d[2]) == tuple(departure.split("@"))]
        check(wanted, "a live departure left its stand (%s)" % departures)
        if take_off:
            check(any(d[3] == "took off" for d in wanted), "and took off")
    m = re.search(r"teleports (\d+)", text)
    check(m and int(m.group(1)) == 0, "no teleports (%s)" % (m and m.group(1)))
    return out


def landing_checks(text, cs):
    """The landing of cs from the air, as the summary's landing lines tell it."""
    out = []
    m = re.search(r"^live landing\s+%s first traced (-?\d+) ft above ground at \d+ s, descending (-?\d+) ft "
                  r"60 s and (-?\d+) ft 5 s before, touched down at \d+ s$" % re.escape(cs), text, re.M)
    first, before60, before5 = (int(x) for x in m.groups()) if m else (None, None, None)
    out.append((m is not None and first >= 1000, "%s first traced well above the field (%s ft)" % (cs, first)))
    # Airborne and still coming down just before the wheels touched: a flare onto
    # the runway, not an object that was placed on it.
    out.append((m is not None and first > before60 > before5 > 0,
                "%s descending to its touchdown (%s, %s, %s ft)" % (cs, first, before60, before5)))
    m = re.search(r"^landings\s+(\d+) touchdowns, (\d+) rolled out, (\d+) left the runway", text, re.M)
    out.append((m is not None and min(int(x) for x in m.groups()) >= 1,
                "touched down, rolled out and left the runway (%s)" % (m and m.group(0))))
    return out


def main():
    p = argparse.ArgumentParser()
    p.add_argument("summary")
    p.add_argument("--arrival", default="")
    p.add_argument("--departure", default="")
    p.add_argument("--take-off", action="store_true")
    p.add_argument("--no-departure", action="store_true")
    p.add_argument("--airport", default="LSZH")
    p.add_argument("--landing", default="")
    a = p.parse_args()
    results = checks(open(a.summary, encoding="utf-8", errors="replace").read(), a.arrival, a.departure, a.take_off,
                     a.airport, a.landing, a.no_departure)
    for ok, what in results:
        print(("ok   " if ok else "FAIL ") + what)
    sys.exit(0 if all(ok for ok, _ in results) else 1)


if __name__ == "__main__":
    main()
