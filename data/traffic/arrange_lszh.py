#!/usr/bin/env python3
"""Arranges the Zurich ground movements (one flight a day, Oct-Nov 2019) into
one window for the demo: each flight keeps its own track and pace, only its
start is moved (flight k starts 40 s x k after the first), arrivals are cut to
begin three minutes before their touchdown, and one report in two seconds is
kept. Input: the recording `rtfeed convert --format opensky` writes (with the
registration data filled in); output: the arranged recording.

Usage: arrange_lszh.py <converted.rtrec> <arranged.rtrec>"""
import math
import sys
from collections import defaultdict

HEADER = "# time,hex,lat,lon,alt,vs,track,gs,callsign,type,registration,origin,destination,tas,roll,heading,category,ground"


def knots(a, b, seconds):
    """Ground speed between two reports from their positions."""
    la1, lo1, la2, lo2 = (math.radians(float(x)) for x in (a[2], a[3], b[2], b[3]))
    h = math.sin((la2 - la1) / 2) ** 2 + math.cos(la1) * math.cos(la2) * math.sin((lo2 - lo1) / 2) ** 2
    nm = 2 * 3437.7467707849 * math.asin(math.sqrt(h))
    return nm / seconds * 3600


def main(src, dst):
    flights = defaultdict(list)
    for line in open(src):
        if line.startswith("#") or not line.strip():
            continue
        f = line.rstrip("\n").split(",")
        flights[f[1]].append(f)
    out = []
    order = 0
    for hexid in sorted(flights, key=lambda h: flights[h][0][0]):
        rows = sorted(flights[hexid], key=lambda f: float(f[0]))
        if not rows[0][9]:
            continue  # no type known: the program would not show it
        touchdown = next((i for i, f in enumerate(rows) if f[17] == "1"), None)
        if rows[0][17] == "0" and touchdown is not None:
            t0 = float(rows[touchdown][0]) - 180
            rows = [f for f in rows if float(f[0]) >= t0]
        start = float(rows[0][0])
        last = None
        kept = []
        for f in rows:
            t = float(f[0]) - start + 40 * order
            if last is not None and t - last < 2:
                continue
            last = t
            kept.append((t, list(f)))
        kept = [k for i, k in enumerate(kept)
                if not (k[1][17] == "0" and 0 < i < len(kept) - 1 and kept[i - 1][1][17] == "1" and kept[i + 1][1][17] == "1")]
        times = [t for t, _ in kept]
        for i, (t, f) in enumerate(kept):
            if f[17] == "1":
                a = next(j for j in range(i, -1, -1) if j == 0 or times[j] <= t - 10)
                b = next(j for j in range(i, len(kept)) if j == len(kept) - 1 or times[j] >= t + 10)
                f[7] = "%.1f" % (knots(kept[a][1], kept[b][1], times[b] - times[a]) if times[b] > times[a] else 0.0)
            out.append((t, f))
        order += 1
    out.sort(key=lambda x: x[0])
    with open(dst, "w") as o:
        o.write("# Zurich (LSZH) ground movements of Oct-Nov 2019 (OpenSky Network), one window, see PROVENANCE.md\n")
        o.write(HEADER + "\n")
        for t, f in out:
            o.write(",".join(["%d" % (1700000000 + t)] + f[1:]) + "\n")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
